#pragma once

#include <QMap>
#include <QString>

namespace p1 {

// A made-up practice as the source product keeps it: V4.mdb, Ordo.mdb and a folder of RTF
// letters, with every table and column the import reads. The same options always give the same
// files. Used by tests, benchmarks and the demo.

struct SamplePracticeOptions {
    int patients = 300;
    unsigned seed = 1;
    // On average per patient; consultations get about two detail lines and prescriptions about
    // three items.
    int antecedentsPerPatient = 3;
    int consultationsPerPatient = 3;
    int prescriptionsPerPatient = 3;
    // Letters per patient (one RTF file each); 0 for none.
    int lettersPerPatient = 1;
    // One address-book entry per so many patients (15 at least).
    int patientsPerCorrespondent = 10;
    // One user more than the practice's few named ones per so many patients; 0 for none.
    int patientsPerUser = 0;
    // On average: detail lines per consultation, items per prescription (1 at least each).
    int detailLinesPerConsultation = 2;
    int itemsPerPrescription = 3;
    // The share of patients with a medical history, in percent; antecedentsPerPatient stays the
    // average over every patient, so those who have one have more lines each.
    int patientsWithHistoryPercent = 100;
    // In percent: a patient's consultation taking the previous one's date-time (merged with it),
    // a prescription falling on the day of the patient's previous one (sharing its row).
    int sameTimeConsultationPercent = 10;
    int sameDayPrescriptionPercent = 10;
};

struct SamplePractice {
    QString v4Path;
    QString ordoPath;
    QString lettersFolder; // ends with "/"
    // Rows written per table, by source table name (without brackets).
    QMap<QString, qint64> rowCounts;
};

// Patients whose rows carry the awkward values, when the practice has that many patients.
// Every practice also holds [GLB PATIENT] rows with the code 0, -5 and NULL, which the import
// skips.
namespace awkwardPatient {
constexpr int emptyBirthDate = 2;         // NULL
constexpr int birthDateWithTime = 3;      // 12/03/1975 14:30
constexpr int bornBeforeZeroDay = 4;      // 02/05/1890
constexpr int bornOnZeroDay = 5;          // 30/12/1899
constexpr int longFileNumber = 6;         // NUMERO DOSSIER of 16 characters
constexpr int floorAndBuilding = 7;       // ETAGE and CODE IMM set
constexpr int insuredFirstNameOnly = 8;   // ASSURE NOM blank, ASSURE PRENOM "Jean"
constexpr int longMemo = 9;               // MEMO over 64 KB
constexpr int deleted = 10;               // EST SUPPRIMER Yes
constexpr int unknownCivilityAndSex = 11; // CODE TYPE CIVILITE 0, CODE TYPE SEXE 3
constexpr int unknownCorrespondent = 12;  // CODE CORRESPONDANT 1 names no address-book entry
constexpr int emptyTexts = 13;            // empty texts where others have NULL; ETAGE, MEMO blank-only
} // namespace awkwardPatient

// Writes the practice into folder (created when missing): V4.mdb, Ordo.mdb and Courriers/.
// Throws std::runtime_error when a file cannot be written, std::invalid_argument for options
// out of range.
SamplePractice writeSamplePractice(const QString& folder, const SamplePracticeOptions& options = {});

} // namespace p1
