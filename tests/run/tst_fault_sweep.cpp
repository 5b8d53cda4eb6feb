// Grouped execution proved by sweeping its failure points, as SQLite's I/O-error tests do: the Nth
// statement of a whole run fails, for N over the run's statements (a stratified sample of them;
// P1_FAULT_SWEEP=all for every one), and the default mode must leave exactly what committing each
// row on its own leaves: rows, counters, letter files, log lines, dialogs, report, exit status.
// Likewise when the Nth letter file cannot be made. When the Nth statement fails as the target
// itself failing, every run stops, and what it reports is what the target holds. Refusals made by
// the target itself (a trigger on ID_VALUES) are tried as a new user would meet them.

#include "tests/run/run_fixture.h"
#include "tests/run/run_record.h"
#include "tests/support/qt_printers.h"

#include <gtest/gtest.h>

#include <QSqlQuery>

#include <algorithm>

namespace p1 {
namespace {

using test::RunFault;
using test::RunRecord;

// The statements numbered for the sweep: every one, or one at a stable place in each of `strata`
// equal spans, the first and the last included.
QList<qint64> sweepPoints(qint64 statements, int strata)
{
    QList<qint64> points;
    if (qgetenv("P1_FAULT_SWEEP") == "all" || statements <= strata) {
        for (qint64 n = 1; n <= statements; ++n)
            points.append(n);
        return points;
    }
    points.append(1);
    for (int stratum = 1; stratum < strata - 1; ++stratum) {
        const qint64 first = 1 + statements * stratum / strata;
        const qint64 span = std::max<qint64>(1, statements * (stratum + 1) / strata - first);
        points.append(first + (stratum * 7919) % span);
    }
    points.append(statements);
    return points;
}

QStringList dialogLines(const QList<RecordingUi::Dialog>& dialogs)
{
    QStringList lines;
    for (const RecordingUi::Dialog& dialog : dialogs)
        lines.append(QString::number(int(dialog.kind)) + ' ' + dialog.text);
    return lines;
}

QStringList warningsOf(const RunRecord& record)
{
    QStringList warnings;
    for (const RecordingUi::Dialog& dialog : record.dialogs)
        if (dialog.kind == RecordingUi::DialogKind::Warning)
            warnings.append(dialog.text);
    return warnings;
}

// The grouped run leaves exactly what the run committing each row leaves.
void expectSameOutcome(const RunRecord& grouped, const RunRecord& eachRow)
{
    EXPECT_EQ(grouped.log, eachRow.log);
    EXPECT_EQ(dialogLines(grouped.dialogs), dialogLines(eachRow.dialogs));
    EXPECT_EQ(grouped.reportLines, eachRow.reportLines);
    EXPECT_EQ(grouped.exitStatus, eachRow.exitStatus);
    EXPECT_EQ(grouped.ended, eachRow.ended);
    EXPECT_EQ(grouped.escaped, eachRow.escaped);
    EXPECT_EQ(grouped.content, eachRow.content);
    EXPECT_EQ(grouped.letterFiles, eachRow.letterFiles);
}

// The identifier column of each numbered table, and the key of ID_VALUES that numbers it.
const QList<std::pair<QString, QString>> numberedTables = {
    {"MEDECINS", "MEDECINS_ID"}, {"PL_SUBJ", "PL_SUBJ_ID"},   {"MEDTRAIT", "MEDTRAIT_ID"},
    {"PATIENTS", "PATIENTS_ID"}, {"ANTECED", "ANTECED_ID"},   {"PATMEDTR", "PATMEDTR_ID"},
    {"MOTCONSU", "MOTCONSU_ID"}, {"LETTERS", "LETTERS_ID"},   {"DATAPRESCR", "DATAPRESCR_ID"},
};

qint64 valueOf(const QString& row, const QString& column)
{
    for (const QString& value : row.split(u'|'))
        if (value.section(u'=', 0, 0).toUpper() == column)
            return value.section(u'=', 1).toLongLong();
    return 0;
}

// ID_VALUES is never below an identifier stored under its key unless a warning said so.
void expectCountersNumberTheirRows(const RunRecord& record)
{
    QMap<QString, qint64> counters;
    for (const QString& row : record.content.value("ID_VALUES"))
        counters[row.section("KEY_NAME=", 1).section(u'|', 0, 0)] = valueOf(row, "LAST_VALUE");
    const QStringList warnings = warningsOf(record);
    // The users stage raises its keys in the guard of the row: a failure line says so.
    const bool userFailed = !record.log.filter(" : importation de l'utilisateur n°").isEmpty();
    for (const auto& [table, column] : numberedTables) {
        qint64 highest = 0;
        for (const QString& row : record.content.value(table))
            highest = std::max(highest, valueOf(row, column));
        const bool warned = std::any_of(warnings.begin(), warnings.end(),
                                        [&](const QString& text) { return text.contains("=" + table + " "); })
                            || (userFailed && (table == "MEDECINS" || table == "PL_SUBJ"));
        if (!warned) {
            EXPECT_GE(counters.value(table), highest) << qPrintable(table);
        }
    }
}

// A run that stopped counts what the target holds: the report's rows and counters are the
// target's, each stage's stored rows are in its table, and every letter file it counts is there.
void expectCountsOfWhatTheTargetHolds(const RunRecord& record)
{
    EXPECT_FALSE(record.ended);
    EXPECT_EQ(record.exitStatus, 1);
    EXPECT_TRUE(record.report.balanced());
    // A run stopped before its first stage has no report.
    EXPECT_EQ(record.report.after.taken, !record.report.stages.isEmpty());
    for (auto table = record.report.after.tableRows.begin(); table != record.report.after.tableRows.end(); ++table)
        if (record.content.contains(table.key())) {
            EXPECT_EQ(table.value(), record.content.value(table.key()).size()) << qPrintable(table.key());
        }
    for (const QString& row : record.content.value("ID_VALUES")) {
        const QString key = row.section("KEY_NAME=", 1).section(u'|', 0, 0);
        if (record.report.after.lastValues.contains(key)) {
            EXPECT_EQ(record.report.after.lastValues.value(key), valueOf(row, "LAST_VALUE")) << qPrintable(key);
        }
    }
    const QMap<QString, QString> tableOfStage = {{"medecins", "MEDECINS"},   {"correspondants", "MEDTRAIT"},
                                                 {"patients", "PATIENTS"},   {"consultations", "MOTCONSU"},
                                                 {"courriers", "LETTERS"},   {"prescriptions", "DATAPRESCR"}};
    for (const StageCounts& stage : record.report.stages) {
        if (!tableOfStage.contains(stage.stage))
            continue;
        const QStringList rows = record.content.value(tableOfStage[stage.stage]);
        // Consultations created for prescriptions are the prescriptions stage's.
        const qint64 ofTheStage = std::count_if(rows.begin(), rows.end(), [](const QString& row) {
            return !row.contains("=Importation de prescription");
        });
        EXPECT_EQ(stage.stored, ofTheStage) << qPrintable(stage.stage);
    }
    EXPECT_EQ(record.report.letters.filesCopied, record.letterFiles.size());
}

class FaultSweepTest : public test::PracticeRunTest {
protected:
    void SetUp() override
    {
        PracticeRunTest::SetUp();
        if (HasFatalFailure() || IsSkipped())
            return;
        writePractice({.patients = 10, .seed = 4, .antecedentsPerPatient = 2, .consultationsPerPatient = 2,
                       .prescriptionsPerPatient = 3, .lettersPerPatient = 1, .patientsPerCorrespondent = 15});
    }

