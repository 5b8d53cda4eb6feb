#pragma once

// A readable builder of the rows of the source table [GLB PATIENT] for the patients stage's tests
// and benchmark. A text left unset is NULL in the source; "" is an empty text.

#include "tools/jetwriter/jet_writer.h"
#include "tools/sample_practice/source_tables.h"

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

// The tables themselves are those of the sample practice.
using sample::patientTable;
using sample::professionTable;

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

} // namespace p1::test
