#include "stages/prescriptions_stage.h"

#include "common/date_time.h"
#include "tests/stages/stage_test_context.h"

namespace p1::test {
namespace {

using Kind = RecordingUi::DialogKind;

const jet::Value none = std::monostate();

QDateTime at(int month, int day, int hour = 0, int minute = 0)
{
    return wallClock(QDate(2026, month, day), QTime(hour, minute));
}

// [ORD ORDONNANCE]: CODE ORDONNANCE, CODE PATIENT, CODE MEDECIN, DATE CONSULTATION, DATE.
// [ORD PRESCRIPTION]: CODE ORDONNANCE, CODE ORDRE, NOM, POSO, REMARQUE, COMMENTAIRE.
class PrescriptionsStageTest : public StageTest<importPrescriptions> {
protected:
    jet::TableBuilder& prescriptions() { return sample::prescriptionTable(source.ordo()); }
    jet::TableBuilder& items() { return sample::prescriptionItemTable(source.ordo()); }

    void addConsultation(qint64 id, qint64 patient, const QDateTime& date)
    {
        insertRow(*connection, "MOTCONSU", {{"MOTCONSU_ID", id}, {"PATIENTS_ID", patient},
                                            {"DATE_CONSULTATION", date}});
    }

    QList<TableRow> prescriptionRows()
    {
        return readTable(*connection, "DATAPRESCR", "DATAPRESCR_ID");
    }

