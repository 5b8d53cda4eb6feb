// Text lengths are the source's: long enough for every value a practice types, and for the
// over-long names the tests hand to the target.

#include "tools/sample_practice/source_tables.h"

namespace p1::sample {

using jet::ColumnType;
using jet::DatabaseBuilder;
using jet::TableBuilder;

namespace {

constexpr int nameLength = 255;

TableBuilder& referenceTable(DatabaseBuilder& database, const QString& name, const QString& codeColumn,
                             const QString& labelColumn, int labelLength = 50)
{
    return database.table(name).column(codeColumn, ColumnType::Long).column(labelColumn, ColumnType::Text, labelLength);
}

} // namespace

TableBuilder& physicianTable(DatabaseBuilder& database)
{
    return database.table("GLB Medecin")
        .column("CODE MEDECIN", ColumnType::Long)
        .column("NOM", ColumnType::Text, nameLength)
        .column("PRENOM", ColumnType::Text, 50)
        .column("CODE SPECIALITE", ColumnType::Long)
        .column("ADRESSE", ColumnType::Text, 255)
        .column("CODE POSTAL", ColumnType::Text, 10)
        .column("VILLE", ColumnType::Text, 50)
        .column("TELEPHONE", ColumnType::Text, 30)
        .column("FAX", ColumnType::Text, 30)
        .column("MOT DE PASSE MEDECIN", ColumnType::Text, 20);
}

TableBuilder& specialtyTable(DatabaseBuilder& database)
{
    return referenceTable(database, "GLB SPECIALITE", "CODE SPECIALITE", "NOM SPECIALISTE");
}

TableBuilder& addressBookTable(DatabaseBuilder& database)
{
    return database.table("ADR CARNET ADRESSE")
        .column("CODE CARNET ADRESSE", ColumnType::Long)
        .column("NOM", ColumnType::Text, nameLength)
        .column("PRENOM", ColumnType::Text, 50)
        .column("CODE FONCTION", ColumnType::Long)
        .column("RUE", ColumnType::Text, 255)
        .column("CODE POSTAL", ColumnType::Text, 10)
        .column("VILLE", ColumnType::Text, 50)
        .column("ETAT", ColumnType::Text, 50)
        .column("TELEPHONE PERSONNEL", ColumnType::Text, 30)
        .column("TELEPHONE PROFESSIONNEL", ColumnType::Text, 30)
        .column("FAX", ColumnType::Text, 30)
        .column("DIVERS", ColumnType::Memo);
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
    TableBuilder& table = database.table("GLB PATIENT")
                              .column("CODE PATIENT", ColumnType::Long)
                              .column("CODE MEDECIN PROPRIETAIRE", ColumnType::Long)
                              .column("NOM", ColumnType::Text, nameLength)
                              .column("PRENOM", ColumnType::Text, 50)
                              .column("DATE NAISSANCE", ColumnType::DateTime)
                              .column("NUMERO DOSSIER", ColumnType::Text, 20)
                              .column("CODE TYPE CIVILITE", ColumnType::Long)
                              .column("CODE TYPE SEXE", ColumnType::Long)
                              .column("NOM DE NAISSANCE", ColumnType::Text, 50)
                              .column("TEL DOMICILE", ColumnType::Text, 30)
                              .column("TEL BUREAU", ColumnType::Text, 30)
                              .column("FAX", ColumnType::Text, 30)
                              .column("NUMERO SECURITE SOCIAL", ColumnType::Text, 30)
                              .column("ADRESSE", ColumnType::Text, 255)
                              .column("ETAGE", ColumnType::Text, 10)
                              .column("CODE IMM", ColumnType::Text, 10)
                              .column("CODE POSTAL", ColumnType::Text, 10)
                              .column("VILLE", ColumnType::Text, 50)
                              .column("EST SUPPRIMER", ColumnType::Boolean)
                              .column("ASSURE NOM", ColumnType::Text, 50)
                              .column("ASSURE PRENOM", ColumnType::Text, 50)
                              .column("MEMO", ColumnType::Memo)
                              .column("CODE TYPE PROFESSION", ColumnType::Long);
    for (int n = 1; n <= correspondentColumns; ++n)
        table.column(QStringLiteral("CODE CORRESPONDANT %1").arg(n), ColumnType::Long);
    return table;
}

TableBuilder& antecedentTable(DatabaseBuilder& database)
{
    return referenceTable(database, "ANT ANTECEDENT", "CODE ANTECEDENT", "LIBELLE", 100);
}

TableBuilder& patientAntecedentTable(DatabaseBuilder& database)
{
    return database.table("ANT ANTECEDENT PATIENT")
        .column("CODE ANTECEDENT PATIENT", ColumnType::Long)
        .column("CODE PATIENT", ColumnType::Long)
        .column("CODE ANTECEDENT", ColumnType::Long)
        .column("DATE", ColumnType::DateTime);
}

TableBuilder& consultationTable(DatabaseBuilder& database)
{
    return database.table("CON CONSULTATION")
        .column("CodeTitre", ColumnType::Long)
        .column("CODE PATIENT", ColumnType::Long)
        .column("Date", ColumnType::DateTime)
        .column("CODE MEDECIN", ColumnType::Long)
        .column("CODE TYPE CONSULTATION", ColumnType::Long)
        .column("DONNEES", ColumnType::Memo);
}

TableBuilder& consultationTypeTable(DatabaseBuilder& database)
{
    return referenceTable(database, "CON TYPE CONSULTATION", "CODE TYPE CONSULTATION", "LIBELLE");
}

TableBuilder& consultationDetailTable(DatabaseBuilder& database)
{
    return database.table("CON SOUS CONSULTATION")
        .column("CodeTitre", ColumnType::Long)
        .column("NroOrdre", ColumnType::Long)
        .column("DONNEES", ColumnType::Memo)
        .column("niveau", ColumnType::Integer);
}

TableBuilder& letterTable(DatabaseBuilder& database)
{
    return database.table("COU COURRIER GENERE")
        .column("CODE COURRIER GENERE", ColumnType::Long)
        .column("CODE PATIENT", ColumnType::Long)
        .column("DATE", ColumnType::DateTime)
        .column("LIBELLE", ColumnType::Text, 100)
        .column("NOM FICHIER", ColumnType::Text, 255);
}

TableBuilder& prescriptionTable(DatabaseBuilder& database)
{
    return database.table("ORD ORDONNANCE")
        .column("CODE ORDONNANCE", ColumnType::Long)
        .column("CODE PATIENT", ColumnType::Long)
        .column("CODE MEDECIN", ColumnType::Long)
        .column("DATE CONSULTATION", ColumnType::DateTime)
        .column("DATE", ColumnType::DateTime);
}

TableBuilder& prescriptionItemTable(DatabaseBuilder& database)
{
    return database.table("ORD PRESCRIPTION")
        .column("CODE ORDONNANCE", ColumnType::Long)
        .column("CODE ORDRE", ColumnType::Long)
        .column("NOM", ColumnType::Text, 255)
        .column("POSO", ColumnType::Text, 255)
        .column("REMARQUE", ColumnType::Text, 255)
        .column("COMMENTAIRE", ColumnType::Text, 255);
}

} // namespace p1::sample
