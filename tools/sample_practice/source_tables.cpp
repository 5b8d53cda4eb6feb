// Text lengths are the source's: long enough for every value a practice types, and for the
// over-long names the tests hand to the target.

#include "tools/sample_practice/source_tables.h"

namespace p1::sample {

using jet::ColumnDefinition;
using jet::ColumnType;
using jet::DatabaseBuilder;
using jet::TableBuilder;

namespace {

constexpr int nameLength = 255;

ColumnDefinition code(const QString& name)
{
    return {name, ColumnType::Long};
}

ColumnDefinition text(const QString& name, int length)
{
    return {name, ColumnType::Text, length};
}

ColumnDefinition memo(const QString& name)
{
    return {name, ColumnType::Memo};
}

ColumnDefinition dateTime(const QString& name)
{
    return {name, ColumnType::DateTime};
}

TableBuilder& tableOf(DatabaseBuilder& database, const QString& name, const QList<ColumnDefinition>& columns)
{
    TableBuilder& table = database.table(name);
    for (const ColumnDefinition& column : columns)
        table.column(column);
    return table;
}

TableBuilder& referenceTable(DatabaseBuilder& database, const QString& name, const QString& codeColumn,
                             const QString& labelColumn, int labelLength = 50)
{
    return tableOf(database, name, {code(codeColumn), text(labelColumn, labelLength)});
}

} // namespace

TableBuilder& physicianTable(DatabaseBuilder& database)
{
    return tableOf(database, "GLB Medecin",
                   {code("CODE MEDECIN"), text("NOM", nameLength), text("PRENOM", 50), code("CODE SPECIALITE"),
                    text("ADRESSE", 255), text("CODE POSTAL", 10), text("VILLE", 50), text("TELEPHONE", 30),
                    text("FAX", 30), text("MOT DE PASSE MEDECIN", 20)});
}

TableBuilder& specialtyTable(DatabaseBuilder& database)
{
    return referenceTable(database, "GLB SPECIALITE", "CODE SPECIALITE", "NOM SPECIALISTE");
}

TableBuilder& addressBookTable(DatabaseBuilder& database)
{
    return tableOf(database, "ADR CARNET ADRESSE",
                   {code("CODE CARNET ADRESSE"), text("NOM", nameLength), text("PRENOM", 50), code("CODE FONCTION"),
                    text("RUE", 255), text("CODE POSTAL", 10), text("VILLE", 50), text("ETAT", 50),
                    text("TELEPHONE PERSONNEL", 30), text("TELEPHONE PROFESSIONNEL", 30), text("FAX", 30),
                    memo("DIVERS")});
}

TableBuilder& functionTable(DatabaseBuilder& database)
{
    return referenceTable(database, "REF FONCTION", "CODE FONCTION", "LIBELLE");
}

TableBuilder& professionTable(DatabaseBuilder& database)
{
    return referenceTable(database, "REF TYPE PROFESSION", "CODE TYPE PROFESSION", "LIBELLE");
}

TableBuilder& civilityTable(DatabaseBuilder& database)
{
    return referenceTable(database, "REF TYPE CIVILITE", "CODE TYPE CIVILITE", "LIBELLE");
}

TableBuilder& patientTable(DatabaseBuilder& database, int correspondentColumns)
{
    TableBuilder& table = tableOf(
        database, "GLB PATIENT",
        {code("CODE PATIENT"), code("CODE MEDECIN PROPRIETAIRE"), text("NOM", nameLength), text("PRENOM", 50),
         dateTime("DATE NAISSANCE"), text("NUMERO DOSSIER", 20), code("CODE TYPE CIVILITE"), code("CODE TYPE SEXE"),
         text("NOM DE NAISSANCE", 50), text("TEL DOMICILE", 30), text("TEL BUREAU", 30), text("FAX", 30),
         text("NUMERO SECURITE SOCIAL", 30), text("ADRESSE", 255), text("ETAGE", 10), text("CODE IMM", 10),
         text("CODE POSTAL", 10), text("VILLE", 50), {"EST SUPPRIMER", ColumnType::Boolean}, text("ASSURE NOM", 50),
         text("ASSURE PRENOM", 50), memo("MEMO"), code("CODE TYPE PROFESSION")});
    for (int n = 1; n <= correspondentColumns; ++n)
        table.column(code(QStringLiteral("CODE CORRESPONDANT %1").arg(n)));
    return table;
}

TableBuilder& antecedentTable(DatabaseBuilder& database)
{
    return referenceTable(database, "ANT ANTECEDENT", "CODE ANTECEDENT", "LIBELLE", 100);
}

TableBuilder& patientAntecedentTable(DatabaseBuilder& database)
{
    return tableOf(database, "ANT ANTECEDENT PATIENT",
                   {code("CODE ANTECEDENT PATIENT"), code("CODE PATIENT"), code("CODE ANTECEDENT"), dateTime("DATE")});
}

TableBuilder& consultationTable(DatabaseBuilder& database)
{
    return tableOf(database, "CON CONSULTATION",
                   {code("CodeTitre"), code("CODE PATIENT"), dateTime("Date"), code("CODE MEDECIN"),
                    code("CODE TYPE CONSULTATION"), memo("DONNEES")});
}

TableBuilder& consultationTypeTable(DatabaseBuilder& database)
{
    return referenceTable(database, "CON TYPE CONSULTATION", "CODE TYPE CONSULTATION", "LIBELLE");
}

TableBuilder& consultationDetailTable(DatabaseBuilder& database)
{
    return tableOf(database, "CON SOUS CONSULTATION",
                   {code("CodeTitre"), code("NroOrdre"), memo("DONNEES"), {"niveau", ColumnType::Integer}});
}

TableBuilder& letterTable(DatabaseBuilder& database)
{
    return tableOf(database, "COU COURRIER GENERE",
                   {code("CODE COURRIER GENERE"), code("CODE PATIENT"), dateTime("DATE"), text("LIBELLE", 100),
                    text("NOM FICHIER", 255)});
}

TableBuilder& prescriptionTable(DatabaseBuilder& database)
{
    return tableOf(database, "ORD ORDONNANCE",
                   {code("CODE ORDONNANCE"), code("CODE PATIENT"), code("CODE MEDECIN"), dateTime("DATE CONSULTATION"),
                    dateTime("DATE")});
}

TableBuilder& prescriptionItemTable(DatabaseBuilder& database)
{
    return tableOf(database, "ORD PRESCRIPTION",
                   {code("CODE ORDONNANCE"), code("CODE ORDRE"), text("NOM", 255), text("POSO", 255),
                    text("REMARQUE", 255), text("COMMENTAIRE", 255)});
}

} // namespace p1::sample