    SourceFiles source;
};

TEST_P(PrescriptionsStageTest, MergesEachPatientsDayIntoOneRowAttachedToItsConsultation)
{
    setLastValue(*connection, "DATAPRESCR", 10);
    setLastValue(*connection, "MOTCONSU", 100);
    addConsultation(77, 8, at(3, 7));
    insertRow(*connection, "DATAPRESCR", {{"DATAPRESCR_ID", 5}, {"MOTCONSU_ID", 70},
                                             {"PATIENTS_ID", 9}, {"DATE_CONSULTATION", at(4, 1)},
                                             {"PRESCRIPTION", "Ancien"}});
    insertRow(*connection, "DATAPRESCR", {{"DATAPRESCR_ID", 6}, {"MOTCONSU_ID", 71},
                                             {"PATIENTS_ID", 9}, {"DATE_CONSULTATION", at(4, 2, 10)},
                                             {"PRESCRIPTION", "Du matin"}});
    prescriptions()
        .row({qint64(1), qint64(5), qint64(3), at(3, 5, 9, 15), at(3, 5, 9, 20)})
        .row({qint64(2), qint64(5), qint64(4), at(3, 5, 16), at(3, 5, 16, 5)})
        .row({qint64(3), qint64(0), qint64(3), at(3, 5), at(3, 5)})
        .row({qint64(4), none, qint64(3), at(3, 5), at(3, 5)})
        .row({qint64(5), qint64(-2), qint64(3), at(3, 5), at(3, 5)})
        .row({qint64(6), qint64(8), qint64(3), at(3, 7, 11), at(3, 7)})
        .row({qint64(7), qint64(9), qint64(3), at(4, 1, 8), at(4, 1, 8)})
        .row({qint64(8), qint64(9), qint64(4), at(4, 2, 10), at(4, 2, 10)});
    items()
        .row({qint64(1), qint64(2), text("Doliprane 1000"), text("1 cp matin et soir"), text("  "), none})
        .row({qint64(1), qint64(1), text("Amoxicilline"), text(""), text(""), text(" ")})
        .row({qint64(2), qint64(1), text(""), text("3 fois par jour"), none, text("Si douleur")})
        .row({qint64(3), qint64(1), text("Jamais lu"), none, none, none})
        .row({qint64(7), qint64(1), text("  Sirop  "), text("  5 ml  "), none, none})
        .row({qint64(8), qint64(1), text("Vitamine D"), none, none, text("Une ampoule")});

    EXPECT_EQ(importFrom(source), QStringList{"5 pescriptions créées"});

    const QList<TableRow> rows = prescriptionRows();
    ASSERT_EQ(rows.size(), 5);
    struct Expected {
        qint64 id, consultation, patient;
        QDateTime day;
        QString prescription;
    };
    const QList<Expected> expected = {
        {5, 70, 9, at(4, 1), "Ancien\r\r  Sirop  \r  5 ml  "},
        {6, 71, 9, at(4, 2, 10), "Du matin"},
        {11, 101, 5, at(3, 5),
         "Amoxicilline\r\rDoliprane 1000\r1 cp matin et soir\r\r\r3 fois par jour\rSi douleur"},
        {12, 77, 8, at(3, 7), ""},
        {13, 102, 9, at(4, 2), "Vitamine D\rUne ampoule"},
    };
    for (int n = 0; n < expected.size(); ++n) {
        SCOPED_TRACE(n);
        EXPECT_EQ(rows[n]["DATAPRESCR_ID"].asInteger(), expected[n].id);
        EXPECT_EQ(rows[n]["MOTCONSU_ID"].asInteger(), expected[n].consultation);
        EXPECT_EQ(rows[n]["PATIENTS_ID"].asInteger(), expected[n].patient);
        EXPECT_EQ(rows[n]["DATE_CONSULTATION"].asDateTime(), expected[n].day);
        EXPECT_EQ(rows[n]["PRESCRIPTION"].asText(), expected[n].prescription);
    }

    const QList<TableRow> consultations = readTable(*connection, "MOTCONSU", "MOTCONSU_ID");
    ASSERT_EQ(consultations.size(), 3);
    EXPECT_EQ(consultations[1]["MOTCONSU_ID"].asInteger(), 101);
    EXPECT_EQ(consultations[1]["PATIENTS_ID"].asInteger(), 5);
    EXPECT_EQ(consultations[1]["DATE_CONSULTATION"].asDateTime(), at(3, 5));
    EXPECT_EQ(consultations[1]["MEDECINS_ID"].asInteger(), 3);
    EXPECT_EQ(consultations[1]["MOTIF_DE_CONSULTATION"].asText(), "Importation de prescription");
    EXPECT_EQ(consultations[2]["MEDECINS_ID"].asInteger(), 4);

    EXPECT_EQ(lastValueOf(*connection, "DATAPRESCR"), 13);
    EXPECT_EQ(lastValueOf(*connection, "MOTCONSU"), 102);
    EXPECT_EQ(counts.stored, 3);
    EXPECT_EQ(counts.merged, 2);
    EXPECT_EQ(counts.skipped, 3);
    EXPECT_EQ(run->ui.progressMaximum(), 8);
    EXPECT_TRUE(run->ui.statusHistory().contains("Patient n°5, prescription datée au 05/03/2026 16:05:00 importée"));
    EXPECT_TRUE(run->ui.statusHistory().contains("Patient n°8, prescription datée au 07/03/2026 importée"));
    EXPECT_TRUE(run->ui.dialogs().isEmpty());
}

TEST_P(PrescriptionsStageTest, ARefusedConsultationOrRowCostsOnlyItsPrescription)
{
    setLastValue(*connection, "DATAPRESCR", 10);
    setLastValue(*connection, "MOTCONSU", 100);
    refuseInserts(*connection, "MOTCONSU", "NEW.PATIENTS_ID = 5"); // no consultation for patient 5
    addConsultation(50, 6, at(3, 6));
    addConsultation(51, 7, at(3, 7));
    insertRow(*connection, "DATAPRESCR", {{"DATAPRESCR_ID", 12}, {"PATIENTS_ID", 1}});
    prescriptions()
        .row({qint64(1), qint64(5), qint64(3), at(3, 5, 9), at(3, 5, 9)})
        .row({qint64(2), qint64(6), qint64(3), at(3, 6, 9), at(3, 6, 9, 30)})
        .row({qint64(3), qint64(7), qint64(3), at(3, 7, 9), at(3, 7, 9)});
    items().row({qint64(2), qint64(1), text("Doliprane"), none, none, none});

    const QStringList log = importFrom(source);

    ASSERT_EQ(log.size(), 5);
    EXPECT_EQ(log[0], " : recherche de la consultation Tessaris du patient n°5 datée au 05/03/2026");
    EXPECT_TRUE(log[1].startsWith("   ERREUR : "));
    EXPECT_EQ(log[2], " : importation de la prescription du patient n°7 datée au 07/03/2026 09:00:00");
    EXPECT_TRUE(log[3].startsWith("   ERREUR : "));
    EXPECT_EQ(log[4], "1 prescription créée");

    const QList<TableRow> rows = prescriptionRows();
    ASSERT_EQ(rows.size(), 2);
    EXPECT_EQ(rows[0]["DATAPRESCR_ID"].asInteger(), 11); // no number for patient 5
    EXPECT_EQ(rows[0]["MOTCONSU_ID"].asInteger(), 50);
    EXPECT_EQ(rows[0]["PRESCRIPTION"].asText(), "Doliprane");
    EXPECT_EQ(lastValueOf(*connection, "DATAPRESCR"), 12); // 12 was used by the refused row
    EXPECT_EQ(counts.refused, 2);
}

// Refusals of a counter's update above 13: row by row the rows numbered up to 13 keep it.
void refuseCounterAbove13(TargetConnection& connection, const QString& key)
{
    const QString condition = "NEW.KEY_NAME = '" + key + "' AND NEW.LAST_VALUE > 13";
    QStringList statements;
    if (connection.engine() == TargetEngine::Postgres)
        statements << "CREATE FUNCTION refuse_counter() RETURNS trigger AS $$ BEGIN IF " + condition
                          + " THEN RAISE EXCEPTION 'compteur refusé'; END IF; RETURN NEW; END $$ LANGUAGE plpgsql"
                   << "CREATE TRIGGER refuse_counter BEFORE UPDATE ON ID_VALUES FOR EACH ROW EXECUTE FUNCTION "
                      "refuse_counter()";
    else
        statements << "CREATE TRIGGER refuse_counter BEFORE UPDATE ON ID_VALUES WHEN " + condition
                          + " BEGIN SELECT RAISE(ABORT, 'compteur refusé'); END";
    for (const QString& statement : statements)
        TargetStatement(connection, {statement}).execute();
}

// The rows after a group that ran again keep their counter for the commit: refused there, it is
// kept again row by row, as each row keeps it committed on its own.
TEST_P(PrescriptionsStageTest, ACounterRefusedAtTheCommitIsKeptAsRowByRow)
{
    setLastValue(*connection, "DATAPRESCR", 10);
    refuseInserts(*connection, "MOTCONSU", "NEW.PATIENTS_ID = 5");
    refuseCounterAbove13(*connection, "DATAPRESCR");
    jet::TableBuilder& table = prescriptions()
                                   .row({qint64(1), qint64(5), qint64(3), at(3, 5, 9), at(3, 5, 9)})
                                   .row({qint64(2), qint64(5), qint64(3), at(3, 4, 9), at(3, 4, 9)});
    for (int code = 3; code <= 8; ++code) {
        addConsultation(50 + code, 6, at(4, code));
        table.row({qint64(code), qint64(6), qint64(3), at(4, code, 9), at(4, code, 9)});
    }
    items();

    const QStringList log = importFrom(source);

    EXPECT_EQ(prescriptionRows().size(), 6) << log.join('\n').toStdString();
    EXPECT_EQ(counts.refused, 2);
    EXPECT_EQ(lastValueOf(*connection, "DATAPRESCR"), 13);
}

TEST_P(PrescriptionsStageTest, UnreadableItemsAreShownAndSkipThePrescription)
{
    prescriptions()
        .row({qint64(4), qint64(5), qint64(3), at(3, 5), at(3, 5)})
        .row({qint64(0), qint64(0), qint64(3), at(3, 5), at(3, 5)});

    EXPECT_EQ(importFrom(source), QStringList{"0 prescription créée"});

    ASSERT_EQ(run->ui.dialogs().size(), 1);
    EXPECT_EQ(run->ui.dialogs()[0].kind, Kind::Error);
    EXPECT_TRUE(run->ui.dialogs()[0].text.startsWith("Erreur lors de la recherche de la prescription n°4\r"));
    EXPECT_GT(run->ui.dialogs()[0].text.size(), QString("Erreur lors de la recherche de la prescription n°4\r").size());
    EXPECT_EQ(countRows(*connection, "DATAPRESCR"), 0);
    EXPECT_EQ(countRows(*connection, "MOTCONSU"), 0);
    EXPECT_EQ(lastValueOf(*connection, "DATAPRESCR"), 0);
    EXPECT_EQ(counts.refused, 1);
}

INSTANTIATE_TEST_SUITE_P(Engines, PrescriptionsStageTest, testEngines(), engineTestName);

} // namespace
} // namespace p1::test
