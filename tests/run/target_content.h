#pragma once

// What a whole run leaves, for tests that compare runs: every table's rows, the letter store's
// files, and the log with what differs from one run to the next (stamps, folders) put aside.

#include "run/import_session.h"
#include "tests/run/run_fixture.h"
#include "tests/support/recording_ui.h"
#include "tests/support/target_databases.h"
#include "tools/sample_practice/sample_practice.h"

#include <QCryptographicHash>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QRegularExpression>

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

// Two runs differ only in the stamps of their lines and in the folders of their targets.
inline QStringList withoutStamps(QStringList lines, const TestTarget& target)
{
    static const QRegularExpression stamp(QStringLiteral(R"(^\d\d/\d\d/\d{4} \d\d:\d\d:\d\d)"));
    static const QRegularExpression storeStamp(QStringLiteral(R"(LETTERS\.avant [^\]]+)"));
    for (QString& line : lines) {
        line.replace(stamp, QStringLiteral("<horodatage>"));
        line.replace(QDir::toNativeSeparators(target.folder), QStringLiteral("<cible>/"));
        line.replace(storeStamp, QStringLiteral("LETTERS.avant <horodatage>"));
    }
    return lines;
}

// What a whole run, every stage ticked, logs; and the rows and counters its report finds.
struct RunRecord {
    QStringList log;
    QMap<QString, qint64> rowsAfter;
    QMap<QString, qint64> countersAfter;
};

inline RunRecord importInto(const TestTarget& target, const QString& v4Path, const QString& lettersFolder,
                            CommitMode mode, bool purge)
{
    RecordingUi ui;
    ui.setAllTicked(true);
    ui.setTicked(Box::Vider, purge);
    ui.setElapsedText("12 s");
    ImportSession session(ui, target.engine);
    session.setCommitMode(mode);
    session.lettersFolderChosen(lettersFolder);
    EXPECT_TRUE(session.targetChosen(target.folder + "Kelvanor.ver"));
    session.sourceBaseChosen(v4Path);
    EXPECT_TRUE(session.ButtonExecuterClick());
    session.closeConnections();
    const TargetSnapshot after = session.lastRunReport().after;
    EXPECT_TRUE(after.taken);
    return {withoutStamps(ui.logLines(), target), after.tableRows, after.lastValues};
}

// Whole runs of a generated practice, written in a temporary folder whose logs/ the runs write
// their log files into.
class SamplePracticeRunTest : public RunOnEngineTest {
protected:
    explicit SamplePracticeRunTest(SamplePracticeOptions options) : options_(options) {}

    void SetUp() override
    {
        RunOnEngineTest::SetUp();
        if (HasFatalFailure() || IsSkipped())
            return;
        ASSERT_TRUE(folder.isValid());
        QDir(folder.path()).mkpath("logs");
        qputenv("P1IMPORT_LOG_FOLDER", folder.filePath("logs").toUtf8());
        practice = writeSamplePractice(folder.filePath("source"), options_);
    }
    void TearDown() override { qunsetenv("P1IMPORT_LOG_FOLDER"); }

    // A target of the test's engine with its settings files.
    TestTarget newTarget() const
    {
        const TestTarget target = makeTarget(GetParam());
        writeTargetSettings(target);
        return target;
    }

    RunRecord importInto(const TestTarget& target, CommitMode mode, bool purge)
    {
        return test::importInto(target, practice.v4Path, practice.lettersFolder, mode, purge);
    }

    QTemporaryDir folder;
    SamplePractice practice;

private:
    SamplePracticeOptions options_;
};

} // namespace p1::test
