// The ways a run commits what it stores. Committing rows in groups leaves the rows and log lines
// that committing each row on its own leaves, on a practice whose target already holds some of
// the identifiers the import gives: those rows are refused one at a time amid rows stored. A
// rolled-back run logs what a real run logs and leaves the target exactly as it found it.

#include "common/errors.h"
#include "run/import_session.h"
#include "tests/run/run_fixture.h"
#include "tests/run/run_record.h"
#include "tests/support/qt_printers.h"
#include "tests/support/recording_ui.h"
#include "tools/sample_practice/sample_practice.h"

#include <gtest/gtest.h>

#include <QCryptographicHash>
#include <QSqlQuery>

namespace p1 {
namespace {

// Each takes an identifier a row of the practice gets, in a table of each stage.
const QStringList occupiedIdentifiers = {
    "INSERT INTO MEDECINS (MEDECINS_ID, NOM) VALUES (2, 'Occupé')",
    "INSERT INTO MEDTRAIT (MEDTRAIT_ID, NOM) VALUES (3, 'Occupé')",
    "INSERT INTO PATIENTS (PATIENTS_ID, NOM) VALUES (4, 'Occupé')",
    "INSERT INTO PATIENTS (PATIENTS_ID, NOM) VALUES (21, 'Occupé')",
    "INSERT INTO ANTECED (ANTECED_ID, PATIENTS_ID) VALUES (6, 4)",
    "INSERT INTO PATMEDTR (PATMEDTR_ID, PATIENTS_ID) VALUES (2, 4)",
    "INSERT INTO MOTCONSU (MOTCONSU_ID, PATIENTS_ID) VALUES (5, 4)",
    "INSERT INTO MOTCONSU (MOTCONSU_ID, PATIENTS_ID) VALUES (30, 4)",
    "INSERT INTO LETTERS (LETTERS_ID, PATIENTS_ID) VALUES (8, 4)",
    "INSERT INTO DATAPRESCR (DATAPRESCR_ID, PATIENTS_ID) VALUES (7, 4)",
};

using test::contentOf;
using test::letterFilesOf;
using test::TargetContent;
using test::withoutStamps;

QByteArray sqliteFileHash(const test::TestTarget& target)
{
    QFile file(target.folder + target.databaseName);
    EXPECT_TRUE(file.open(QIODevice::ReadOnly));
    return QCryptographicHash::hash(file.readAll(), QCryptographicHash::Sha256).toHex();
}

// Counts, from a session of its own, the patients the target holds at one row of their stage.
class PatientsCountingUi : public RecordingUi {
public:
    explicit PatientsCountingUi(const test::TestTarget& target) : target_(target) {}

    void processMessages() override
    {
        RecordingUi::processMessages();
        if (patientsSeen < 0 && status().startsWith("Patient n°") && progressPosition() == countAtRow)
            patientsSeen = test::countRows(*test::connectTo(target_), "PATIENTS");
    }

    const int countAtRow = 30;
    int patientsSeen = -1;

private:
    const test::TestTarget& target_;
};

class CommitModesTest : public test::PracticeRunTest {
protected:
    void SetUp() override
    {
        PracticeRunTest::SetUp();
        if (HasFatalFailure() || IsSkipped())
            return;
        writePractice({.patients = 60, .lettersPerPatient = 1});
    }

    // Whichever patient's letter gets the number 20 finds its file's name taken.
    test::TestTarget targetWithTakenLetterName()
    {
        const test::TestTarget target = newTarget();
        for (int patient = 1; patient <= 70; ++patient) {
            const QString folder = target.folder + "LETTERS/" + QString::number(patient) + '/';
            QDir().mkpath(folder);
            QFile taken(folder + "LET20.HED");
            EXPECT_TRUE(taken.open(QIODevice::WriteOnly));
        }
        return target;
    }

    test::TestTarget occupiedTarget()
    {
        const test::TestTarget target = targetWithTakenLetterName();
        const auto connection = test::connectTo(target);
        for (const QString& statement : occupiedIdentifiers) {
            QSqlQuery query(connection->database());
            EXPECT_TRUE(query.exec(statement)) << query.lastError().text().toStdString();
        }
        return target;
    }

    test::RunRecord recordOfRun(const test::TestTarget& target, CommitMode mode, bool purge)
    {
        test::RunRecord record = test::recordRun(target, practice, mode, purge);
        EXPECT_TRUE(record.ended) << record.escaped.toStdString();
        return record;
    }

