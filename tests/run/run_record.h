#pragma once

// Everything a whole run leaves, for tests that compare runs: the target's rows, the letter
// store, the log lines (stamps left out), the dialogs, the report (times left out) and the exit
// status the command line would give.

#include "common/errors.h"
#include "common/files.h"
#include "run/import_session.h"
#include "run/run_report.h"
#include "tests/run/run_fixture.h"
#include "tests/support/recording_ui.h"
#include "tests/support/target_databases.h"
#include "tools/sample_practice/sample_practice.h"

#include <gtest/gtest.h>

#include <QCryptographicHash>
#include <QDirIterator>
#include <QFile>
#include <QRegularExpression>

#include <optional>

namespace p1::test {

// Every table's rows as texts, sorted within their table: the order of rows does not count.
using TargetContent = QMap<QString, QStringList>;

inline TargetContent contentOf(const TestTarget& target)
{
    const auto connection = connectTo(target);
    TargetContent content;
    for (const QString& table : connection->tableAndViewNames()) {
        QStringList rows;
        for (const TableRow& row : readTable(*connection, table)) {
            QStringList values;
            for (auto column = row.begin(); column != row.end(); ++column)
                values.append(column.key() + '=' + (column->isNull() ? QStringLiteral("NULL") : column->asText()));
            rows.append(values.join(u'|'));
        }
        rows.sort();
        content.insert(table.toUpper(), rows);
    }
    return content;
}

// The files of the letter store, each with its size and a hash of its content.
inline QStringList letterFilesOf(const TestTarget& target)
{
    QStringList letterFiles;
    const QDir store(target.folder + "LETTERS");
    QDirIterator files(store.path(), QDir::Files, QDirIterator::Subdirectories);
    while (files.hasNext()) {
        files.next();
        QFile file(files.filePath());
        const QByteArray content = file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<illisible>");
        letterFiles.append(store.relativeFilePath(files.filePath()) + ' ' + QString::number(content.size()) + ' '
                           + QCryptographicHash::hash(content, QCryptographicHash::Sha1).toHex());
    }
    letterFiles.sort();
    return letterFiles;
}

// Two runs differ only in the stamps of their lines, the letter store's name when set aside
// included.
inline QStringList withoutStamps(QStringList lines)
{
    static const QRegularExpression stamp(QStringLiteral(R"(^\d\d/\d\d/\d{4} \d\d:\d\d:\d\d)"));
    static const QRegularExpression storeStamp(QStringLiteral(R"(LETTERS\.avant [^\]]+)"));
    for (QString& line : lines)
        line.replace(stamp, QStringLiteral("<horodatage>")).replace(storeStamp, QStringLiteral("LETTERS.avant <horodatage>"));
    return lines;
}

// What the report counts, one text a line, without its times.
inline QStringList reportLines(const RunReport& report)
{
    QStringList lines{QStringLiteral("ended %1 balanced %2 stop [%3]")
                          .arg(report.ended)
                          .arg(report.balanced())
                          .arg(report.stopReason)};
    for (const StageCounts& stage : report.stages) {
        lines.append(QStringLiteral("%1 read %2 skipped %3 stored %4 merged %5 refused %6 failures %7")
                         .arg(stage.stage)
                         .arg(stage.read)
                         .arg(stage.skipped)
                         .arg(stage.stored)
                         .arg(stage.merged)
                         .arg(stage.refused)
                         .arg(stage.failures));
        for (const FailureRecord& failure : stage.failureLines)
            lines.append("  " + failure.sourceCode + failure.wording + " / " + failure.message);
        for (const ChangedValue& changed : stage.changedValues)
            lines.append("  " + changed.sourceCode + ' ' + changed.column + ' ' + changed.storedValue);
    }
    const LetterCounts& letters = report.letters;
    lines.append(QStringLiteral("letters %1 %2 %3 %4")
                     .arg(letters.filesCopied)
                     .arg(letters.bytesCopied)
                     .arg(letters.filesMissing)
                     .arg(letters.namesRefused));
    for (const auto* snapshot : {&report.before, &report.after}) {
        for (auto table = snapshot->tableRows.begin(); table != snapshot->tableRows.end(); ++table)
            lines.append(QStringLiteral("rows %1 %2").arg(table.key()).arg(table.value()));
        for (auto key = snapshot->lastValues.begin(); key != snapshot->lastValues.end(); ++key)
            lines.append(QStringLiteral("counter %1 %2").arg(key.key()).arg(key.value()));
    }
    return lines;
}

// The exit status of the command line for the same run (cli/command_line.cpp).
inline int exitStatusOf(const RunReport& report, bool ended)
{
    if (!report.balanced())
        return 3;
    if (!ended)
        return 1;
    for (const StageCounts& stage : report.stages)
        if (stage.refused != 0 || stage.failures != 0)
            return 3;
    return 0;
}

struct RunRecord {
    // The statements counted when the purge began and when the end line was written: before and
    // after them, the run reads the target for its report.
    qint64 statementsAtPurge = -1;
    qint64 statementsAtEndLine = -1;
    // Between them, the report's reads of the target as the purge left it.
    qint64 statementsAtPurgeEnd = -1;
    qint64 statementsAtFirstStage = -1;
    bool ended = false;
    QString escaped; // the error that escaped the run, as the standard dialog shows it
    int exitStatus = 0;
    QStringList log;
    QList<RecordingUi::Dialog> dialogs;
    RunReport report;
    QStringList reportLines;
    TargetContent content;
    QStringList letterFiles;
};

// How a run is made to fail: its statement numbered `statement` (counted from the run's start),
// or its copies of letter files named `letterCopy`.
struct RunFault {
    static RunFault onStatement(qint64 statement, StatementFault kind = StatementFault::Refused)
    {
        RunFault fault;
        fault.statement = statement;
        fault.kind = kind;
        return fault;
    }
    static RunFault onLetterCopy(const QString& fileName, CopyFault kind)
    {
        RunFault fault;
        fault.letterCopy = fileName;
        fault.copyKind = kind;
        return fault;
    }

