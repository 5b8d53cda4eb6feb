// A target that fails ends the run at its first failed statement, through the run's general error
// path; a row the target refuses for its data still fails alone.
#include "common/errors.h"
#include "common/locale_texts.h"
#include "run/import_session.h"
#include "tests/run/run_fixture.h"
#include "tests/support/qt_printers.h"
#include "tests/support/recording_ui.h"
#include "tools/sample_practice/sample_practice.h"

#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QSqlQuery>

#include <QRegularExpression>

#include <functional>
#include <memory>
#include <optional>

namespace p1 {
namespace {

using test::Practice;

const QList<test::SourceUser> threePhysicians = {{3, "Martin"}, {5, "Durand"}, {8, "Petit"}};

// Runs hooks at the pump of given rows of a stage, as another program could act at any moment.
class HookedUi : public RecordingUi {
public:
    void processMessages() override
    {
        RecordingUi::processMessages();
        if (atRow.contains(progressPosition()))
            atRow.take(progressPosition())();
    }

    QMap<int, std::function<void()>> atRow;
};

class RunFailuresTest : public test::RunOnEngineTest {
protected:
    void SetUp() override
    {
        RunOnEngineTest::SetUp();
        if (HasFatalFailure() || IsSkipped())
            return;
        practice_ = std::make_unique<Practice>(GetParam(), test::SourceContent{threePhysicians});
        session_ = std::make_unique<ImportSession>(ui, GetParam());
        session().ADOConnectionTessaris.setOdbcDriver(practice().target.odbcDriver);
        session().lettersFolderChosen(practice().letters);
        ASSERT_TRUE(session().targetChosen(practice().target.folder + "Kelvanor.ver"));
        session().sourceBaseChosen(practice().source + "V4.mdb");
        ASSERT_TRUE(ui.isImportEnabled());
    }

    // The message of the target failure that ended the run; nullopt when the run did not end so.
    std::optional<QString> failureOfRun()
    {
        try {
            session().ButtonExecuterClick();
        } catch (const TargetUnavailable& failure) {
            return failure.message();
        }
        return std::nullopt;
    }

    void execOnRunSession(const QString& statement)
    {
        QSqlQuery query(session().ADOConnectionTessaris.database());
        ASSERT_TRUE(query.exec(statement)) << query.lastError().text().toStdString();
    }

    // The run stopped once, with no row failed on the way, and kept its log.
    void expectStoppedOnce(const std::optional<QString>& failure)
    {
        ASSERT_TRUE(failure.has_value());
        EXPECT_EQ(failureLines(), QStringList());
        EXPECT_EQ(ui.logLines().filter(QRegularExpression("^Traitement")).size(), 1);
        EXPECT_TRUE(ui.logLines().last().startsWith("Traitement interrompu : ")) << failure->toStdString();
        EXPECT_EQ(practice().logFiles().size(), 1);
    }

    QStringList failureLines() const
    {
        return ui.logLines().filter(QRegularExpression("^   ERREUR : |n'a pas pu être vidée"));
    }

