#pragma once

#include "tools/jetwriter/jet_writer.h"
#include "tools/sample_practice/sample_data.h"
#include "tools/sample_practice/sample_practice.h"
#include "tools/sample_practice/source_tables.h"

#include <QDir>

namespace p1::sample {

using jet::ColumnType;
using jet::DatabaseBuilder;
using jet::TableBuilder;
using jet::Value;

inline Value null()
{
    return std::monostate{};
}

inline Value code(qint64 value)
{
    return value;
}

// What the tables of patient records need to know about a patient.
struct PatientFacts {
    int code = 0;
    QString name;
};

// Fills the tables of one practice, drawing every value from one seeded sequence.
class PracticeWriter {
public:
    PracticeWriter(const SamplePracticeOptions& options, const QString& lettersFolder);

    void writeReferenceTables(DatabaseBuilder& v4);
    void writePhysicians(DatabaseBuilder& v4);
    void writeAddressBook(DatabaseBuilder& v4);
    void writePatients(DatabaseBuilder& v4);
    void writeAntecedents(DatabaseBuilder& v4);
    void writeConsultations(DatabaseBuilder& v4);
    void writeLetters(DatabaseBuilder& v4);
    void writePrescriptions(DatabaseBuilder& ordo);

    // Notes the row counts of the tables filled since the last call: call it before their
    // database goes away.
    void countRows();
    const QMap<QString, qint64>& rowCounts() const { return rowCounts_; }

private:
    // Notes the table for countRows().
    TableBuilder& counted(TableBuilder& table);
    QList<Value> patientRow(int patientCode);
    void applyAwkwardValues(int patientCode, QList<Value>& row);
    QList<Value> junkPatientRow(const Value& patientCode);
    void writeConsultation(TableBuilder& consultations, TableBuilder& details, const PatientFacts& patient,
                           QDateTime& lastTime);
    void writeDetailLines(TableBuilder& details, int consultationCode);
    struct LetterFile {
        QString stored; // NOM FICHIER
        QString onDisk; // relative to the letters folder
    };
    LetterFile letterFile(int letterCode, const QDate& date);
    void writePrescriptionItems(TableBuilder& items, int prescriptionCode, int count);
    int drawHistoryLineCount();
    int drawItemCount();
    int drawPhysician();

    SamplePracticeOptions options_;
    QDir lettersFolder_;
    Draw draw_;
    int correspondentCount_ = 0;
    QList<PatientFacts> patients_;
    QList<const TableBuilder*> tables_;
    QMap<QString, qint64> rowCounts_;
};

} // namespace p1::sample