    std::optional<qint64> statement;
    StatementFault kind = StatementFault::Refused;
    QString letterCopy;
    CopyFault copyKind = CopyFault::NameTaken;
};

// Notes where the run stands in its statements when its purge begins and its end line is written.
class StatementsNotingUi : public RecordingUi {
public:
    void setStatus(const QString& text) override
    {
        RecordingUi::setStatus(text);
        if (target && text == QStringLiteral("Récupération des tables de la base Tessaris..."))
            statementsAtPurge = target->statementsCounted();
        if (target && statementsAtFirstStage < 0 && text.startsWith(QStringLiteral("Importation des")))
            statementsAtFirstStage = target->statementsCounted();
    }
    void addPanelLine(const QString& line) override
    {
        RecordingUi::addPanelLine(line);
        if (target && line.startsWith(QStringLiteral("Traitement terminé.")))
            statementsAtEndLine = target->statementsCounted();
        if (target && line == QStringLiteral("Purge des données terminée."))
            statementsAtPurgeEnd = target->statementsCounted();
    }

    const TargetConnection* target = nullptr;
    qint64 statementsAtPurge = -1;
    qint64 statementsAtEndLine = -1;
    qint64 statementsAtPurgeEnd = -1;
    qint64 statementsAtFirstStage = -1;
};

// Texts naming the target's folder, which each test target has of its own, name it alike.
inline QString withTargetFolder(QString text, const TestTarget& target)
{
    return text.replace(target.folder, QStringLiteral("<cible>/"));
}

inline QStringList withTargetFolder(QStringList texts, const TestTarget& target)
{
    for (QString& text : texts)
        text = withTargetFolder(text, target);
    return texts;
}

// A whole run of every stage into the target, purged first or not.
inline RunRecord recordRun(const TestTarget& target, const SamplePractice& practice, CommitMode mode,
                           bool purge, const RunFault& fault = {}, qint64* statementsCounted = nullptr,
                           QSet<QString>* statementTexts = nullptr)
{
    StatementsNotingUi ui;
    ui.setAllTicked(true);
    ui.setTicked(Box::Vider, purge);
    ui.setElapsedText("12 s");
    RunRecord record;
    {
        ImportSession session(ui, target.engine);
        session.ADOConnectionTessaris.setOdbcDriver(target.odbcDriver);
        session.setCommitMode(mode);
        session.lettersFolderChosen(practice.lettersFolder);
        EXPECT_TRUE(session.targetChosen(target.folder + "Kelvanor.ver"));
        session.sourceBaseChosen(practice.v4Path);
        session.ADOConnectionTessaris.failStatement(fault.statement, fault.kind);
        session.ADOConnectionTessaris.recordStatementTexts(statementTexts);
        ui.target = &session.ADOConnectionTessaris;
        failCopiesNamed(fault.letterCopy, fault.copyKind);
        try {
            record.ended = session.ButtonExecuterClick();
        } catch (const std::exception& error) {
            record.escaped = errorMessage(error);
        }
        failCopiesNamed(QString());
        EXPECT_EQ(session.ADOConnectionTessaris.unit().throughOdbc(), !target.odbcDriver.isEmpty());
        if (statementsCounted)
            *statementsCounted = session.ADOConnectionTessaris.statementsCounted();
        session.ADOConnectionTessaris.failStatement(std::nullopt);
        session.ADOConnectionTessaris.recordStatementTexts(nullptr);
        ui.target = nullptr;
        session.closeConnections();
        record.report = session.lastRunReport();
    }
    record.statementsAtPurge = ui.statementsAtPurge;
    record.statementsAtPurgeEnd = ui.statementsAtPurgeEnd;
    record.statementsAtFirstStage = ui.statementsAtFirstStage;
    record.statementsAtEndLine = ui.statementsAtEndLine;
    record.escaped = withTargetFolder(record.escaped, target);
    record.exitStatus = exitStatusOf(record.report, record.ended);
    record.log = withTargetFolder(withoutStamps(ui.logLines()), target);
    record.dialogs = ui.dialogs();
    for (RecordingUi::Dialog& dialog : record.dialogs)
        dialog.text = withTargetFolder(dialog.text, target);
    record.reportLines = withTargetFolder(reportLines(record.report), target);
    record.content = contentOf(target);
    record.letterFiles = letterFilesOf(target);
    return record;
}

// A test of whole runs on each engine over a generated practice, with a log folder of its own.
class PracticeRunTest : public RunOnEngineTest {
protected:
    void SetUp() override
    {
        RunOnEngineTest::SetUp();
        if (HasFatalFailure() || IsSkipped())
            return;
        ASSERT_TRUE(folder.isValid());
        QDir(folder.path()).mkpath("logs");
        qputenv("P1IMPORT_LOG_FOLDER", folder.filePath("logs").toUtf8());
    }
    void TearDown() override { qunsetenv("P1IMPORT_LOG_FOLDER"); }

    void writePractice(const SamplePracticeOptions& options)
    {
        practice = writeSamplePractice(folder.filePath("source"), options);
    }

    // A target of the test's engine with its settings files.
    TestTarget newTarget() const
    {
        const TestTarget target = makeTarget(GetParam());
        writeTargetSettings(target);
        return target;
    }

    QTemporaryDir folder;
    SamplePractice practice;
};

} // namespace p1::test