    QStringList logOfRun(const test::TestTarget& target, CommitMode mode, bool purge)
    {
        return recordOfRun(target, mode, purge).log;
    }
};

TEST_P(CommitModesTest, GroupedCommitsLeaveTheRowsAndLinesOfOneCommitPerRow)
{
    const test::TestTarget eachRowTarget = occupiedTarget();
    const test::TestTarget groupedTarget = occupiedTarget();

    const QStringList eachRowLog = logOfRun(eachRowTarget, CommitMode::EachRow, false);
    const QStringList groupedLog = logOfRun(groupedTarget, CommitMode::Grouped, false);

    EXPECT_EQ(groupedLog, eachRowLog);
    EXPECT_GE(eachRowLog.filter("   ERREUR : ").size(), occupiedIdentifiers.size());
    const test::TargetContent stored = test::contentOf(eachRowTarget);
    EXPECT_GT(stored.value("DATAPRESCR").size(), 60);
    EXPECT_EQ(test::contentOf(groupedTarget), stored);
    EXPECT_GT(test::letterFilesOf(eachRowTarget).size(), 50);
    EXPECT_EQ(test::letterFilesOf(groupedTarget), test::letterFilesOf(eachRowTarget));
}

// Letter files are copied while their rows go ahead; one that cannot be made takes its group back
// even when the target refused none of its rows.
TEST_P(CommitModesTest, ALetterWhoseFileNameIsTakenFailsAloneWhileRowsGoAhead)
{
    const test::TestTarget eachRowTarget = targetWithTakenLetterName();
    const test::TestTarget groupedTarget = targetWithTakenLetterName();

    const QStringList eachRowLog = logOfRun(eachRowTarget, CommitMode::EachRow, false);
    EXPECT_EQ(eachRowLog.filter(" : échec d'importation du courrier n°").size(), 1);
    EXPECT_EQ(logOfRun(groupedTarget, CommitMode::Grouped, false), eachRowLog);
    EXPECT_EQ(test::contentOf(groupedTarget), test::contentOf(eachRowTarget));
    EXPECT_EQ(test::letterFilesOf(groupedTarget), test::letterFilesOf(eachRowTarget));
}

TEST_P(CommitModesTest, ARolledBackRunLogsAsARealRunAndLeavesTheTargetAsItWas)
{
    for (const bool purge : {true, false}) {
        SCOPED_TRACE(purge ? "purged first" : "not purged");
        // Each run on a target of its own: the letters stage copies its files whatever the mode.
        const test::TestTarget target = occupiedTarget();
        const test::TargetContent contentBefore = test::contentOf(target);
        const QByteArray fileBefore = GetParam() == TargetEngine::Sqlite ? sqliteFileHash(target) : QByteArray();

        const test::RunRecord rolledBack = recordOfRun(target, CommitMode::RolledBack, purge);
        EXPECT_EQ(test::contentOf(target), contentBefore);
        if (GetParam() == TargetEngine::Sqlite) {
            EXPECT_EQ(sqliteFileHash(target), fileBefore);
            EXPECT_FALSE(QFile::exists(target.folder + target.databaseName + "-wal"));
        }
        const test::RunRecord real = recordOfRun(occupiedTarget(), CommitMode::EachRow, purge);
        EXPECT_EQ(rolledBack.log, real.log);
        EXPECT_EQ(rolledBack.report.after.tableRows, real.report.after.tableRows);
        EXPECT_EQ(rolledBack.report.after.lastValues, real.report.after.lastValues);
    }
}

TEST_P(CommitModesTest, TheEnvironmentSwitchCommitsEachRowAsItIsStored)
{
    const struct {
        const char* switchValue;
        bool eachRow;
    } cases[] = {{"1", true}, {"0", false}, {nullptr, false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.switchValue ? c.switchValue : "unset");
        if (c.switchValue)
            qputenv("P1IMPORT_COMMIT_EACH_ROW", c.switchValue);
        else
            qunsetenv("P1IMPORT_COMMIT_EACH_ROW");
        const test::TestTarget target = occupiedTarget();
        PatientsCountingUi ui(target);
        ui.setAllTicked(true);
        ImportSession session(ui, GetParam());
        session.ADOConnectionTessaris.setOdbcDriver(target.odbcDriver);
        qunsetenv("P1IMPORT_COMMIT_EACH_ROW");
        session.lettersFolderChosen(practice.lettersFolder);
        ASSERT_TRUE(session.targetChosen(target.folder + "Kelvanor.ver"));
        session.sourceBaseChosen(practice.v4Path);
        EXPECT_TRUE(session.ButtonExecuterClick());

        // Most rows before it (a few are skipped or refused); a group is younger than a second.
        if (c.eachRow)
            EXPECT_GT(ui.patientsSeen, ui.countAtRow / 2);
        else
            EXPECT_EQ(ui.patientsSeen, 0);
    }
}

INSTANTIATE_TEST_SUITE_P(Engines, CommitModesTest, test::testEnginesWithOdbc(), test::engineTestName);

} // namespace
} // namespace p1
