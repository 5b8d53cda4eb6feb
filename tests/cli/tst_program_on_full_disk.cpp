// The program as the operator starts it, in a process of its own whose files cannot grow past a
// size, as on a full disk: a file it cannot write whole is an error, and no name is left on an
// empty or cut file.
#include "tests/cli/command_line_runner.h"
#include "tests/run/run_fixture.h"
#include "tests/support/qt_printers.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QSqlQuery>

#include <sys/resource.h>

#include <csignal>

namespace p1 {
namespace {

struct ProgramOutcome {
    int status = -1;
    QString out;
    QString err;
};

// The writes that would take a file past the limit are cut short, as ENOSPC cuts them, instead
// of killing the process.
ProgramOutcome runProgramWithFilesUpTo(qint64 bytes, const QStringList& arguments)
{
    QProcess program;
    program.setProgram(QStringLiteral(P1_BINARY_DIR "/p1import"));
    program.setArguments(arguments);
    program.setChildProcessModifier([bytes] {
        std::signal(SIGXFSZ, SIG_IGN);
        const rlimit limit{rlim_t(bytes), rlim_t(bytes)};
        setrlimit(RLIMIT_FSIZE, &limit);
    });
    program.start();
    EXPECT_TRUE(program.waitForFinished(120'000));
    EXPECT_EQ(program.exitStatus(), QProcess::NormalExit);
    return {program.exitCode(), QString::fromUtf8(program.readAllStandardOutput()),
            QString::fromUtf8(program.readAllStandardError())};
}

QStringList entriesOf(const QString& folder)
{
    return QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
}

class ProgramOnFullDiskTest : public test::RunOnEngineTest {
protected:
    // Every insert into MEDECINS refused with the message.
    void refuseEveryUser(const test::TestTarget& target, const QString& message)
    {
        auto connection = test::connectTo(target);
        QSqlQuery trigger(connection->database());
        const bool made =
            GetParam() == TargetEngine::Sqlite
                ? trigger.exec("CREATE TRIGGER refuse_users BEFORE INSERT ON MEDECINS BEGIN SELECT RAISE(ABORT, '"
                               + message + "'); END")
                : trigger.exec("CREATE FUNCTION refuse_users() RETURNS trigger AS $$ BEGIN RAISE EXCEPTION '" + message
                               + "'; END $$ LANGUAGE plpgsql")
                      && trigger.exec("CREATE TRIGGER refuse_users BEFORE INSERT ON MEDECINS FOR EACH ROW EXECUTE "
                                      "FUNCTION refuse_users()");
        ASSERT_TRUE(made) << trigger.lastError().text().toStdString();
    }
};

// The log and the reports outgrow the limit while the target's files do not grow. A server's
// files are not on this disk: a few short lines meet the limit, as they meet a disk that is full.
// A SQLite target's files are, so there the records are longer than the limit it needs.
TEST_P(ProgramOnFullDiskTest, ARunWhoseRecordsCannotBeWrittenFailsAndLeavesNoCutFile)
{
    const bool sqlite = GetParam() == TargetEngine::Sqlite;
    QList<test::SourceUser> users;
    for (int code = 1; code <= (sqlite ? 300 : 3); ++code)
        users.append({code, QStringLiteral("Medecin%1").arg(code)});
    test::Practice practice(GetParam(), {users});
    const QString refusal(sqlite ? 2000 : 100, u'r');
    refuseEveryUser(practice.target, refusal);
    const qint64 database = QFileInfo(practice.target.folder + practice.target.databaseName).size();
    // Above the database, and the 32 KiB index SQLite keeps beside its log.
    const qint64 limit = sqlite ? std::max<qint64>(database, 32 * 1024) + 64 * 1024 : 256;
    ASSERT_LT(limit, users.size() * refusal.size() * 2);

    const ProgramOutcome outcome = runProgramWithFilesUpTo(
        limit, {"--source", practice.source, "--letters", practice.letters, "--target", practice.target.folder,
                "--target-engine", sqlite ? "sqlite" : "postgres", "--no-purge", "--only", "medecins", "--yes",
                "--report", practice.logs + "rapport.json"});

    EXPECT_EQ(outcome.status, 1) << outcome.err.toStdString();
    EXPECT_TRUE(outcome.out.contains("0 utilisateur créé")) << outcome.out.toStdString();
    EXPECT_FALSE(outcome.err.contains("Le traitement est terminé.")) << outcome.err.toStdString();
    EXPECT_TRUE(outcome.err.contains("Impossible d'écrire le fichier " + practice.logs + "P1Import - "))
        << outcome.err.toStdString();
    EXPECT_TRUE(outcome.err.contains("Le rapport [" + practice.logs + "rapport.json] n'a pas pu être écrit"))
        << outcome.err.toStdString();
    EXPECT_EQ(entriesOf(practice.logs), QStringList());
}

INSTANTIATE_TEST_SUITE_P(Engines, ProgramOnFullDiskTest, test::testEngines(), test::engineTestName);

class InitialisationOnFullDiskTest : public test::RunOnEngineTest {};

// A folder a failed initialisation left alone can be made a target once there is room.
TEST_P(InitialisationOnFullDiskTest, LeavesNothingAndTheFolderCanBeInitialisedAgain)
{
    QTemporaryDir temporary;
    const QString folder = temporary.filePath("cible") + '/';
    QStringList arguments{"--init-target", folder};
    std::optional<test::TestTarget> database;
    if (GetParam() == TargetEngine::Postgres) {
        database = test::makePostgresTarget(false);
        arguments = test::postgresInitArguments(folder, *database);
    }

    // A database file cannot take its second page; the server's database is not on this disk,
    // and the settings files are longer than 16 bytes.
    const ProgramOutcome failed = runProgramWithFilesUpTo(GetParam() == TargetEngine::Sqlite ? 4096 : 16, arguments);

    EXPECT_EQ(failed.status, 1) << failed.err.toStdString();
    EXPECT_EQ(entriesOf(folder), QStringList());
    if (database) {
        auto connection = test::connectTo(*database);
        EXPECT_EQ(connection->tableAndViewNames(), QStringList());
    }

    const ProgramOutcome again = runProgramWithFilesUpTo(RLIM_INFINITY, arguments);
    EXPECT_EQ(again.status, 0) << again.err.toStdString();
    EXPECT_TRUE(QFileInfo::exists(folder + "Kelvanor.ver"));
    EXPECT_TRUE(QFileInfo::exists(folder + "EDITOR.INI"));
}

INSTANTIATE_TEST_SUITE_P(Engines, InitialisationOnFullDiskTest, test::testEngines(), test::engineTestName);

} // namespace
} // namespace p1