    RunRecord run(CommitMode mode, const RunFault& fault = {}, qint64* statements = nullptr)
    {
        return test::recordRun(newTarget(), practice, mode, true, fault, statements);
    }

    // A whole run without fault, with the number of its statements.
    RunRecord referenceRun(qint64& statements)
    {
        RunRecord record = run(CommitMode::EachRow, {}, &statements);
        EXPECT_TRUE(record.ended);
        return record;
    }

    // Reports at most a few failing points in full: one is enough to begin with.
    bool enoughFailures(int& failedPoints)
    {
        if (HasNonfatalFailure())
            ++failedPoints;
        return failedPoints >= 3;
    }
};

TEST_P(FaultSweepTest, AStatementRefusedAnywhereLeavesWhatCommittingEachRowLeaves)
{
    qint64 statements = 0;
    referenceRun(statements);
    ASSERT_GT(statements, 100);
    int failedPoints = 0;
    for (const qint64 n : sweepPoints(statements, 36)) {
        SCOPED_TRACE(QStringLiteral("instruction n°%1 sur %2").arg(n).arg(statements).toStdString());
        const RunFault fault = RunFault::onStatement(n);
        const RunRecord eachRow = run(CommitMode::EachRow, fault);
        expectSameOutcome(run(CommitMode::Grouped, fault), eachRow);
        EXPECT_TRUE(eachRow.report.balanced());
        expectCountersNumberTheirRows(eachRow);
        if (enoughFailures(failedPoints))
            break;
    }
}

TEST_P(FaultSweepTest, ALetterFileThatCannotBeMadeLeavesWhatCommittingEachRowLeaves)
{
    qint64 statements = 0;
    const QStringList letterFiles = referenceRun(statements).letterFiles;
    ASSERT_GT(letterFiles.size(), 3);
    int failedPoints = 0;
    for (const QString& letterFile : letterFiles) {
        const QString fileName = letterFile.section(u' ', 0, 0).section(u'/', -1);
        for (const CopyFault kind : {CopyFault::NameTaken, CopyFault::CopyFails}) {
            SCOPED_TRACE(QStringLiteral("%1, %2").arg(fileName).arg(int(kind)).toStdString());
            const RunFault fault = RunFault::onLetterCopy(fileName, kind);
            const RunRecord eachRow = run(CommitMode::EachRow, fault);
            EXPECT_EQ(eachRow.ended, kind == CopyFault::NameTaken);
            expectSameOutcome(run(CommitMode::Grouped, fault), eachRow);
        }
        if (enoughFailures(failedPoints))
            break;
    }
}

TEST_P(FaultSweepTest, ATargetFailingAnywhereStopsTheRunWithCountsOfWhatItHolds)
{
    qint64 statements = 0;
    const RunRecord reference = referenceRun(statements);
    // The statements of the purge and the stages: the report's own reads of the target, before,
    // between and after them, leave its columns empty when the target fails.
    const qint64 first = reference.statementsAtPurge + 1;
    const qint64 last = reference.statementsAtEndLine;
    ASSERT_GT(last, first);
    int failedPoints = 0;
    for (const qint64 point : sweepPoints(last - first + 1, 24)) {
        const qint64 n = first + point - 1;
        if (n > reference.statementsAtPurgeEnd && n <= reference.statementsAtFirstStage)
            continue;
        SCOPED_TRACE(QStringLiteral("instruction n°%1 sur %2").arg(n).arg(statements).toStdString());
        const RunFault fault = RunFault::onStatement(n, StatementFault::TargetFailed);
        const RunRecord grouped = run(CommitMode::Grouped, fault);
        expectCountsOfWhatTheTargetHolds(grouped);
        // Every commit leaves the counters at or above what it commits.
        expectCountersNumberTheirRows(grouped);
        expectCountsOfWhatTheTargetHolds(run(CommitMode::EachRow, fault));
        if (enoughFailures(failedPoints))
            break;
    }
}

// A target of a practice with a trigger of its own: ID_VALUES refuses to number consultations
// from `from` on.
class RefusingTriggerTest : public FaultSweepTest {
protected:
    test::TestTarget targetRefusingConsultationsFrom(int from)
    {
        const test::TestTarget target = newTarget();
        const auto connection = test::connectTo(target);
        QSqlQuery query(connection->database());
        if (GetParam() == TargetEngine::Postgres) {
            EXPECT_TRUE(query.exec(QStringLiteral(
                "CREATE FUNCTION refuse_consultations() RETURNS trigger AS $$ BEGIN "
                "IF NEW.KEY_NAME = 'MOTCONSU' AND NEW.LAST_VALUE >= %1 THEN "
                "RAISE EXCEPTION 'numérotation des consultations arrêtée'; END IF; RETURN NEW; END $$ "
                "LANGUAGE plpgsql").arg(from)))
                << query.lastError().text().toStdString();
            EXPECT_TRUE(query.exec(QStringLiteral("CREATE TRIGGER refuse_consultations BEFORE UPDATE ON ID_VALUES "
                                                  "FOR EACH ROW EXECUTE FUNCTION refuse_consultations()")))
                << query.lastError().text().toStdString();
        } else {
            EXPECT_TRUE(query.exec(QStringLiteral(
                "CREATE TRIGGER refuse_consultations BEFORE UPDATE ON ID_VALUES "
                "WHEN NEW.KEY_NAME = 'MOTCONSU' AND NEW.LAST_VALUE >= %1 "
                "BEGIN SELECT RAISE(ABORT, 'numérotation des consultations arrêtée'); END").arg(from)))
                << query.lastError().text().toStdString();
        }
        return target;
    }
};

// A trigger refusing to raise MOTCONSU once lost, grouped, the prescriptions and the consultations
// made for them without a line.
TEST_P(RefusingTriggerTest, ACounterTheTargetRefusesToRaiseGivesTheOutcomesOfCommittingEachRow)
{
    practice = writeSamplePractice(folder.filePath("trigger"), {.patients = 30, .seed = 4});
    for (const int from : {2, 60, 100}) {
        SCOPED_TRACE(QStringLiteral("MOTCONSU refusé à partir de %1").arg(from).toStdString());
        for (const bool purge : {true, false}) {
            const RunRecord eachRow =
                test::recordRun(targetRefusingConsultationsFrom(from), practice, CommitMode::EachRow, purge);
            const RunRecord grouped =
                test::recordRun(targetRefusingConsultationsFrom(from), practice, CommitMode::Grouped, purge);
            expectSameOutcome(grouped, eachRow);
            EXPECT_FALSE(warningsOf(eachRow).isEmpty());
            expectCountersNumberTheirRows(eachRow);
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Engines, FaultSweepTest, test::testEnginesWithOdbc(), test::engineTestName);
INSTANTIATE_TEST_SUITE_P(Engines, RefusingTriggerTest, test::testEnginesWithOdbc(), test::engineTestName);

} // namespace
} // namespace p1
