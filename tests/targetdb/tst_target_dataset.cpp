#include "common/date_time.h"
#include "common/errors.h"
#include "common/locale_texts.h"
#include "targetdb/rows_by_hash.h"
#include "targetdb/target_sql.h"
#include "targetdb/target_values.h"
#include "tests/support/target_databases.h"

#include <QSqlQuery>

#include <gtest/gtest.h>

#include <map>
#include <random>
#include <set>

using namespace p1;
using namespace p1::test;

namespace {

class TargetDatasetTest : public TargetEngineTest {
protected:
    void SetUp() override
    {
        setTextLocale(QLocale(QLocale::French, QLocale::France));
        TargetEngineTest::SetUp();
    }

    std::unique_ptr<TargetDataset> openTable(const QString& table, const QString& orderBy = {})
    {
        auto dataset = std::make_unique<TargetDataset>(*connection);
        dataset->setCommandText("SELECT * FROM " + table + (orderBy.isEmpty() ? "" : " ORDER BY " + orderBy));
        dataset->open();
        return dataset;
    }

    void appendPatient(TargetDataset& patients, int code, const QString& nom)
    {
        patients.append();
        patients.setValue("PATIENTS_ID", code);
        patients.setValue("NOM", nom);
        patients.post();
    }

    int count(const QString& tableAndCondition) { return countRows(*connection, tableAndCondition); }
};

TEST_P(TargetDatasetTest, StoredRowsAreReadBackWithTheirValuesAndTheTargetDefaults)
{
    auto patients = openTable("PATIENTS");
    EXPECT_EQ(patients->recordCount(), 0);
    patients->append();
    patients->setValue("patients_id", 12);
    patients->setValue("Nom", "Durand");
    patients->setValue("ADRESSE", QStringLiteral("1 rue X\rÉtage : 3"));
    patients->setValue("SEXE", 1);
    patients->post();
    EXPECT_FALSE(patients->isPending());
    EXPECT_EQ(patients->field("NOM").asText(), "Durand");

    const QList<TableRow> rows = readTable(*connection, "PATIENTS");
    ASSERT_EQ(rows.size(), 1);
    EXPECT_EQ(rows[0]["PATIENTS_ID"].asInteger(), 12);
    EXPECT_EQ(rows[0]["NOM"].asText(), "Durand");
    EXPECT_EQ(rows[0]["ADRESSE"].asText(), QStringLiteral("1 rue X\rÉtage : 3"));
    EXPECT_EQ(rows[0]["SEXE"].asInteger(), 1);
    // Columns not set keep the target's defaults, or stay null without one.
    EXPECT_EQ(rows[0]["PAYS"].asText(), "FRANCE");
    EXPECT_FALSE(rows[0]["DOSSIER_EXIT"].asBoolean());
    EXPECT_FALSE(rows[0]["DOSSIER_EXIT"].isNull());
    EXPECT_TRUE(rows[0]["PRENOM"].isNull());
    EXPECT_TRUE(rows[0]["NE_LE"].isNull());
}

TEST_P(TargetDatasetTest, AnEmptyTextStaysAnEmptyTextAndOnlyANullVariantStoresNull)
{
    auto patients = openTable("PATIENTS");
    patients->append();
    patients->setValue("PATIENTS_ID", 1);
    patients->setValue("NOM", QString());                 // null QString: still the empty text
    patients->setValue("PRENOM", QStringLiteral(""));
    patients->setValue("VILLE", QVariant());              // NULL
    patients->setValue("AUTRES_INFORMATIONS", QString()); // unbounded text too
    patients->setValue("SEXE", QStringLiteral(""));        // not a text column: cleared
    patients->setValue("NE_LE", QStringLiteral(" "));
    patients->post();
    EXPECT_EQ(count("PATIENTS WHERE SEXE IS NULL AND NE_LE IS NULL"), 1);

    EXPECT_EQ(count("PATIENTS WHERE NOM = '' AND PRENOM = '' AND AUTRES_INFORMATIONS = ''"), 1);
    EXPECT_EQ(count("PATIENTS WHERE VILLE IS NULL"), 1);
    const TableRow row = readTable(*connection, "PATIENTS").value(0);
    EXPECT_FALSE(row["NOM"].isNull());
    EXPECT_TRUE(row["VILLE"].isNull());
    EXPECT_EQ(row["VILLE"].asText(), "");
}

TEST_P(TargetDatasetTest, DateTimesRoundTripAsTheSameWallClock)
{
    const QList<QDateTime> dateTimes = {
        wallClock(QDate(1850, 3, 29)),
        wallClock(QDate(1899, 12, 30)),
        wallClock(QDate(1899, 12, 29), QTime(23, 59, 59)),
        wallClock(QDate(1900, 1, 1), QTime(12, 34, 56)),
        wallClock(QDate(2021, 3, 28), QTime(2, 30)), // no such local time in much of Europe
        wallClock(QDate(2021, 10, 31), QTime(2, 30)), // twice that local time
        wallClock(QDate(2024, 2, 29), QTime(23, 59, 59)),
    };
    auto consultations = openTable("MOTCONSU");
    for (int at = 0; at < dateTimes.size(); ++at) {
        consultations->append();
        consultations->setValue("MOTCONSU_ID", at + 1);
        consultations->setValue("DATE_CONSULTATION", dateTimes[at]);
        consultations->post();
    }
    const QList<TableRow> rows = readTable(*connection, "MOTCONSU", "MOTCONSU_ID");
    ASSERT_EQ(rows.size(), dateTimes.size());
    for (int at = 0; at < dateTimes.size(); ++at) {
        EXPECT_EQ(rows[at]["DATE_CONSULTATION"].asDateTime(), dateTimes[at]) << at;
        EXPECT_EQ(rows[at]["DATE_CONSULTATION"].asDateTime().timeSpec(), Qt::UTC);
    }
    // A statement reads the same wall clock, and finds it by a date-time parameter.
    TargetStatement find(*connection, {"SELECT * FROM MOTCONSU WHERE DATE_CONSULTATION=:date_consultation"});
    find.setParameter("date_consultation", dateTimes[3]);
    find.open();
    ASSERT_EQ(find.recordCount(), 1);
    EXPECT_EQ(find.field("motconsu_id").asInteger(), 4);
    EXPECT_EQ(find.field("DATE_CONSULTATION").asDateTime(), dateTimes[3]);

    // Given in another form, a date-time is stored as the wall clock it shows, never shifted.
    const QDateTime shown = wallClock(QDate(2021, 7, 14), QTime(10, 15));
    const QList<QDateTime> otherForms = {QDateTime(shown.date(), shown.time(), Qt::LocalTime),
                                         QDateTime(shown.date(), shown.time(), Qt::OffsetFromUTC, 7200)};
    for (const QDateTime& given : otherForms) {
        consultations->append();
        consultations->setValue("MOTCONSU_ID", 100);
        consultations->setValue("DATE_CONSULTATION", given);
        EXPECT_EQ(consultations->field("DATE_CONSULTATION").asDateTime(), shown);
        EXPECT_EQ(consultations->field("DATE_CONSULTATION").asDateTime().timeSpec(), Qt::UTC);
        consultations->cancel();
    }
}

TEST_P(TargetDatasetTest, DateTimeColumnsAcceptDatesAndTexts)
{
    auto physicians = openTable("MEDECINS");
    const QList<std::pair<QVariant, QDateTime>> cases = {
        {QDate(2002, 1, 1), wallClock(QDate(2002, 1, 1))},
        {QStringLiteral("01/01/2002"), wallClock(QDate(2002, 1, 1))},
        {QStringLiteral("13/02/2003 08:05:09"), wallClock(QDate(2003, 2, 13), QTime(8, 5, 9))},
        {QStringLiteral("2004-03-14 10:11:12"), wallClock(QDate(2004, 3, 14), QTime(10, 11, 12))},
    };
    for (int at = 0; at < cases.size(); ++at) {
        physicians->append();
        physicians->setValue("MEDECINS_ID", at + 1);
        physicians->setValue("DATE_EUROSTART", cases[at].first);
        physicians->post();
    }
    const QList<TableRow> rows = readTable(*connection, "MEDECINS", "MEDECINS_ID");
    ASSERT_EQ(rows.size(), cases.size());
    for (int at = 0; at < cases.size(); ++at)
        EXPECT_EQ(rows[at]["DATE_EUROSTART"].asDateTime(), cases[at].second) << at;
}

TEST_P(TargetDatasetTest, BooleansRoundTrip)
{
    auto subjects = openTable("PL_SUBJ");
    const QList<QVariant> written = {true, false, 1, 0, QVariant()};
    for (int at = 0; at < written.size(); ++at) {
        subjects->append();
        subjects->setValue("PL_SUBJ_ID", at + 1);
        subjects->setValue("USE_PLAN", written[at]);
        subjects->post();
    }
    subjects->append();
    subjects->setValue("PL_SUBJ_ID", 99); // USE_PLAN left to its default, true
    subjects->post();
    const QList<TableRow> rows = readTable(*connection, "PL_SUBJ", "PL_SUBJ_ID");
    ASSERT_EQ(rows.size(), 6);
    EXPECT_TRUE(rows[0]["USE_PLAN"].asBoolean());
    EXPECT_FALSE(rows[1]["USE_PLAN"].asBoolean());
    EXPECT_TRUE(rows[2]["USE_PLAN"].asBoolean());
    EXPECT_FALSE(rows[3]["USE_PLAN"].asBoolean());
    EXPECT_TRUE(rows[4]["USE_PLAN"].isNull());
    EXPECT_TRUE(rows[5]["USE_PLAN"].asBoolean());
    EXPECT_EQ(count("PL_SUBJ WHERE USE_PLAN IS NULL"), 1);
}

TEST_P(TargetDatasetTest, ARefusedDuplicateKeyKeepsTheRowPendingAndTheDatasetUsable)
{
    auto patients = openTable("PATIENTS");
    appendPatient(*patients, 7, "Martin");
    patients->append();
    patients->setValue("PATIENTS_ID", 7);
    patients->setValue("NOM", "Doublon");
    try {
        patients->post();
        FAIL() << "duplicate key stored";
    } catch (const TargetError& error) {
        EXPECT_FALSE(error.message().isEmpty());
        const QString expected = GetParam() == TargetEngine::Sqlite ? "UNIQUE constraint failed"
                                                                    : "duplicate key";
        EXPECT_TRUE(error.message().contains(expected)) << error.what();
    }
    EXPECT_TRUE(patients->isPending());
    patients->cancel();
    EXPECT_FALSE(patients->isPending());
    EXPECT_FALSE(patients->locate({"NOM"}, {"Doublon"}));
    appendPatient(*patients, 8, "Suivant");
    EXPECT_EQ(patients->recordCount(), 2);
    EXPECT_EQ(count("PATIENTS"), 2);
    EXPECT_TRUE(patients->locate({"PATIENTS_ID"}, {8}));
}

TEST_P(TargetDatasetTest, AnOverLongTextIsRefusedWithTheEnginesMessage)
{
    auto patients = openTable("PATIENTS");
    patients->append();
    patients->setValue("PATIENTS_ID", 1);
    patients->setValue("NOM", QString(51, 'x'));
    try {
        patients->post();
        FAIL() << "over-long text stored";
    } catch (const TargetError& error) {
        const QString expected = GetParam() == TargetEngine::Sqlite ? "CHECK constraint failed"
                                                                    : "value too long";
        EXPECT_TRUE(error.message().contains(expected)) << error.what();
    }
    patients->cancel();
    appendPatient(*patients, 1, QString(50, 'x'));
    EXPECT_EQ(count("PATIENTS"), 1);
}

TEST_P(TargetDatasetTest, AValueThatDoesNotFitTheColumnTypeIsRefusedAtStore)
{
    auto patients = openTable("PATIENTS");
    patients->append();
    patients->setValue("PATIENTS_ID", "douze");
    EXPECT_THROW(patients->post(), TargetError);
    EXPECT_TRUE(patients->isPending());
    patients->cancel();
    EXPECT_THROW(patients->setValue("NO_SUCH_COLUMN", 1), TargetError);
    EXPECT_EQ(count("PATIENTS"), 0);
}

TEST_P(TargetDatasetTest, EditUpdatesOnlyTheColumnsSetByTheKey)
{
    {
        auto patients = openTable("PATIENTS");
        appendPatient(*patients, 3, "Avant");
        appendPatient(*patients, 4, "Autre");
    }
    auto patients = openTable("PATIENTS", "PATIENTS_ID");
    ASSERT_TRUE(patients->locate({"PATIENTS_ID"}, {3}));
    patients->edit();
    patients->setValue("NOM", "Apres");
    EXPECT_EQ(patients->field("NOM").asText(), "Apres");
    patients->post();
    const QList<TableRow> rows = readTable(*connection, "PATIENTS", "PATIENTS_ID");
    ASSERT_EQ(rows.size(), 2);
    EXPECT_EQ(rows[0]["NOM"].asText(), "Apres");
    EXPECT_EQ(rows[0]["PAYS"].asText(), "FRANCE");
    EXPECT_EQ(rows[1]["NOM"].asText(), "Autre");
}

TEST_P(TargetDatasetTest, TextsKeepEveryCharacter)
{
    const QStringList texts = {QStringLiteral("O'Brien \\ \"guillemets\" ; -- %"),
                               QStringLiteral("Ligne 1\rLigne 2\r\nLigne 3\tfin"),
                               QStringLiteral("Œuvre éàç ß 日本 😀"), QStringLiteral("  blancs  ")};
    auto history = openTable("ANTECED");
    for (int at = 0; at < texts.size(); ++at) {
        history->append();
        history->setValue("ANTECED_ID", at + 1);
        history->setValue("ANTECEDENTS_MEDICAUX", texts[at]);
        history->setValue("PROFESSION_ACTUELLE", texts[at]);
        history->post();
    }
    const QList<TableRow> rows = readTable(*connection, "ANTECED", "ANTECED_ID");
    ASSERT_EQ(rows.size(), texts.size());
    for (int at = 0; at < texts.size(); ++at) {
        EXPECT_EQ(rows[at]["ANTECEDENTS_MEDICAUX"].asText(), texts[at]) << at;
        EXPECT_EQ(rows[at]["PROFESSION_ACTUELLE"].asText(), texts[at]) << at;
    }
}

TEST_P(TargetDatasetTest, EditingARowDeletedMeanwhileIsAnErrorNotASilentSuccess)
{
    auto patients = openTable("PATIENTS");
    appendPatient(*patients, 1, "Parti");
    TargetStatement remove(*connection, {"DELETE FROM PATIENTS"});
    remove.execute();
    patients->edit();
    patients->setValue("NOM", "Revenu");
    EXPECT_THROW(patients->post(), TargetError);
    patients->cancel();
    EXPECT_EQ(count("PATIENTS"), 0);
}

TEST_P(TargetDatasetTest, ACancelledEditKeepsTheStoredRow)
{
    auto history = openTable("ANTECED");
    history->append();
    history->setValue("ANTECED_ID", 1);
    history->setValue("ANTECEDENTS_MEDICAUX", "ligne 1");
    history->post();
    history->edit();
    history->setValue("ANTECEDENTS_MEDICAUX", "ligne 1\rligne 2");
    history->cancel();
    EXPECT_EQ(history->field("ANTECEDENTS_MEDICAUX").asText(), "ligne 1");
    EXPECT_EQ(readTable(*connection, "ANTECED").value(0)["ANTECEDENTS_MEDICAUX"].asText(), "ligne 1");
}

TEST_P(TargetDatasetTest, LocateFindsTheFirstRowInDatasetOrderIncludingAppendedRows)
{
    {
        auto history = openTable("ANTECED");
        for (int id : {1, 2, 3}) {
            history->append();
            history->setValue("ANTECED_ID", id);
            history->setValue("PATIENTS_ID", id == 3 ? 10 : 20);
            history->post();
        }
    }
    auto history = openTable("ANTECED", "ANTECED_ID DESC");
    ASSERT_TRUE(history->locate({"PATIENTS_ID"}, {20}));
    EXPECT_EQ(history->field("ANTECED_ID").asInteger(), 2);
    // The source gives codes as texts: the comparison is the column's.
    ASSERT_TRUE(history->locate({"patients_id"}, {"10"}));
    EXPECT_EQ(history->field("ANTECED_ID").asInteger(), 3);
    EXPECT_FALSE(history->locate({"PATIENTS_ID"}, {"dix"}));
    EXPECT_EQ(history->field("ANTECED_ID").asInteger(), 3); // stays put

    history->append();
    history->setValue("ANTECED_ID", 4);
    history->setValue("PATIENTS_ID", 30);
    history->post();
    history->first();
    ASSERT_TRUE(history->locate({"PATIENTS_ID"}, {30}));
    EXPECT_EQ(history->field("ANTECED_ID").asInteger(), 4);
    ASSERT_TRUE(history->locate({"PATIENTS_ID"}, {20}));
    EXPECT_EQ(history->field("ANTECED_ID").asInteger(), 2); // not the later appended ones
}

TEST_P(TargetDatasetTest, LocateFollowsEditedValues)
{
    auto patients = openTable("PATIENTS");
    appendPatient(*patients, 1, "Ancien");
    appendPatient(*patients, 2, "Ancien");
    ASSERT_TRUE(patients->locate({"NOM"}, {"Ancien"}));
    patients->edit();
    patients->setValue("NOM", "Nouveau");
    patients->post();
    ASSERT_TRUE(patients->locate({"NOM"}, {"Nouveau"}));
    EXPECT_EQ(patients->field("PATIENTS_ID").asInteger(), 1);
    ASSERT_TRUE(patients->locate({"NOM"}, {"Ancien"}));
    EXPECT_EQ(patients->field("PATIENTS_ID").asInteger(), 2);
    EXPECT_FALSE(patients->locate({"NOM"}, {"ancien"})); // exact match only
}

// The dataset keeps its rows packed: every row, not only the current one, and whether stored or
// read from the engine, gives back its nulls, its empty texts, its flags and its milliseconds.
TEST_P(TargetDatasetTest, EveryRowHeldGivesBackItsNullsFlagsAndMilliseconds)
{
    const QDateTime precise = wallClock(QDate(2019, 7, 14), QTime(8, 5, 9, 123));
    auto patients = openTable("PATIENTS", "PATIENTS_ID");
    for (int code = 1; code <= 3; ++code) {
        patients->append();
        patients->setValue("PATIENTS_ID", code);
        patients->setValue("NOM", code == 1 ? QVariant(QStringLiteral("")) : QVariant());
        patients->setValue("SEXE", code == 2 ? QVariant(0) : QVariant());
        patients->setValue("DOSSIER_EXIT", code == 3);
        patients->setValue("NE_LE", code == 3 ? QVariant(precise) : QVariant());
        patients->post();
    }
    const auto expectRows = [&](TargetDataset& dataset) {
        dataset.first();
        for (int code = 1; code <= 3; ++code, dataset.next()) {
            ASSERT_FALSE(dataset.eof());
            EXPECT_EQ(dataset.field("PATIENTS_ID").asInteger(), code);
            EXPECT_EQ(dataset.field("NOM").isNull(), code != 1) << code;
            EXPECT_EQ(dataset.field("NOM").value().typeId(), code == 1 ? QMetaType::QString : QMetaType::UnknownType);
            EXPECT_EQ(dataset.field("SEXE").isNull(), code != 2) << code;
            EXPECT_EQ(dataset.field("DOSSIER_EXIT").value(), QVariant(code == 3)) << code;
            EXPECT_EQ(dataset.field("NE_LE").isNull(), code != 3) << code;
        }
        ASSERT_TRUE(dataset.locate({"PATIENTS_ID"}, {3}));
        EXPECT_EQ(dataset.field("NE_LE").asDateTime(), precise);
        EXPECT_EQ(dataset.field("NE_LE").asDateTime().timeSpec(), Qt::UTC);
    };
    expectRows(*patients);
    patients->close();
    patients->open();
    expectRows(*patients);
}

// SQLite keeps a value of any type in any column: the dataset gives it back as it was, backToMark
// included.
TEST_P(TargetDatasetTest, AValueOfAnotherTypeThanItsColumnsComesBackAsItWas)
{
    const bool looselyTyped = GetParam().engine == TargetEngine::Sqlite && *GetParam().odbcDriver == '\0';
    const QVariant kept = looselyTyped ? QVariant(QStringLiteral("inconnu")) : QVariant(qint64(7));
    QSqlQuery insert(connection->database());
    ASSERT_TRUE(insert.exec(QStringLiteral("INSERT INTO PATIENTS (PATIENTS_ID, SEXE) VALUES (1, %1)")
                                .arg(looselyTyped ? "'inconnu'" : "7")));
    auto patients = openTable("PATIENTS", "PATIENTS_ID");
    ASSERT_EQ(patients->recordCount(), 1);
    EXPECT_EQ(patients->field("SEXE").value(), kept);
    patients->mark();
    patients->edit();
    patients->setValue("SEXE", 2);
    patients->post();
    EXPECT_EQ(patients->field("SEXE").asInteger(), 2);
    patients->backToMark();
    ASSERT_TRUE(patients->locate({"PATIENTS_ID"}, {1}));
    EXPECT_EQ(patients->field("SEXE").value(), kept);
}

// The locate index keeps a narrow hash of each key, not the key: two keys of the same hash are
// told apart by the rows' own values.
TEST_P(TargetDatasetTest, KeysSharingTheirHashAreFoundEachOnItsOwnRow)
{
    QHash<quint32, qint64> patientOfHash;
    qint64 first = 0;
    qint64 second = 0;
    for (qint64 patient = 1; patient < 2'000'000 && second == 0; ++patient) {
        LocateKey key;
        ASSERT_TRUE(setLocateKeyPart(key, 0, patient, ColumnKind::Integer));
        const quint32 hash = locateHash(key);
        if (const auto found = patientOfHash.constFind(hash); found != patientOfHash.cend()) {
            first = *found;
            second = patient;
        }
        patientOfHash.insert(hash, patient);
    }
    ASSERT_NE(second, 0);
    auto consultations = openTable("MOTCONSU");
    for (const qint64 patient : {second, first}) {
        consultations->append();
        consultations->setValue("MOTCONSU_ID", consultations->recordCount() + 1);
        consultations->setValue("PATIENTS_ID", patient);
        consultations->post();
    }
    ASSERT_TRUE(consultations->locate({"PATIENTS_ID"}, {first}));
    EXPECT_EQ(consultations->field("MOTCONSU_ID").asInteger(), 2);
    ASSERT_TRUE(consultations->locate({"PATIENTS_ID"}, {second}));
    EXPECT_EQ(consultations->field("MOTCONSU_ID").asInteger(), 1);
    consultations->edit();
    consultations->setValue("PATIENTS_ID", second + 1);
    consultations->post();
    EXPECT_FALSE(consultations->locate({"PATIENTS_ID"}, {second}));
    ASSERT_TRUE(consultations->locate({"PATIENTS_ID"}, {first}));
    EXPECT_EQ(consultations->field("MOTCONSU_ID").asInteger(), 2);
}

// What a group run again starts from, once the engine rolled it back: the rows as they were, and
// locates that find them so.
TEST_P(TargetDatasetTest, BackToMarkDropsTheRowsAppendedAndRestoresTheRowsChangedSince)
{
    connection->setCommitMode(CommitMode::Grouped);
    auto history = openTable("ANTECED");
    for (int id : {1, 2}) {
        history->append();
        history->setValue("ANTECED_ID", id);
        history->setValue("PATIENTS_ID", id * 10);
        history->setValue("ANTECEDENTS_MEDICAUX", QStringLiteral("avant ") + QString(50, u'x'));
        history->post();
    }
    ASSERT_TRUE(history->locate({"PATIENTS_ID"}, {10}));
    ASSERT_TRUE(connection->commitGroup());
    EXPECT_EQ(history->highestValue("ANTECED_ID"), 2);
    EXPECT_EQ(history->highestValue("PATIENTS_ID"), 20);
    history->mark();
    history->edit();
    history->setValue("PATIENTS_ID", 30);
    history->setValue("ANTECEDENTS_MEDICAUX", "après");
    history->post();
    history->append();
    history->setValue("ANTECED_ID", 3);
    history->setValue("PATIENTS_ID", 10);
    history->post();
    EXPECT_EQ(history->highestValue("ANTECED_ID"), 3);
    EXPECT_EQ(history->highestValue("PATIENTS_ID"), 30);
    history->append();
    history->setValue("ANTECED_ID", 4);

    connection->endGroup();
    history->backToMark();
    EXPECT_FALSE(history->isPending());
    EXPECT_EQ(history->recordCount(), 2);
    EXPECT_EQ(history->highestValue("ANTECED_ID"), 2);
    EXPECT_EQ(history->highestValue("PATIENTS_ID"), 20);
    EXPECT_FALSE(history->locate({"PATIENTS_ID"}, {30}));
    EXPECT_FALSE(history->locate({"ANTECED_ID"}, {3}));
    ASSERT_TRUE(history->locate({"PATIENTS_ID"}, {10}));
    EXPECT_EQ(history->field("ANTECED_ID").asInteger(), 1);
    EXPECT_EQ(history->field("ANTECEDENTS_MEDICAUX").asText(), QStringLiteral("avant ") + QString(50, u'x'));
    ASSERT_TRUE(history->locate({"PATIENTS_ID"}, {20}));
    EXPECT_EQ(history->field("ANTECED_ID").asInteger(), 2);
}

TEST_P(TargetDatasetTest, LocateOnAPatientAndADateTimeMatchesTheTimeOfDayExactly)
{
    auto consultations = openTable("MOTCONSU");
    const QDateTime morning = wallClock(QDate(2020, 3, 12), QTime(10, 15));
    consultations->append();
    consultations->setValue("MOTCONSU_ID", 1);
    consultations->setValue("PATIENTS_ID", 5);
    consultations->setValue("DATE_CONSULTATION", morning);
    consultations->post();
    consultations->close();
    consultations->open();

    const QStringList keys = {"PATIENTS_ID", "DATE_CONSULTATION"};
    EXPECT_TRUE(consultations->locate(keys, {5, morning}));
    EXPECT_TRUE(consultations->locate(keys, {"5", "12/03/2020 10:15:00"}));
    EXPECT_FALSE(consultations->locate(keys, {5, wallClock(QDate(2020, 3, 12))}));
    EXPECT_FALSE(consultations->locate(keys, {"5", "12/03/2020"}));
    EXPECT_FALSE(consultations->locate(keys, {6, morning}));

    consultations->append();
    consultations->setValue("MOTCONSU_ID", 2);
    consultations->setValue("PATIENTS_ID", "5");
    consultations->setValue("DATE_CONSULTATION", "12/03/2020");
    consultations->post();
    ASSERT_TRUE(consultations->locate(keys, {5, wallClock(QDate(2020, 3, 12))}));
    EXPECT_EQ(consultations->field("MOTCONSU_ID").asInteger(), 2);
}

// Long enough for a dataset not to keep it with every row: it must still come back whole.
QString longText(const QString& start)
{
    return start + QStringLiteral(" : ligne d'un dossier médical, « accentuée » et longue\r").repeated(3);
}

TEST_P(TargetDatasetTest, LongTextsComeBackWholeWhetherTheRowWasStoredOrRead)
{
    const QStringList keys = {"PATIENTS_ID", "DATE_CONSULTATION"};
    const QDateTime day = wallClock(QDate(2021, 6, 1));
    for (const bool reopened : {false, true}) {
        TargetStatement(*connection, {"DELETE FROM MOTCONSU"}).execute();
        auto consultations = openTable("MOTCONSU");
        for (int id : {1, 2, 3}) {
            consultations->append();
            consultations->setValue("MOTCONSU_ID", id);
            consultations->setValue("PATIENTS_ID", id);
            consultations->setValue("DATE_CONSULTATION", day);
            consultations->setValue("MOTIF_DE_CONSULTATION", longText("motif " + QString::number(id)));
            consultations->setValue("AUTRES", longText("détails " + QString::number(id)));
            consultations->post();
        }
        if (reopened)
            consultations->open();

        ASSERT_TRUE(consultations->locate(keys, {2, day})) << reopened;
        EXPECT_EQ(consultations->field("MOTIF_DE_CONSULTATION").asText(), longText("motif 2")) << reopened;
        consultations->edit();
        consultations->setValue("AUTRES", consultations->field("AUTRES").asText() + "ajout");
        consultations->post();
        ASSERT_TRUE(consultations->locate(keys, {1, day}));
        EXPECT_EQ(consultations->field("AUTRES").asText(), longText("détails 1")) << reopened;
        ASSERT_TRUE(consultations->locate(keys, {2, day}));
        EXPECT_EQ(consultations->field("AUTRES").asText(), longText("détails 2") + "ajout") << reopened;

        const auto stored = rowsById(*connection, "MOTCONSU", "MOTCONSU_ID");
        EXPECT_EQ(stored[2]["AUTRES"].asText(), longText("détails 2") + "ajout") << reopened;
        EXPECT_EQ(stored[2]["MOTIF_DE_CONSULTATION"].asText(), longText("motif 2")) << reopened;
        EXPECT_EQ(stored[3]["AUTRES"].asText(), longText("détails 3")) << reopened;
    }
}

TEST_P(TargetDatasetTest, ALocateComparesLongTextsOfEveryRow)
{
    const QString address = longText("adresse");
    for (const bool reopened : {false, true}) {
        TargetStatement(*connection, {"DELETE FROM PATIENTS"}).execute();
        auto patients = openTable("PATIENTS", "PATIENTS_ID");
        for (int id : {1, 2, 3}) {
            patients->append();
            patients->setValue("PATIENTS_ID", id);
            patients->setValue("ADRESSE", id == 1 ? longText("ailleurs") : address);
            patients->post();
        }
        if (reopened)
            patients->open();

        ASSERT_TRUE(patients->locate({"ADRESSE"}, {address})) << reopened;
        EXPECT_EQ(patients->field("PATIENTS_ID").asInteger(), 2);
        EXPECT_FALSE(patients->locate({"ADRESSE"}, {address.left(address.size() - 1)}));
        patients->edit();
        patients->setValue("ADRESSE", longText("déménagé"));
        patients->post();
        ASSERT_TRUE(patients->locate({"ADRESSE"}, {address}));
        EXPECT_EQ(patients->field("PATIENTS_ID").asInteger(), 3);
        ASSERT_TRUE(patients->locate({"ADRESSE"}, {longText("déménagé")}));
        EXPECT_EQ(patients->field("PATIENTS_ID").asInteger(), 2);
    }
}

TEST_P(TargetDatasetTest, ALongTextOfARowDeletedMeanwhileIsAnErrorNotAnEmptyText)
{
    auto history = openTable("ANTECED");
    for (int id : {1, 2}) {
        history->append();
        history->setValue("ANTECED_ID", id);
        history->setValue("PATIENTS_ID", id);
        history->setValue("ANTECEDENTS_MEDICAUX", longText("antécédent"));
        history->post();
    }
    TargetStatement(*connection, {"DELETE FROM ANTECED WHERE ANTECED_ID = 1"}).execute();
    ASSERT_TRUE(history->locate({"PATIENTS_ID"}, {1}));
    EXPECT_THROW(history->field("ANTECEDENTS_MEDICAUX"), TargetError);
    EXPECT_THROW(history->edit(), TargetError);
    EXPECT_FALSE(history->isPending());
    EXPECT_EQ(history->field("PATIENTS_ID").asInteger(), 1);
}

TEST_P(TargetDatasetTest, MovingAwayFromAPendingRowStoresIt)
{
    auto patients = openTable("PATIENTS");
    patients->append();
    patients->setValue("PATIENTS_ID", 1);
    patients->first();
    EXPECT_FALSE(patients->isPending());
    EXPECT_EQ(count("PATIENTS"), 1);
}

TEST_P(TargetDatasetTest, AClosedConnectionIsReopenedOnDemand)
{
    auto patients = openTable("PATIENTS");
    appendPatient(*patients, 1, "Avant");
    connection->close();
    EXPECT_FALSE(connection->isOpen());
    appendPatient(*patients, 2, "Apres");
    EXPECT_TRUE(connection->isOpen());
    connection->close();
    patients->open();
    EXPECT_EQ(patients->recordCount(), 2);
}

TEST_P(TargetDatasetTest, AMissingTableIsATargetErrorWithTheEnginesText)
{
    TargetDataset dataset(*connection);
    dataset.setCommandText("SELECT * FROM NO_SUCH_TABLE");
    try {
        dataset.open();
        FAIL() << "opened a missing table";
    } catch (const TargetError& error) {
        EXPECT_TRUE(error.message().contains("no_such_table", Qt::CaseInsensitive)) << error.what();
    }
    EXPECT_FALSE(dataset.isOpen());
}

INSTANTIATE_TEST_SUITE_P(Engines, TargetDatasetTest, testEngines(), engineTestName);

// Rows filed and dropped in any order, under hashes that share their slot or probe past each
// other's, as the table grows: each hash keeps exactly its rows, lowest first, and only them.
TEST(RowsByHash, EveryHashKeepsExactlyItsRowsThroughAddsAndRemovals)
{
    QList<quint32> hashes;
    for (quint32 next = 0; next < 150; ++next)
        hashes.append({next, next << 12, 0xffff'ffffu - next}); // neighbours, one home, the end
    RowsByHash index;
    std::map<quint32, std::set<int>> expected;
    const auto expectSame = [&](quint32 hash) {
        const std::span<const int> rows = index.rowsWith(hash);
        const std::set<int>& filed = expected[hash];
        return std::vector<int>(rows.begin(), rows.end()) == std::vector<int>(filed.begin(), filed.end());
    };
    std::mt19937 random(25);
    for (int step = 0; step < 30'000; ++step) {
        const quint32 hash = hashes.at(random() % hashes.size());
        const int row = int(random() % 3);
        std::set<int>& filed = expected[hash];
        if (filed.erase(row) > 0) {
            index.remove(hash, row);
        } else {
            filed.insert(row);
            index.add(hash, row);
        }
        ASSERT_TRUE(expectSame(hash)) << step;
    }
    for (quint32 hash : hashes)
        EXPECT_TRUE(expectSame(hash)) << hash;
    EXPECT_TRUE(index.rowsWith(12345).empty());
    index.remove(12345, 1);
}

} // namespace
