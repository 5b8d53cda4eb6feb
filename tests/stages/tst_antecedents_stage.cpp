#include "stages/antecedents_stage.h"

#include "common/date_time.h"
#include "common/errors.h"
#include "tests/stages/stage_test_context.h"

namespace p1::test {
namespace {

using AntecedentsStageTest = StageTest<importAntecedents>;

jet::Value on(int year, int month, int day, QTime time = QTime(0, 0))
{
    return wallClock(QDate(year, month, day), time);
}

void addAntecedent(jet::TableBuilder& table, qint64 entry, const jet::Value& patient, qint64 antecedent,
                   const jet::Value& date)
{
    table.row({entry, patient, antecedent, date});
}

// Patient 5 has the profession row of the patients stage, 6 a history from an earlier run, 8 a
// history of blanks, 9 and 11 no row; ANTECED_ID 42 is taken by a patient absent from the source.
TEST_P(AntecedentsStageTest, GathersEachPatientsHistoryInOneRowNumberedOnFromTheCounter)
{
    setLastValue(*connection, "ANTECED", 40);
    insertRow(*connection, "ANTECED", {{"ANTECED_ID", 3}, {"PATIENTS_ID", 5}, {"PROFESSION_ACTUELLE", "Boulanger"}});
    insertRow(*connection, "ANTECED", {{"ANTECED_ID", 4}, {"PATIENTS_ID", 6}, {"ANTECEDENTS_MEDICAUX", "Ancien"}});
    insertRow(*connection, "ANTECED", {{"ANTECED_ID", 9}, {"PATIENTS_ID", 8}, {"ANTECEDENTS_MEDICAUX", " \r "}});
    insertRow(*connection, "ANTECED", {{"ANTECED_ID", 42}, {"PATIENTS_ID", 77}});
    SourceFiles source;
    sample::antecedentTable(source.v4()).row({qint64(7), text("  Asthme ")}).row({qint64(8), text("Diabète")});
    jet::TableBuilder& history = sample::patientAntecedentTable(source.v4());
    addAntecedent(history, 12, qint64(5), 8, on(2003, 5, 12));
    addAntecedent(history, 11, qint64(5), 7, on(2001, 1, 2, QTime(10, 30)));
    addAntecedent(history, 20, qint64(6), 7, std::monostate());
    addAntecedent(history, 32, qint64(9), 7, on(2012, 3, 4));
    addAntecedent(history, 30, qint64(9), 8, on(2010, 1, 1));
    addAntecedent(history, 31, qint64(9), 99, on(2010, 2, 1));
    addAntecedent(history, 40, qint64(8), 7, on(1999, 9, 9));
    addAntecedent(history, 60, qint64(11), 7, on(2011, 3, 3));
    addAntecedent(history, 61, qint64(11), 8, on(2011, 4, 4));
    addAntecedent(history, 50, qint64(0), 7, on(2000, 1, 1));
    addAntecedent(history, 51, std::monostate(), 7, on(2000, 1, 1));
    addAntecedent(history, 52, qint64(-3), 7, on(2000, 1, 1));

    const QStringList log = importFrom(source);

    ASSERT_EQ(log.size(), 3);
    EXPECT_EQ(log[0], " : importation de l'antécédent du patient n°11 daté au 03/03/2011");
    EXPECT_TRUE(log[1].startsWith("   ERREUR : ") && log[1].size() > 12) << log[1].toStdString();
    EXPECT_EQ(log[2], "9 antécédents créés");

    const QMap<qint64, TableRow> rows = rowsById(*connection, "ANTECED", "ANTECED_ID");
    EXPECT_EQ(rows.keys(), (QList<qint64>{3, 4, 9, 41, 42, 43}));
    EXPECT_EQ(rows[3]["PATIENTS_ID"].asInteger(), 5);
    EXPECT_EQ(rows[3]["PROFESSION_ACTUELLE"].asText(), "Boulanger");
    EXPECT_EQ(rows[3]["ANTECEDENTS_MEDICAUX"].asText(),
              "Antécédent du 02/01/2001 10:30:00 : Asthme\rAntécédent du 12/05/2003 : Diabète");
    EXPECT_EQ(rows[4]["ANTECEDENTS_MEDICAUX"].asText(), "Ancien\rAntécédent du  : Asthme");
    EXPECT_EQ(rows[9]["ANTECEDENTS_MEDICAUX"].asText(), "Antécédent du 09/09/1999 : Asthme");
    EXPECT_EQ(rows[41]["PATIENTS_ID"].asInteger(), 9);
    EXPECT_TRUE(rows[41]["PROFESSION_ACTUELLE"].isNull());
    EXPECT_EQ(rows[41]["ANTECEDENTS_MEDICAUX"].asText(),
              "Antécédent du 01/01/2010 : Diabète\rAntécédent du 01/02/2010 : \r"
              "Antécédent du 04/03/2012 : Asthme");
    EXPECT_EQ(rows[42]["PATIENTS_ID"].asInteger(), 77);
    EXPECT_TRUE(rows[42]["ANTECEDENTS_MEDICAUX"].isNull());
    EXPECT_EQ(rows[43]["PATIENTS_ID"].asInteger(), 11);
    EXPECT_EQ(rows[43]["ANTECEDENTS_MEDICAUX"].asText(), "Antécédent du 04/04/2011 : Diabète");

    EXPECT_EQ(lastValueOf(*connection, "ANTECED"), 43);
    EXPECT_EQ(counts.read, 12);
    EXPECT_EQ(counts.skipped, 3);
    EXPECT_EQ(counts.stored, 2);
    EXPECT_EQ(counts.merged, 6);
    EXPECT_EQ(counts.refused, 1);
    EXPECT_TRUE(run->ui.statusHistory().contains("Patient n°5, antécédent daté au 02/01/2001 10:30:00 importé"));
    EXPECT_TRUE(run->ui.statusHistory().contains("Patient n°6, antécédent daté au  importé"));
}

// A source whose patient code is kept as text: an empty code is no code, and the lines give the
// code as the source writes it. ANTECED_ID 41 is taken.
TEST_P(AntecedentsStageTest, APatientCodeKeptAsTextIsSkippedWhenEmptyAndWrittenAsItStands)
{
    setLastValue(*connection, "ANTECED", 40);
    insertRow(*connection, "ANTECED", {{"ANTECED_ID", 41}, {"PATIENTS_ID", 99}});
    SourceFiles source;
    sample::antecedentTable(source.v4()).row({qint64(7), text("Asthme")});
    jet::TableBuilder& history = source.v4()
                                     .table("ANT ANTECEDENT PATIENT")
                                     .column("CODE ANTECEDENT PATIENT", jet::ColumnType::Long)
                                     .column("CODE PATIENT", jet::ColumnType::Text, 10)
                                     .column("CODE ANTECEDENT", jet::ColumnType::Long)
                                     .column("DATE", jet::ColumnType::DateTime);
    addAntecedent(history, 1, text("007"), 7, on(2001, 1, 2));
    addAntecedent(history, 2, text("007"), 7, on(2002, 1, 2));
    addAntecedent(history, 3, text(""), 7, on(2003, 1, 2));
    addAntecedent(history, 4, text("  "), 7, on(2004, 1, 2));

    const QStringList log = importFrom(source);

    ASSERT_EQ(log.size(), 3);
    EXPECT_EQ(log[0], " : importation de l'antécédent du patient n°007 daté au 02/01/2001");
    EXPECT_EQ(log[2], "2 antécédents créés");
    EXPECT_TRUE(run->ui.statusHistory().contains("Patient n°007, antécédent daté au 02/01/2002 importé"));
    EXPECT_EQ(counts.skipped, 2);
    const QMap<qint64, TableRow> rows = rowsById(*connection, "ANTECED", "ANTECED_ID");
    EXPECT_EQ(rows[42]["PATIENTS_ID"].asInteger(), 7);
    EXPECT_EQ(rows[42]["ANTECEDENTS_MEDICAUX"].asText(), "Antécédent du 02/01/2002 : Asthme");
}

TEST_P(AntecedentsStageTest, NoRowGivesTheSingularAndAFailingLabelEndsTheRun)
{
    SourceFiles none;
    sample::antecedentTable(none.v4());
    sample::patientAntecedentTable(none.v4());
    EXPECT_EQ(importFrom(none), QStringList{"0 antécédent créé"});
    EXPECT_EQ(lastValueOf(*connection, "ANTECED"), 0);

    SourceFiles withoutLabels;
    addAntecedent(sample::patientAntecedentTable(withoutLabels.v4()), 1, qint64(5), 7, on(2001, 1, 1));
    EXPECT_THROW(importFrom(withoutLabels), SourceError);
    EXPECT_EQ(countRows(*connection, "ANTECED"), 0);
}

INSTANTIATE_TEST_SUITE_P(Engines, AntecedentsStageTest, testEngines(), engineTestName);

} // namespace
} // namespace p1::test
