#include "stages/consultations_stage.h"

#include "common/date_time.h"
#include "tests/stages/stage_test_context.h"

namespace p1::test {
namespace {

using ConsultationsStageTest = StageTest<importConsultations>;

const QDateTime morning = wallClock(QDate(2020, 3, 12), QTime(10, 15, 30, 250));
const QDateTime afternoon = wallClock(QDate(2020, 3, 12), QTime(16, 0));
const QDateTime earlier = wallClock(QDate(2019, 6, 1), QTime(9, 0));
const QDateTime newYear = wallClock(QDate(2021, 1, 1), QTime(8, 0));

struct SourceConsultation {
    qint64 number;
    jet::Value patient;
    jet::Value date;
    qint64 type;
    jet::Value freeText;
};

void addConsultations(SourceFiles& source, const QList<SourceConsultation>& consultations)
{
    jet::TableBuilder& table = sample::consultationTable(source.v4());
    for (const SourceConsultation& consultation : consultations)
        table.row({consultation.number, consultation.patient, consultation.date, qint64(1),
                   consultation.type, consultation.freeText});
}

// Patient 3 has a consultation from an earlier run; MOTCONSU_ID 105 is taken by patient 4.
// Patient 5 has two consultations at one date-time (to the millisecond), one later that day and
// two undated ones.
TEST_P(ConsultationsStageTest, MergesEachPatientsConsultationsAtOneExactDateTime)
{
    setLastValue(*connection, "MOTCONSU", 100);
    insertRow(*connection, "MOTCONSU", {{"MOTCONSU_ID", 7}, {"PATIENTS_ID", 3}, {"DATE_CONSULTATION", earlier},
                                        {"MEDECINS_ID", 2}, {"MOTIF_DE_CONSULTATION", "Ancien motif"},
                                        {"AUTRES", "Ancien détail"}});
    insertRow(*connection, "MOTCONSU", {{"MOTCONSU_ID", 105}, {"PATIENTS_ID", 4}});
    SourceFiles source;
    sample::consultationTypeTable(source.v4())
        .row({qint64(1), text("  Visite ")})
        .row({qint64(2), text("Urgence")})
        .row({qint64(3), text("Contrôle")});
    addConsultations(source, {
        {11, qint64(5), morning, 2, text("  ")},
        {10, qint64(5), morning, 1, text("X\r\nsuite")},
        {12, qint64(5), afternoon, 3, std::monostate()},
        {13, qint64(3), earlier, 1, text("Nouveau")},
        {17, qint64(5), std::monostate(), 1, std::monostate()},
        {18, qint64(5), std::monostate(), 2, std::monostate()},
        {19, qint64(6), newYear, 1, std::monostate()},
        {20, qint64(6), newYear, 2, std::monostate()},
        {14, qint64(0), morning, 1, std::monostate()},
        {15, std::monostate(), morning, 1, std::monostate()},
        {16, qint64(-1), morning, 1, std::monostate()},
    });
    sample::consultationDetailTable(source.v4())
        .row({qint64(10), qint64(2), text("ligne 2"), qint64(1)})
        .row({qint64(10), qint64(1), text("ligne 1"), qint64(0)})
        .row({qint64(10), qint64(3), text("   "), qint64(2)})
        .row({qint64(11), qint64(1), text("ligne 3"), qint64(2)})
        .row({qint64(12), qint64(1), text("négatif"), qint64(-1)})
        .row({qint64(13), qint64(1), text("détail"), qint64(1)});

    const QStringList log = importFrom(source);

    ASSERT_EQ(log.size(), 3);
    EXPECT_EQ(log[0], " : importation de la consultation du patient n°6 datée au 01/01/2021 08:00:00");
    EXPECT_TRUE(log[1].startsWith("   ERREUR : ") && log[1].size() > 12) << log[1].toStdString();
    EXPECT_EQ(log[2], "7 consultations créées");

    const QMap<qint64, TableRow> rows = rowsById(*connection, "MOTCONSU", "MOTCONSU_ID");
    EXPECT_EQ(rows.keys(), (QList<qint64>{7, 101, 102, 103, 104, 105, 106}));
    EXPECT_EQ(rows[7]["MEDECINS_ID"].asInteger(), 2);
    EXPECT_EQ(rows[7]["MOTIF_DE_CONSULTATION"].asText(), "Ancien motif\rVisite\rNouveau");
    EXPECT_EQ(rows[7]["AUTRES"].asText(), "Ancien détail\r  détail");
    for (qint64 undated : {101, 102}) {
        EXPECT_EQ(rows[undated]["PATIENTS_ID"].asInteger(), 5);
        EXPECT_TRUE(rows[undated]["DATE_CONSULTATION"].isNull());
        EXPECT_TRUE(rows[undated]["AUTRES"].isNull());
    }
    EXPECT_EQ(rows[101]["MOTIF_DE_CONSULTATION"].asText(), "Visite");
    EXPECT_EQ(rows[102]["MOTIF_DE_CONSULTATION"].asText(), "Urgence");
    EXPECT_EQ(rows[103]["PATIENTS_ID"].asInteger(), 5);
    EXPECT_EQ(rows[103]["MEDECINS_ID"].asInteger(), 1);
    EXPECT_EQ(rows[103]["DATE_CONSULTATION"].asDateTime(), morning);
    EXPECT_EQ(rows[103]["MOTIF_DE_CONSULTATION"].asText(), "Visite\rX\r\nsuite\rUrgence");
    EXPECT_EQ(rows[103]["AUTRES"].asText(), "ligne 1\r  ligne 2\r    ligne 3");
    EXPECT_EQ(rows[104]["DATE_CONSULTATION"].asDateTime(), afternoon);
    EXPECT_EQ(rows[104]["MOTIF_DE_CONSULTATION"].asText(), "Contrôle");
    EXPECT_EQ(rows[104]["AUTRES"].asText(), "négatif");
    EXPECT_EQ(rows[105]["PATIENTS_ID"].asInteger(), 4);
    EXPECT_EQ(rows[106]["PATIENTS_ID"].asInteger(), 6);
    EXPECT_EQ(rows[106]["MOTIF_DE_CONSULTATION"].asText(), "Urgence");

    EXPECT_EQ(lastValueOf(*connection, "MOTCONSU"), 106);
    EXPECT_EQ(counts.read, 11);
    EXPECT_EQ(counts.skipped, 3);
    EXPECT_EQ(counts.stored, 5);
    EXPECT_EQ(counts.merged, 2);
    EXPECT_EQ(counts.refused, 1);
    EXPECT_TRUE(run->ui.statusHistory().contains("Patient n°5, consultation datée au 12/03/2020 10:15:30 importée"));
    EXPECT_TRUE(run->ui.statusHistory().contains("Patient n°5, consultation datée au  importée"));

    // Read back from the engine, every dated row is found again by the same source values.
    importFrom(source);
    EXPECT_EQ(rowsById(*connection, "MOTCONSU", "MOTCONSU_ID").keys(),
              (QList<qint64>{7, 101, 102, 103, 104, 105, 106, 107, 108}));
    EXPECT_EQ(lastValueOf(*connection, "MOTCONSU"), 108);
}

// The lines read before a failure stay; here none could be read, and each consultation is
// still stored.
TEST_P(ConsultationsStageTest, UnreadableDetailLinesAreNamedAndTheConsultationStored)
{
    SourceFiles source;
    sample::consultationTypeTable(source.v4()).row({qint64(1), text("Visite")});
    addConsultations(source, {{10, qint64(5), morning, 1, text("Texte")}});

    const QStringList log = importFrom(source);

    ASSERT_EQ(log.size(), 3);
    EXPECT_EQ(log[0], " : importation du complément de la consultation n°10 du patient n°5 "
                      "datée au 12/03/2020 10:15:30");
    EXPECT_TRUE(log[1].startsWith("   ERREUR : ") && log[1].size() > 12) << log[1].toStdString();
    EXPECT_EQ(log[2], "1 consultation créée");
    const QList<TableRow> rows = readTable(*connection, "MOTCONSU");
    ASSERT_EQ(rows.size(), 1);
    EXPECT_EQ(rows[0]["MOTCONSU_ID"].asInteger(), 1);
    EXPECT_EQ(rows[0]["MOTIF_DE_CONSULTATION"].asText(), "Visite\rTexte");
    EXPECT_EQ(lastValueOf(*connection, "MOTCONSU"), 1);
}

// Runs of refused rows amid stored ones, every row a group of its own: after a refused group the
// rows run one at a time, go ahead again once enough of them were stored, and run one at a time
// again at the next refusals. Each row ends as it ends committed on its own, its number used up.
TEST_P(ConsultationsStageTest, RunsOfRefusedRowsAmidStoredOnesEndAsRowByRow)
{
    connection->setGroupMilliseconds(0);
    refuseInserts(*connection, "MOTCONSU", "NEW.PATIENTS_ID <= 30 OR (NEW.PATIENTS_ID > 130 AND NEW.PATIENTS_ID <= 140)");
    SourceFiles source;
    sample::consultationTypeTable(source.v4()).row({qint64(1), text("Visite")});
    sample::consultationDetailTable(source.v4());
    QList<SourceConsultation> consultations;
    for (int patient = 1; patient <= 200; ++patient)
        consultations.append({patient, qint64(patient), morning, 1, std::monostate()});
    addConsultations(source, consultations);

    const QStringList log = importFrom(source);

    QList<int> refusedPatients;
    for (int patient = 1; patient <= 200; ++patient)
        if (patient <= 30 || (patient > 130 && patient <= 140))
            refusedPatients.append(patient);
    ASSERT_EQ(log.size(), 2 * refusedPatients.size() + 1);
    for (qsizetype failure = 0; failure < refusedPatients.size(); ++failure)
        EXPECT_EQ(log[2 * failure], QString(" : importation de la consultation du patient n°%1 datée au "
                                            "12/03/2020 10:15:30").arg(refusedPatients[failure]));
    EXPECT_EQ(log.last(), "160 consultations créées");
    EXPECT_EQ(counts.refused, 40);
    const QList<TableRow> rows = readTable(*connection, "MOTCONSU");
    ASSERT_EQ(rows.size(), 160);
    for (const TableRow& row : rows)
        EXPECT_EQ(row["MOTCONSU_ID"].asInteger(), row["PATIENTS_ID"].asInteger());
    EXPECT_EQ(lastValueOf(*connection, "MOTCONSU"), 200);
}

// A source whose patient code is kept as text: an empty code is no code, and the lines give the
// code as the source writes it. MOTCONSU_ID 41 is taken.
TEST_P(ConsultationsStageTest, APatientCodeKeptAsTextIsSkippedWhenEmptyAndWrittenAsItStands)
{
    setLastValue(*connection, "MOTCONSU", 40);
    insertRow(*connection, "MOTCONSU", {{"MOTCONSU_ID", 41}, {"PATIENTS_ID", 99}});
    SourceFiles source;
    sample::consultationTypeTable(source.v4()).row({qint64(1), text("Visite")});
    sample::consultationDetailTable(source.v4());
    jet::TableBuilder& consultations = source.v4()
                                           .table("CON CONSULTATION")
                                           .column("CodeTitre", jet::ColumnType::Long)
                                           .column("CODE PATIENT", jet::ColumnType::Text, 10)
                                           .column("Date", jet::ColumnType::DateTime)
                                           .column("CODE MEDECIN", jet::ColumnType::Long)
                                           .column("CODE TYPE CONSULTATION", jet::ColumnType::Long)
                                           .column("DONNEES", jet::ColumnType::Memo);
    consultations.row({qint64(1), text("007"), earlier, qint64(1), qint64(1), std::monostate()})
        .row({qint64(2), text("007"), newYear, qint64(1), qint64(1), std::monostate()})
        .row({qint64(3), text(""), newYear, qint64(1), qint64(1), std::monostate()});

    const QStringList log = importFrom(source);

    ASSERT_EQ(log.size(), 3);
    EXPECT_EQ(log[0], " : importation de la consultation du patient n°007 datée au 01/06/2019 09:00:00");
    EXPECT_EQ(log[2], "1 consultation créée");
    EXPECT_TRUE(run->ui.statusHistory().contains("Patient n°007, consultation datée au 01/01/2021 08:00:00 importée"));
    EXPECT_EQ(counts.skipped, 1);
    EXPECT_EQ(rowsById(*connection, "MOTCONSU", "MOTCONSU_ID")[42]["PATIENTS_ID"].asInteger(), 7);
}

INSTANTIATE_TEST_SUITE_P(Engines, ConsultationsStageTest, testEngines(), engineTestName);

} // namespace
} // namespace p1::test
