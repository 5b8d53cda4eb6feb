#pragma once

// A readable builder of the source table [GLB PATIENT] for the patients stage's tests and
// benchmark. A text left unset is NULL in the source; "" is an empty text.

#include "tools/jetwriter/jet_writer.h"

#include <array>

namespace p1::test {

struct SourcePatient {
    jet::Value code = {};
    qint64 owner = 0;
    QString surname = {};
    QString firstName = {};
    jet::Value birthDate = {};
    QString fileNumber = {};
    qint64 civility = 0;
    jet::Value sex = {};
    QString birthName = {};
    QString homePhone = {};
    QString workPhone = {};
    QString fax = {};
    QString insuranceNumber = {};
    QString address = {};
    QString floor = {};
    QString buildingCode = {};
    QString postCode = {};
    QString town = {};
    bool deleted = false;
    QString insuredSurname = {};
    QString insuredFirstName = {};
    QString memo = {};
    qint64 profession = 0;
    std::array<qint64, 6> correspondents{};
};

inline jet::Value sourceText(const QString& text)
{
    return text.isNull() ? jet::Value() : jet::Value(text);
}

// A table made for an older source may lack the last treating-physician columns.
inline jet::TableBuilder& patientTable(jet::DatabaseBuilder& database, int correspondentColumns = 6)
{
    using jet::ColumnType;
    jet::TableBuilder& table = database.table(QStringLiteral("GLB PATIENT"));
    table.column(QStringLiteral("CODE PATIENT"), ColumnType::Long)
        .column(QStringLiteral("CODE MEDECIN PROPRIETAIRE"), ColumnType::Long)
        .column(QStringLiteral("NOM"), ColumnType::Text, 255)
        .column(QStringLiteral("PRENOM"), ColumnType::Text, 50)
        .column(QStringLiteral("DATE NAISSANCE"), ColumnType::DateTime)
        .column(QStringLiteral("NUMERO DOSSIER"), ColumnType::Text, 20)
        .column(QStringLiteral("CODE TYPE CIVILITE"), ColumnType::Long)
        .column(QStringLiteral("CODE TYPE SEXE"), ColumnType::Long)
        .column(QStringLiteral("NOM DE NAISSANCE"), ColumnType::Text, 50)
        .column(QStringLiteral("TEL DOMICILE"), ColumnType::Text, 30)
        .column(QStringLiteral("TEL BUREAU"), ColumnType::Text, 30)
        .column(QStringLiteral("FAX"), ColumnType::Text, 30)
        .column(QStringLiteral("NUMERO SECURITE SOCIAL"), ColumnType::Text, 30)
        .column(QStringLiteral("ADRESSE"), ColumnType::Text, 100)
        .column(QStringLiteral("ETAGE"), ColumnType::Text, 20)
        .column(QStringLiteral("CODE IMM"), ColumnType::Text, 20)
        .column(QStringLiteral("CODE POSTAL"), ColumnType::Text, 10)
        .column(QStringLiteral("VILLE"), ColumnType::Text, 50)
        .column(QStringLiteral("EST SUPPRIMER"), ColumnType::Boolean)
        .column(QStringLiteral("ASSURE NOM"), ColumnType::Text, 50)
        .column(QStringLiteral("ASSURE PRENOM"), ColumnType::Text, 50)
        .column(QStringLiteral("MEMO"), ColumnType::Memo)
        .column(QStringLiteral("CODE TYPE PROFESSION"), ColumnType::Long);
    for (int n = 1; n <= correspondentColumns; ++n)
        table.column(QStringLiteral("CODE CORRESPONDANT %1").arg(n), ColumnType::Long);
    return table;
}

inline void addPatient(jet::TableBuilder& table, const SourcePatient& patient)
{
    QList<jet::Value> values = {
        patient.code,
        patient.owner,
        sourceText(patient.surname),
        sourceText(patient.firstName),
        patient.birthDate,
        sourceText(patient.fileNumber),
        patient.civility,
        patient.sex,
        sourceText(patient.birthName),
        sourceText(patient.homePhone),
        sourceText(patient.workPhone),
        sourceText(patient.fax),
        sourceText(patient.insuranceNumber),
        sourceText(patient.address),
        sourceText(patient.floor),
        sourceText(patient.buildingCode),
        sourceText(patient.postCode),
        sourceText(patient.town),
        patient.deleted,
        sourceText(patient.insuredSurname),
        sourceText(patient.insuredFirstName),
        sourceText(patient.memo),
        patient.profession,
    };
    for (qint64 correspondent : patient.correspondents) {
        if (values.size() < table.columns().size())
            values.append(correspondent == 0 ? jet::Value() : jet::Value(correspondent));
    }
    table.row(values);
}

inline jet::TableBuilder& professionTable(jet::DatabaseBuilder& database)
{
    return database.table(QStringLiteral("REF TYPE PROFESSION"))
        .column(QStringLiteral("CODE TYPE PROFESSION"), jet::ColumnType::Long)
        .column(QStringLiteral("LIBELLE"), jet::ColumnType::Text, 50);
}

} // namespace p1::test
