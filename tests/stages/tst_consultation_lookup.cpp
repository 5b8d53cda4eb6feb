#include "stages/consultation_lookup.h"

#include "common/date_time.h"
#include "tests/stages/stage_test_context.h"

namespace p1::test {
namespace {

const QDateTime day = wallClock(QDate(2026, 3, 5));
const QDateTime morning = wallClock(QDate(2026, 3, 5), QTime(10, 30));

// MOTCONSU before each test: patient 5 on the day (n°42), patient 6 in the morning (n°43), and
// "MOTCONSU" at 50.
class ConsultationLookupTest : public TargetEngineTest {
protected:
    void SetUp() override
    {
        TargetEngineTest::SetUp();
        if (IsSkipped())
            return;
        insertRow(*connection, "MOTCONSU", {{"MOTCONSU_ID", 42}, {"PATIENTS_ID", 5},
                                            {"DATE_CONSULTATION", day}, {"MEDECINS_ID", 1},
                                            {"MOTIF_DE_CONSULTATION", "Suivi"}});
        insertRow(*connection, "MOTCONSU", {{"MOTCONSU_ID", 43}, {"PATIENTS_ID", 6},
                                            {"DATE_CONSULTATION", morning}});
        setLastValue(*connection, "MOTCONSU", 50);
        source.write();
        run = std::make_unique<StageRunContext>(source, *connection);
        openWholeTable(run->Query2, consultationLookupText());
    }

    qint64 find(qint64 patient, const QDateTime& date)
    {
        return found(patient, date).id;
    }

    FoundConsultation found(qint64 patient, const QDateTime& date)
    {
        return FindOrCreateConsultation(run->context, run->Query2, patient, 3, "Importation de prescription", date);
    }

    SourceFiles source;
    std::unique_ptr<StageRunContext> run;
};

TEST_P(ConsultationLookupTest, FindsTheConsultationOfTheExactDateTimeWithoutWriting)
{
    EXPECT_EQ(find(5, day), 42);
    EXPECT_EQ(find(6, morning), 43);
    EXPECT_EQ(countRows(*connection, "MOTCONSU"), 2);
    EXPECT_EQ(lastValueOf(*connection, "MOTCONSU"), 50);
    EXPECT_TRUE(run->ui.logLines().isEmpty());
}

TEST_P(ConsultationLookupTest, CreatesAMissingConsultationOnceAndRaisesTheKeyAtOnce)
{
    EXPECT_EQ(find(6, day), 51); // the morning's consultation is not the day's
    EXPECT_EQ(lastValueOf(*connection, "MOTCONSU"), 51);
    EXPECT_EQ(find(6, day), 51);
    EXPECT_EQ(find(7, day), 52);

    const QList<TableRow> rows = readTable(*connection, "MOTCONSU", "MOTCONSU_ID");
    ASSERT_EQ(rows.size(), 4);
    EXPECT_EQ(rows[2]["MOTCONSU_ID"].asInteger(), 51);
    EXPECT_EQ(rows[2]["PATIENTS_ID"].asInteger(), 6);
    EXPECT_EQ(rows[2]["DATE_CONSULTATION"].asDateTime(), day);
    EXPECT_EQ(rows[2]["MEDECINS_ID"].asInteger(), 3);
    EXPECT_EQ(rows[2]["MOTIF_DE_CONSULTATION"].asText(), "Importation de prescription");
    EXPECT_EQ(lastValueOf(*connection, "MOTCONSU"), 52);
    EXPECT_TRUE(run->ui.logLines().isEmpty());
}

// The refusal goes back to the stage, which logs and records it (its two failure lines).
TEST_P(ConsultationLookupTest, ARefusedNewConsultationGivesMinusOneAndItsRefusal)
{
    refuseInserts(*connection, "MOTCONSU", "NEW.PATIENTS_ID = 7");

    const FoundConsultation refused = found(7, wallClock(QDate(2026, 3, 6)));

    EXPECT_EQ(refused.id, -1);
    EXPECT_EQ(refused.failureWording, " : recherche de la consultation Tessaris du patient n°7 datée au 06/03/2026");
    EXPECT_FALSE(refused.failureMessage.isEmpty());
    EXPECT_TRUE(run->ui.logLines().isEmpty());
    EXPECT_EQ(countRows(*connection, "MOTCONSU"), 2);
    EXPECT_EQ(lastValueOf(*connection, "MOTCONSU"), 50);
    EXPECT_FALSE(run->Query2.isPending());
    EXPECT_EQ(find(5, day), 42);
}

// A consultation of the day bearing no positive number is no consultation to attach to.
TEST_P(ConsultationLookupTest, AConsultationWithoutAPositiveNumberGetsANewOne)
{
    insertRow(*connection, "MOTCONSU", {{"MOTCONSU_ID", 0}, {"PATIENTS_ID", 8}, {"DATE_CONSULTATION", day}});
    openWholeTable(run->Query2, consultationLookupText());

    EXPECT_EQ(find(8, day), 51);
    EXPECT_EQ(countRows(*connection, "MOTCONSU"), 4);
    EXPECT_EQ(lastValueOf(*connection, "MOTCONSU"), 51);
}

// A counter left behind the consultations it numbers (a target not emptied, a run that stopped)
// would give every new consultation a taken number: they are numbered past the highest held.
TEST_P(ConsultationLookupTest, NewConsultationsAreNumberedPastEveryNumberTheTargetHolds)
{
    insertRow(*connection, "MOTCONSU", {{"MOTCONSU_ID", 51}, {"PATIENTS_ID", 9}, {"DATE_CONSULTATION", day}});
    openWholeTable(run->Query2, consultationLookupText()); // "MOTCONSU" at 50: 51 is taken

    EXPECT_EQ(find(7, day), 52);
    EXPECT_EQ(find(8, day), 53);
    EXPECT_EQ(find(7, day), 52);
    EXPECT_EQ(lastValueOf(*connection, "MOTCONSU"), 53);
    EXPECT_TRUE(run->ui.logLines().isEmpty());

    // A group run again forgets the consultations it had created.
    run->Query2.mark();
    EXPECT_EQ(find(10, day), 54);
    run->Query2.backToMark();
    EXPECT_EQ(run->Query2.highestValue("MOTCONSU_ID"), 53);
}

INSTANTIATE_TEST_SUITE_P(Engines, ConsultationLookupTest, testEngines(), engineTestName);

} // namespace
} // namespace p1::test