    HookedUi ui;
    // Made once the engine is known to run here.
    std::unique_ptr<Practice> practice_;
    std::unique_ptr<ImportSession> session_;
    Practice& practice() { return *practice_; }
    ImportSession& session() { return *session_; }
};

TEST_P(RunFailuresTest, ATargetThatFailsEndsTheRunAtItsFirstStatement)
{
    const bool sqlite = GetParam() == TargetEngine::Sqlite;
    const QString readOnly = sqlite ? "PRAGMA query_only = ON" : "SET default_transaction_read_only TO on";
    const struct {
        const char* name;
        bool purge;
        std::function<void()> fail;
    } cases[] = {
        {"read-only target, purge first", true, [&] { execOnRunSession(readOnly); }},
        {"read-only target, stages only", false, [&] { execOnRunSession(readOnly); }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ui.setAllTicked(true);
        ui.setTicked(Box::Vider, c.purge);
        c.fail();

        const std::optional<QString> failure = failureOfRun();

        ASSERT_TRUE(failure.has_value());
        EXPECT_FALSE(failure->isEmpty());
        EXPECT_EQ(failureLines(), QStringList());
        EXPECT_FALSE(ui.logLines().filter("Traitement terminé").size());
        EXPECT_EQ(test::countRows(*test::connectTo(practice().target), "MEDECINS"), 0);
        EXPECT_FALSE(ui.isBusy());
        EXPECT_TRUE(ui.isImportEnabled());
    }
}

TEST_P(RunFailuresTest, ALockHeldByAnotherSessionEndsTheRunAfterABoundedWait)
{
    auto other = test::connectTo(practice().target);
    QSqlQuery lock(other->database());
    ASSERT_TRUE(lock.exec(GetParam() == TargetEngine::Sqlite ? "BEGIN IMMEDIATE" : "BEGIN"));
    if (GetParam() == TargetEngine::Postgres) {
        ASSERT_TRUE(lock.exec("LOCK TABLE MEDECINS IN EXCLUSIVE MODE"));
    }
    ui.setTicked(Box::Vider, false);
    QElapsedTimer clock;
    clock.start();

    const std::optional<QString> failure = failureOfRun();

    EXPECT_LT(clock.elapsed(), 20'000);
    ASSERT_TRUE(failure.has_value());
    EXPECT_EQ(failureLines(), QStringList());
    lock.exec("ROLLBACK");
    EXPECT_EQ(test::countRows(*other, "MEDECINS"), 0);
}

// A database browser left open on the target reads what was committed before the run began.
TEST_P(RunFailuresTest, AProgramReadingTheTargetDoesNotStopTheRun)
{
    auto browser = test::connectTo(practice().target);
    QSqlQuery reading(browser->database());
    ASSERT_TRUE(reading.exec("BEGIN") && reading.exec("SELECT count(*) FROM MEDECINS") && reading.next());
    ui.setAllTicked(true);

    EXPECT_TRUE(session().ButtonExecuterClick());

    EXPECT_EQ(ui.dialogTexts(RecordingUi::DialogKind::Error), QStringList());
    EXPECT_TRUE(ui.logLines().contains("3 utilisateurs créés"));
    reading.exec("ROLLBACK");
    EXPECT_EQ(test::countRows(*browser, "MEDECINS"), 3);
}

TEST_P(RunFailuresTest, ARowRefusedForItsDataStillFailsAloneAndTheRunGoesOn)
{
    Practice duplicated(GetParam(), {{{3, "Martin"}, {5, "Durand"}, {5, "Doublon"}}});
    RecordingUi otherUi;
    ImportSession other(otherUi, GetParam());
    other.ADOConnectionTessaris.setOdbcDriver(duplicated.target.odbcDriver);
    other.lettersFolderChosen(duplicated.letters);
    ASSERT_TRUE(other.targetChosen(duplicated.target.folder + "Kelvanor.ver"));
    other.sourceBaseChosen(duplicated.source + "V4.mdb");

    EXPECT_TRUE(other.ButtonExecuterClick());

    EXPECT_EQ(otherUi.logLines().filter(QRegularExpression("^   ERREUR : ")).size(), 1);
    EXPECT_TRUE(otherUi.logLines().contains("2 utilisateurs créés"));
    EXPECT_EQ(test::countRows(*test::connectTo(duplicated.target), "MEDECINS"), 2);
}

INSTANTIATE_TEST_SUITE_P(Engines, RunFailuresTest, test::testEnginesWithOdbc(), test::engineTestName);

class FullDiskTest : public RunFailuresTest {};

// SQLite told not to grow the database past its present pages fails as on a full disk: the patients'
// long texts need new pages, and the run stops there with what it stored before intact.
TEST_P(FullDiskTest, AFullDiskEndsTheRunOnceWithTheRowsStoredBeforeIntact)
{
    const QString source = practice().temporary.filePath("patients");
    writeSamplePractice(source, {.patients = 60, .lettersPerPatient = 0});
    session().closeSourceConnections();
    session().sourceBaseChosen(source + "/V4.mdb");
    QSqlQuery pages(session().ADOConnectionTessaris.database());
    ASSERT_TRUE(pages.exec("PRAGMA page_count") && pages.next());
    const int pageCount = pages.value(0).toInt();
    pages.finish();
    execOnRunSession(QStringLiteral("PRAGMA max_page_count = %1").arg(pageCount));
    ui.setAllTicked(true);
    ui.setTicked(Box::Vider, false);

    const std::optional<QString> failure = failureOfRun();

    expectStoppedOnce(failure);
    EXPECT_TRUE(failure->contains("full")) << failure->toStdString();
    auto other = test::connectTo(practice().target);
    EXPECT_EQ(test::countRows(*other, "MEDECINS"), 4);
    EXPECT_LT(test::countRows(*other, "PATIENTS"), 60);
}

INSTANTIATE_TEST_SUITE_P(Engines, FullDiskTest, ::testing::Values(TargetEngine::Sqlite), test::engineTestName);

class ServerStoppedTest : public RunFailuresTest {
protected:
    qint64 backendOfTheRun()
    {
        QSqlQuery pid(session().ADOConnectionTessaris.database());
        EXPECT_TRUE(pid.exec("SELECT pg_backend_pid()") && pid.next());
        return pid.value(0).toLongLong();
    }

    // Ends the run's session at the users stage's second row; when foundLost, another statement
    // of the session finds the loss before the stage's next one does.
    void expectGroupLost(bool foundLost)
    {
        auto other = test::connectTo(practice().target);
        ui.atRow[2] = [&] {
            const qint64 backend = backendOfTheRun();
            QSqlQuery terminate(other->database());
            ASSERT_TRUE(terminate.exec(QString("SELECT pg_terminate_backend(%1, 5000)").arg(backend)));
            if (foundLost) {
                QSqlQuery lost(session().ADOConnectionTessaris.database());
                ASSERT_FALSE(lost.exec("SELECT 1"));
            }
        };

        expectStoppedOnce(failureOfRun());
        EXPECT_EQ(test::countRows(*other, "MEDECINS"), 0);
        ASSERT_FALSE(session().lastRunCounts().isEmpty());
        EXPECT_EQ(session().lastRunCounts().last().stored, 0);
    }
};

// The server ends the run's session with a word (as a restart does) while the users stage walks
// its rows: the row committed before stays, and the next run in the same window connects again.
TEST_P(ServerStoppedTest, ASessionEndedMidStageEndsTheRunOnceAndTheNextRunReconnects)
{
    session().setCommitMode(CommitMode::EachRow);
    const qint64 backend = backendOfTheRun();
    auto other = test::connectTo(practice().target);
    ui.atRow[2] = [&] {
        QSqlQuery terminate(other->database());
        ASSERT_TRUE(terminate.exec(QString("SELECT pg_terminate_backend(%1, 5000)").arg(backend)));
    };

    expectStoppedOnce(failureOfRun());
    EXPECT_EQ(test::countRows(*other, "MEDECINS"), 1);

    EXPECT_TRUE(session().ButtonExecuterClick());
    EXPECT_EQ(test::countRows(*other, "MEDECINS"), 3);
}

// Rows committed in groups: the session ends, or is found lost, with the row before still in the
// open group. The engine drops it, so the stopped stage counts no row stored, and the run does not
// go on after a reconnection as if the row were there.
TEST_P(ServerStoppedTest, RowsOfAGroupLostWithTheSessionAreNotCountedAsStored)
{
    expectGroupLost(false);
}

TEST_P(ServerStoppedTest, RowsOfAGroupLostWithTheConnectionAreNotCountedAsStored)
{
    expectGroupLost(true);
}

TEST_P(ServerStoppedTest, ALostConnectionIsOpenedAgainOncePerStage)
{
    session().setCommitMode(CommitMode::EachRow);
    auto other = test::connectTo(practice().target);
    const auto loseTheConnection = [&] {
        const qint64 backend = backendOfTheRun();
        QSqlQuery terminate(other->database());
        ASSERT_TRUE(terminate.exec(QString("SELECT pg_terminate_backend(%1, 5000)").arg(backend)));
        QSqlQuery lost(session().ADOConnectionTessaris.database());
        ASSERT_FALSE(lost.exec("SELECT 1"));
    };
    ui.atRow[2] = loseTheConnection;
    ui.atRow[3] = loseTheConnection;

    expectStoppedOnce(failureOfRun());
    EXPECT_EQ(test::countRows(*other, "MEDECINS"), 2);
}

INSTANTIATE_TEST_SUITE_P(Engines, ServerStoppedTest, ::testing::Values(TargetEngine::Postgres),
                         test::engineTestName);

} // namespace
} // namespace p1
