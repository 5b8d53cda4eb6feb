#include "targetdb/target_schema.h"

#include <vector>

namespace p1 {

namespace {

using Type = SchemaType;

struct ColumnDefinition {
    QString name;
    Type type;
    int size = 0;                      // characters of a Text column
    const char* defaultValue = nullptr; // "false", "true", a number, or a text without quotes
};

struct TableDefinition {
    QString name;
    std::vector<ColumnDefinition> columns;
};

struct IndexDefinition {
    QString table;
    QStringList columns;
};

constexpr int nameSize = 50;
constexpr int phoneSize = 30; // two numbers typed in one field still fit, once grouped by two
constexpr int labelSize = 100;
constexpr int addressSize = 255;

const std::vector<TableDefinition>& writtenTables()
{
    static const std::vector<TableDefinition> tables = {
        {"MEDECINS",
         {{"MEDECINS_ID", Type::Key},
          {"NOM", Type::Text, nameSize},
          {"PRENOM", Type::Text, nameSize},
          {"SYSTEM_FLAGS", Type::Text, 60},
          {"N_AGENDA", Type::Integer},
          {"N_MODELE", Type::Integer, 0, "1"},
          {"N_USE_PLAN", Type::Boolean, 0, "false"},
          {"ACCESSTOSV", Type::Boolean, 0, "false"},
          {"DATE_EUROSTART", Type::DateTime},
          {"SPECIALISATION", Type::Text, labelSize},
          {"ADRESSE", Type::Text, addressSize},
          {"CP", Type::Text, 10},
          {"VILLE", Type::Text, nameSize},
          {"TELEPHONE", Type::Text, phoneSize},
          {"FAX", Type::Text, phoneSize},
          {"ACCESS_CODE", Type::Text, nameSize}}},
        {"PL_SUBJ",
         {{"PL_SUBJ_ID", Type::Key},
          {"NAME", Type::Text, 2 * nameSize + 1},
          {"OWNER_TYPE", Type::Integer},
          {"OWNER_ID", Type::Integer},
          {"USE_PLAN", Type::Boolean, 0, "true"},
          {"SUBJ_ORDER", Type::Integer}}},
        {"MEDTRAIT",
         {{"MEDTRAIT_ID", Type::Key},
          {"NOM", Type::Text, nameSize},
          {"PRENOM", Type::Text, nameSize},
          {"SPECIALISATION", Type::Text, labelSize},
          {"ADRESSE", Type::Text, addressSize},
          {"CP", Type::Text, 10},
          {"VILLE", Type::Text, nameSize},
          {"PAYS", Type::Text, nameSize},
          {"TEL", Type::Text, phoneSize},
          {"TELBUREAU", Type::Text, phoneSize},
          {"FAX", Type::Text, phoneSize},
          {"COMMENTAIRE", Type::Memo}}},
        {"PATIENTS",
         {{"PATIENTS_ID", Type::Key},
          {"MEDECINS_ID", Type::Integer},
          {"NOM", Type::Text, nameSize},
          {"PRENOM", Type::Text, nameSize},
          {"NE_LE", Type::DateTime},
          {"ANCIEN_NUMERO_DE_DOSSIER", Type::Text, 10},
          {"TITRE", Type::Integer},
          {"SEXE", Type::Integer},
          {"NOM_DE_JEUNE_FILLE", Type::Text, nameSize},
          {"TELEPHONE", Type::Text, phoneSize},
          {"TELEPHONE_BUREAU", Type::Text, phoneSize},
          {"N_SS", Type::Text, 21},
          {"FAX", Type::Text, phoneSize},
          {"ADRESSE", Type::Text, addressSize + 60}, // the floor and building code lines added
          {"CP", Type::Text, 10},
          {"VILLE", Type::Text, nameSize},
          {"PAYS", Type::Text, nameSize, "FRANCE"},
          {"DOSSIER_EXIT", Type::Boolean, 0, "false"},
          {"NOM_DE_L_ASSURE", Type::Text, 2 * nameSize + 1},
          {"AUTRES_INFORMATIONS", Type::Memo}}},
        {"ANTECED",
         {{"ANTECED_ID", Type::Key},
          {"PATIENTS_ID", Type::Integer},
          {"PROFESSION_ACTUELLE", Type::Text, labelSize},
          {"ANTECEDENTS_MEDICAUX", Type::Memo}}},
        {"PATMEDTR",
         {{"PATMEDTR_ID", Type::Key}, {"PATIENTS_ID", Type::Integer}, {"MEDTRAIT_ID", Type::Integer}}},
        {"MOTCONSU",
         {{"MOTCONSU_ID", Type::Key},
          {"PATIENTS_ID", Type::Integer},
          {"DATE_CONSULTATION", Type::DateTime},
          {"MEDECINS_ID", Type::Integer},
          {"MOTIF_DE_CONSULTATION", Type::Memo},
          {"AUTRES", Type::Memo}}},
        {"LETTERS",
         {{"LETTERS_ID", Type::Key},
          {"PATIENTS_ID", Type::Integer},
          {"Date_Consultation", Type::DateTime},
          {"Description", Type::Text, addressSize},
          {"FileName", Type::Text, addressSize}}},
        {prescriptionsTableName(),
         {{prescriptionsTableName() + "_ID", Type::Key},
          {"MOTCONSU_ID", Type::Integer},
          {"PATIENTS_ID", Type::Integer},
          {"DATE_CONSULTATION", Type::DateTime},
          {"PRESCRIPTION", Type::Memo}}},
    };
    return tables;
}

// Tables the purge empties that the import never writes: their identifier is all they need.
const QStringList& purgedOnlyTables()
{
    static const QStringList names = {
        "IMAGES",       "LETTERS_EMAILED", "LETTERS_WORKLIST", "SIMPLIFY",  "TASKS",
        "IMPDATA",      "PLANNING",        "PL_SUBJ_PARAM",    "PL_SUBJ_EXAM", "CPACTES",
        "CPBANKS",      "CPMAIN",          "CPGEST",           "CPORDPAY",  "CPORG",
        "CPREM",        "CPTRANS",         "CPNLOTS",          "CPSVFACT",  "CPSVMED",
        "CPSVNOE",      "CPSVXMD2",        "VIDAL",            "DICOM_EXPORTS", "FAMILY_ID",
        "DATA_PRESCR_BLANKS", "DRUGS_CURRENT"};
    return names;
}

QString columnText(const ColumnDefinition& column, const TargetEngineUnit& unit)
{
    QString text = column.name + ' ' + unit.columnType(column.type, column.size, column.name);
    if (column.defaultValue)
        text += " DEFAULT " + unit.defaultValue(column.type, QString::fromUtf8(column.defaultValue));
    return text;
}

QString createTableText(const TableDefinition& table, const TargetEngineUnit& unit)
{
    QStringList columns;
    for (const ColumnDefinition& column : table.columns)
        columns.append("  " + columnText(column, unit));
    return QStringLiteral("CREATE TABLE %1 (\n%2\n)").arg(table.name, columns.join(",\n"));
}

// No key: the counters are read and written by KEY_NAME alone, and the allocator must be able
// to insert a key twice. The insert names no columns, so the order is part of the contract.
TableDefinition idValuesTable()
{
    return {"ID_VALUES",
            {{"KEY_NAME", Type::Text, nameSize}, {"LAST_VALUE", Type::Integer, 0, "0"}}};
}

// A prescription's consultation is searched by patient and date, once per prescription.
const std::vector<IndexDefinition>& searchedTables()
{
    static const std::vector<IndexDefinition> indexes = {
        {"MOTCONSU", {"PATIENTS_ID", "DATE_CONSULTATION"}}};
    return indexes;
}

QString createIndexText(const IndexDefinition& index)
{
    return QStringLiteral("CREATE INDEX %1_%2 ON %1 (%3)")
        .arg(index.table, index.columns.join('_'), index.columns.join(", "));
}

std::vector<TableDefinition> allTables()
{
    std::vector<TableDefinition> tables = writtenTables();
    tables.push_back(idValuesTable());
    for (const QString& name : purgedOnlyTables())
        tables.push_back({name, {{name + "_ID", Type::Key}}});
    return tables;
}

} // namespace

QStringList targetSchemaStatements(TargetEngine engine)
{
    return targetSchemaStatements(defaultEngineUnit(engine));
}

QStringList targetSchemaStatements(const TargetEngineUnit& unit)
{
    QStringList statements;
    for (const TableDefinition& table : allTables()) {
        statements.append(createTableText(table, unit));
        for (const IndexDefinition& index : searchedTables())
            if (index.table == table.name)
                statements.append(createIndexText(index));
    }
    return statements;
}

void createTargetSchema(TargetConnection& connection)
{
    for (const QString& statement : targetSchemaStatements(connection.unit())) {
        TargetStatement create(connection, {statement});
        create.execute();
    }
}

QString sqlServerSchemaScript()
{
    QString script = QStringLiteral(
        "-- p1import target schema for SQL Server: every table and column the import writes,\n"
        "-- the counters table ID_VALUES and the tables the purge empties.\n"
        "-- Run it in an empty database. Generated from targetdb/target_schema.cpp.\n\n");
    for (const QString& statement : targetSchemaStatements(TargetEngine::SqlServer))
        script += statement + ";\nGO\n\n";
    return script;
}

// A short working table named DATA...: the purge finds it among the target's tables and empties it.
QString prescriptionsTableName()
{
    return QStringLiteral("DATAPRESCR");
}

} // namespace p1
