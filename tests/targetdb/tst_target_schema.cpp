#include "common/errors.h"
#include "targetdb/target_schema.h"
#include "tests/support/target_databases.h"

#include <gtest/gtest.h>

#include <QFile>

using namespace p1;
using namespace p1::test;

namespace {

// The columns the import stages write, table by table.
const QList<std::pair<QString, QStringList>> writtenColumns = {
    {"MEDECINS", {"MEDECINS_ID", "NOM", "PRENOM", "SYSTEM_FLAGS", "N_AGENDA", "N_MODELE", "N_USE_PLAN",
                  "ACCESSTOSV", "DATE_EUROSTART", "SPECIALISATION", "ADRESSE", "CP", "VILLE",
                  "TELEPHONE", "FAX", "ACCESS_CODE"}},
    {"PL_SUBJ", {"PL_SUBJ_ID", "NAME", "OWNER_TYPE", "OWNER_ID", "USE_PLAN", "SUBJ_ORDER"}},
    {"MEDTRAIT", {"MEDTRAIT_ID", "NOM", "PRENOM", "SPECIALISATION", "ADRESSE", "CP", "VILLE", "PAYS",
                  "TEL", "TELBUREAU", "FAX", "COMMENTAIRE"}},
    {"PATIENTS", {"PATIENTS_ID", "MEDECINS_ID", "NOM", "PRENOM", "NE_LE", "ANCIEN_NUMERO_DE_DOSSIER",
                  "TITRE", "SEXE", "NOM_DE_JEUNE_FILLE", "TELEPHONE", "TELEPHONE_BUREAU", "N_SS", "FAX",
                  "ADRESSE", "CP", "VILLE", "DOSSIER_EXIT", "NOM_DE_L_ASSURE", "AUTRES_INFORMATIONS"}},
    {"ANTECED", {"ANTECED_ID", "PATIENTS_ID", "PROFESSION_ACTUELLE", "ANTECEDENTS_MEDICAUX"}},
    {"PATMEDTR", {"PATMEDTR_ID", "PATIENTS_ID", "MEDTRAIT_ID"}},
    {"MOTCONSU", {"MOTCONSU_ID", "PATIENTS_ID", "DATE_CONSULTATION", "MEDECINS_ID",
                  "MOTIF_DE_CONSULTATION", "AUTRES"}},
    {"LETTERS", {"LETTERS_ID", "PATIENTS_ID", "DATE_CONSULTATION", "DESCRIPTION", "FILENAME"}},
    {prescriptionsTableName(), {prescriptionsTableName() + "_ID", "MOTCONSU_ID", "PATIENTS_ID",
                                "DATE_CONSULTATION", "PRESCRIPTION"}},
};

const QStringList purgedTables = {
    "PATMEDTR", "MEDTRAIT", "IMAGES", "ANTECED", "LETTERS", "LETTERS_EMAILED", "LETTERS_WORKLIST",
    "SIMPLIFY", "TASKS", "IMPDATA", "PLANNING", "PL_SUBJ_PARAM", "PL_SUBJ_EXAM", "PL_SUBJ", "CPACTES",
    "CPBANKS", "CPMAIN", "CPGEST", "CPORDPAY", "CPORG", "CPREM", "CPTRANS", "CPNLOTS", "CPSVFACT",
    "CPSVMED", "CPSVNOE", "CPSVXMD2", "VIDAL", "DICOM_EXPORTS", "FAMILY_ID", "DATA_PRESCR_BLANKS",
    "DRUGS_CURRENT", "MOTCONSU", "PATIENTS", "MEDECINS"};

QStringList upperCased(QStringList names)
{
    for (QString& name : names)
        name = name.toUpper();
    return names;
}

QStringList columnsOf(TargetConnection& connection, const QString& table)
{
    TargetDataset dataset(connection);
    dataset.setCommandText("SELECT * FROM " + table);
    dataset.open();
    return upperCased(dataset.fieldNames());
}

TEST(SqlServerSchemaScript, IsTheOneTheDescriptionGives)
{
    QFile script(QStringLiteral(P1_SOURCE_DIR) + "/schema/target_schema_sqlserver.sql");
    ASSERT_TRUE(script.open(QIODevice::ReadOnly));
    EXPECT_EQ(QString::fromUtf8(script.readAll()), sqlServerSchemaScript());
}

class TargetSchemaTest : public TargetEngineTest {};

TEST_P(TargetSchemaTest, HasEveryColumnTheImportWrites)
{
    for (const auto& [table, columns] : writtenColumns) {
        const QStringList present = columnsOf(*connection, table);
        for (const QString& column : columns)
            EXPECT_TRUE(present.contains(column)) << table.toStdString() << "." << column.toStdString();
    }
}

TEST_P(TargetSchemaTest, CountersTableHasTheKeyThenTheValueAndTakesAKeyTwice)
{
    EXPECT_EQ(columnsOf(*connection, "ID_VALUES"), QStringList({"KEY_NAME", "LAST_VALUE"}));
    TargetStatement insert(*connection, {"INSERT INTO ID_VALUES values (:chaine, 0)"});
    insert.setParameter("chaine", "PATIENTS");
    insert.execute();
    EXPECT_NO_THROW(insert.execute());
    EXPECT_EQ(countRows(*connection, "ID_VALUES WHERE KEY_NAME = 'PATIENTS' AND LAST_VALUE = 0"), 2);
}

TEST_P(TargetSchemaTest, HasEveryTableThePurgeEmpties)
{
    const QStringList names = upperCased(connection->tableAndViewNames());
    for (const QString& table : purgedTables) {
        EXPECT_TRUE(names.contains(table)) << table.toStdString();
        TargetStatement purge(*connection, {"DELETE FROM " + table});
        EXPECT_NO_THROW(purge.execute()) << table.toStdString();
    }
}

TEST_P(TargetSchemaTest, IdentifierColumnsRefuseADuplicate)
{
    for (const auto& [table, columns] : writtenColumns) {
        TargetStatement insert(*connection, {"INSERT INTO " + table + " (" + columns.first() + ") VALUES (1)"});
        insert.execute();
        EXPECT_THROW(insert.execute(), TargetError) << table.toStdString();
    }
}

INSTANTIATE_TEST_SUITE_P(Engines, TargetSchemaTest, testEngines(), engineTestName);

} // namespace
