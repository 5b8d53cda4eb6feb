// The program as the operator runs it, in a process of its own, stopped mid-run: by SIGINT
// (Ctrl+C), SIGTERM or SIGHUP it stops at the next row boundary and keeps its records; killed
// (SIGKILL), it leaves its journal, which the next run and the next check name. The run is made to
// wait at a known row (P1_TEST_PAUSE_AT_ROW) so that the signal always comes at the same place.
#include "common/file_writing.h"
#include "common/log_journal.h"
#include "common/text_encoding.h"
#include "dbaccess/target_settings.h"
#include "tests/cli/command_line_runner.h"
#include "tests/run/run_record.h"
#include "tests/support/qt_printers.h"
#include "tests/support/recording_ui.h"
#include "tools/sample_practice/sample_practice.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QSqlQuery>
#include <QThread>

#include <csignal>
#include <optional>

#include <signal.h>

namespace p1 {
namespace {

const QString pauseMarker = QStringLiteral("P1_TEST_PAUSE_AT_ROW");
// The prescriptions stage waits before its fifth row: four are walked, in one group not yet
// committed (a group lasts a second).
const QString pauseAt = QStringLiteral("prescriptions:5");

// p1import in a child process that waits at the given row, until it is sent a signal.
class PausedProgram {
public:
    PausedProgram(const QStringList& arguments, const QString& logs)
    {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("P1IMPORT_LOG_FOLDER"), logs);
        environment.insert(pauseMarker, pauseAt);
        process_.setProcessEnvironment(environment);
        process_.setProgram(QStringLiteral(P1_BINARY_DIR "/p1import"));
        process_.setArguments(arguments);
        process_.setReadChannel(QProcess::StandardError);
        process_.start();
    }
    ~PausedProgram()
    {
        if (process_.state() != QProcess::NotRunning) {
            process_.kill();
            process_.waitForFinished(10'000);
        }
    }

    // True once the run waits at its row.
    bool waitForPause()
    {
        QElapsedTimer waited;
        waited.start();
        while (!err_.contains(pauseMarker) && waited.elapsed() < 120'000) {
            if (!process_.waitForReadyRead(1000) && process_.state() == QProcess::NotRunning)
                break;
            err_ += QString::fromUtf8(process_.readAllStandardError());
        }
        return err_.contains(pauseMarker);
    }

    void send(int signal) { ::kill(pid_t(process_.processId()), signal); }

    // Waits for the end of the process; false when it did not end in time.
    bool finish()
    {
        const bool ended = process_.waitForFinished(120'000);
        out_ += QString::fromUtf8(process_.readAllStandardOutput());
        err_ += QString::fromUtf8(process_.readAllStandardError());
        return ended;
    }

    QProcess::ExitStatus exitStatus() const { return process_.exitStatus(); }
    int exitCode() const { return process_.exitCode(); }
    // The log lines it printed.
    QStringList lines() const
    {
        QStringList lines = out_.split(u'\n');
        if (!lines.isEmpty() && lines.last().isEmpty())
            lines.removeLast();
        return lines;
    }
    const QString& err() const { return err_; }

private:
    QProcess process_;
    QString out_;
    QString err_;
};

QByteArray readBytes(const QString& path)
{
    QFile file(path);
    EXPECT_TRUE(file.open(QIODevice::ReadOnly)) << path.toStdString();
    return file.readAll();
}

QStringList linesOf(const QByteArray& windows1252)
{
    QStringList lines = fromWindows1252(windows1252).split(QStringLiteral("\r\n"));
    if (!lines.isEmpty() && lines.last().isEmpty())
        lines.removeLast();
    return lines;
}

QJsonObject stageNamed(const QJsonObject& report, const QString& stage)
{
    for (const QJsonValue& entry : report["etapes"].toArray())
        if (entry["etape"].toString() == stage)
            return entry.toObject();
    return {};
}

QJsonObject tableNamed(const QJsonObject& report, const QString& table)
{
    for (const QJsonValue& entry : report["tables"].toArray())
        if (entry["table"].toString() == table)
            return entry.toObject();
    return {};
}

class StoppedProgramTest : public test::PracticeRunTest {
protected:
    void SetUp() override
    {
        PracticeRunTest::SetUp();
        if (HasFatalFailure() || IsSkipped())
            return;
        logs = folder.filePath("logs") + '/';
        writePractice({.patients = 30});
        targetFolder = folder.filePath("cible") + '/';
        QStringList initialisation{"--init-target", targetFolder};
        if (GetParam() == TargetEngine::Postgres) {
            database = test::makePostgresTarget(false);
            initialisation = test::postgresInitArguments(targetFolder, *database);
        }
        const test::CommandLineOutcome made = test::runCommandLineWith(initialisation);
        ASSERT_EQ(made.status, 0) << made.err.toStdString();
    }

    QStringList importArguments(const QStringList& extra = {}) const
    {
        return QStringList{"--source", practice.v4Path, "--letters", practice.lettersFolder, "--target",
                           targetFolder, "--yes", "--target-engine",
                           GetParam() == TargetEngine::Postgres ? "postgres" : "sqlite"}
               + extra;
    }

    QStringList filesNamed(const QString& pattern) const
    {
        return QDir(logs).entryList({pattern}, QDir::Files, QDir::Name);
    }

    // The target as the program opens it, from its Kelvanor.ver.
    std::unique_ptr<TargetConnection> target() const
    {
        auto connection = std::make_unique<TargetConnection>(GetParam());
        RecordingUi ui;
        EXPECT_TRUE(openTargetConnection(*connection, ui, targetFolder));
        return connection;
    }

    // The server ends the session of a killed program once it sees its socket closed: a moment.
    void waitForTheKilledSessionToEnd() const
    {
        if (!database)
            return;
        const auto connection = target();
        QElapsedTimer waited;
        waited.start();
        for (;;) {
            QSqlQuery others(connection->database());
            ASSERT_TRUE(others.exec("SELECT COUNT(*) FROM pg_stat_activity WHERE datname = current_database() "
                                    "AND pid <> pg_backend_pid() AND backend_type = 'client backend'"));
            ASSERT_TRUE(others.next());
            if (others.value(0).toInt() == 0)
                return;
            ASSERT_LT(waited.elapsed(), 20'000) << "la session du programme tué est restée ouverte";
            QThread::msleep(50);
        }
    }

    QString logs;
    QString targetFolder;
    std::optional<test::TestTarget> database;
};

TEST_P(StoppedProgramTest, ASignalStopsTheRunAtARowAndItKeepsItsRecords)
{
    const struct {
        int signal;
        const char* name;
    } cases[] = {{SIGINT, "SIGINT"}, {SIGTERM, "SIGTERM"}, {SIGHUP, "SIGHUP"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const QStringList logsBefore = filesNamed("*.log");
        const QString reportPath = logs + "rapport-" + c.name + ".json";
        PausedProgram program(importArguments({"--report", reportPath}), logs);
        ASSERT_TRUE(program.waitForPause()) << program.err().toStdString();

        program.send(c.signal);
        ASSERT_TRUE(program.finish());

        ASSERT_EQ(program.exitStatus(), QProcess::NormalExit) << program.err().toStdString();
        EXPECT_EQ(program.exitCode(), 1) << program.err().toStdString();
        const QString lastLine = program.lines().value(program.lines().size() - 1);
        EXPECT_TRUE(lastLine.startsWith("Traitement interrompu : ")) << lastLine.toStdString();
        EXPECT_TRUE(lastLine.contains(QStringLiteral("(signal ") + c.name) || lastLine.contains(QStringLiteral(", signal ") + c.name))
            << lastLine.toStdString();

        // The log file, its report beside it, and no journal: the log took its place.
        QStringList newLogs = filesNamed("*.log");
        for (const QString& before : logsBefore)
            newLogs.removeOne(before);
        ASSERT_EQ(newLogs.size(), 1);
        const QByteArray log = readBytes(logs + newLogs[0]);
        EXPECT_EQ(log, windows1252Lines(program.lines()));
        EXPECT_EQ(linesOf(log).last(), lastLine);
        EXPECT_TRUE(QFile::exists(logs + QString(newLogs[0]).replace(".log", ".html")));
        EXPECT_EQ(filesNamed("*" + journalExtension), QStringList());

        // The report: the stages before are whole, the stopped one holds its first four rows, and
        // every row counted as stored is in the target.
        QFile reportFile(reportPath);
        ASSERT_TRUE(reportFile.open(QIODevice::ReadOnly));
        const QJsonObject report = QJsonDocument::fromJson(reportFile.readAll()).object();
        EXPECT_FALSE(report["termine"].toBool());
        EXPECT_TRUE(report["raison_arret"].toString().contains(c.name));
        EXPECT_TRUE(report["equilibre"].toBool());
        const QJsonObject prescriptions = stageNamed(report, "prescriptions");
        EXPECT_EQ(prescriptions["lues"].toInt(), 4);
        for (const char* whole : {"medecins", "patients", "consultations", "courriers"}) {
            const QJsonObject stage = stageNamed(report, whole);
            EXPECT_EQ(stage["lues"].toInt(), stage["lignes_source"].toInt()) << whole;
            EXPECT_GT(stage["lues"].toInt(), 0) << whole;
        }
        const auto connection = target();
        EXPECT_EQ(test::countRows(*connection, "DATAPRESCR"), prescriptions["creees"].toInt());
        EXPECT_GT(prescriptions["creees"].toInt(), 0);
        EXPECT_EQ(test::countRows(*connection, "LETTERS"), stageNamed(report, "courriers")["creees"].toInt());
        EXPECT_EQ(tableNamed(report, "DATAPRESCR")["apres"].toInt(), prescriptions["creees"].toInt());

        // The claim went with the run.
        EXPECT_EQ(QDir(targetFolder).entryList({"*.p1import-lock"}, QDir::Files | QDir::Hidden), QStringList());
    }

    // A second run is accepted, and goes to its end.
    const test::CommandLineOutcome again = test::runCommandLineWith(importArguments());
    EXPECT_NE(again.status, 1) << again.err.toStdString();
    EXPECT_TRUE(again.out.contains("Traitement terminé. Durée : ")) << again.out.toStdString();
}

TEST_P(StoppedProgramTest, AKilledRunLeavesItsJournalWhichTheNextCheckAndRunName)
{
    PausedProgram program(importArguments(), logs);
    ASSERT_TRUE(program.waitForPause()) << program.err().toStdString();

    program.send(SIGKILL);
    ASSERT_TRUE(program.finish());

    ASSERT_EQ(program.exitStatus(), QProcess::CrashExit);
    EXPECT_EQ(filesNamed("*.log"), QStringList());
    const QStringList journals = filesNamed("*" + journalExtension);
    ASSERT_EQ(journals.size(), 1);
    const QString journal = logs + journals[0];
    // Every line up to the last commit, the letters stage's end, in the log file's own form: what
    // the run had shown, its lines of rows not committed being held until their commit.
    const QByteArray kept = readBytes(journal);
    EXPECT_EQ(kept, windows1252Lines(program.lines()));
    EXPECT_TRUE(QRegularExpression("^\\d+ courriers? créés?$").match(linesOf(kept).value(linesOf(kept).size() - 1)).hasMatch())
        << kept.toStdString();
    EXPECT_TRUE(linesOf(kept).contains("Purge des données terminée."));

    waitForTheKilledSessionToEnd();
    const QString named = "Une importation précédente a été interrompue : son journal est [" + journal + "].";
    const test::CommandLineOutcome check = test::runCommandLineWith(importArguments({"--check"}));
    EXPECT_NE(check.status, 1) << check.err.toStdString();
    EXPECT_TRUE(check.out.startsWith(named + "\n")) << check.out.toStdString();

    const test::CommandLineOutcome run = test::runCommandLineWith(importArguments());
    EXPECT_NE(run.status, 1) << run.err.toStdString();
    EXPECT_TRUE(run.out.startsWith(named + "\n")) << run.out.toStdString();
    EXPECT_TRUE(run.out.contains("Traitement terminé. Durée : "));

    // Named, never removed; the run that named it left its own log, and no journal of its own.
    EXPECT_EQ(filesNamed("*" + journalExtension), journals);
    EXPECT_EQ(readBytes(journal), kept);
    const QStringList logFiles = filesNamed("*.log");
    ASSERT_EQ(logFiles.size(), 1);
    QStringList printed = run.out.split(u'\n');
    printed.removeLast();
    EXPECT_EQ(readBytes(logs + logFiles[0]), windows1252Lines(printed));
}

INSTANTIATE_TEST_SUITE_P(Engines, StoppedProgramTest, test::testEngines(), test::engineTestName);

} // namespace
} // namespace p1
