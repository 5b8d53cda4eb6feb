// Column types of the sample practice, as the source product declares them:
//
//   codes (CODE ..., CodeTitre, NroOrdre, CODE ORDRE)   Long Integer
//   [CON SOUS CONSULTATION].niveau                      Integer
//   DATE NAISSANCE, Date, DATE, DATE CONSULTATION       Date/Time (wall clock, may carry a time)
//   [GLB PATIENT].EST SUPPRIMER                         Yes/No
//   [GLB PATIENT].MEMO, [ADR CARNET ADRESSE].DIVERS,
//   DONNEES of [CON CONSULTATION] and [CON SOUS CONSULTATION]   Memo
//   every other column (names, phones, addresses, labels, NOM FICHIER, ...)   Text
//
// Awkward rows, on purpose: codes 0, negative and NULL in every table the import filters on
// codes; NULL next to empty and blank-only texts; labels with surrounding blanks and NULL
// labels; codes without a reference row; birth dates NULL, with a time of day, before and on
// 30/12/1899; memos over 4 KB and over 64 KB; consultations sharing a date-time and
// prescriptions sharing a day; detail lines and items stored out of order; letters without
// extension, in another letter case, in a sub-folder named with a backslash, missing, in
// another format, or sharing a file. See awkwardPatient in the header for the patients.

#include "tools/sample_practice/sample_practice.h"

#include "tools/sample_practice/practice_writer.h"

#include <QDir>

#include <stdexcept>

namespace p1 {

namespace {

bool isPercent(int value)
{
    return value >= 0 && value <= 100;
}

void checkOptions(const SamplePracticeOptions& options)
{
    if (options.patients < 0 || options.antecedentsPerPatient < 0 || options.consultationsPerPatient < 0
        || options.prescriptionsPerPatient < 0 || options.lettersPerPatient < 0 || options.patientsPerCorrespondent < 1
        || options.patientsPerUser < 0 || options.detailLinesPerConsultation < 1 || options.itemsPerPrescription < 1)
        throw std::invalid_argument("nombre de patients, de détails ou de courriers négatif");
    if (!isPercent(options.patientsWithHistoryPercent) || !isPercent(options.sameTimeConsultationPercent)
        || !isPercent(options.sameDayPrescriptionPercent))
        throw std::invalid_argument("part hors de 0 à 100 %");
}

QString makeFolder(const QString& path)
{
    if (!QDir().mkpath(path))
        throw std::runtime_error(QStringLiteral("Impossible de créer le dossier %1").arg(path).toStdString());
    return QDir(path).absolutePath() + '/';
}

} // namespace

SamplePractice writeSamplePractice(const QString& folder, const SamplePracticeOptions& options)
{
    checkOptions(options);
    const QString root = makeFolder(folder);
    SamplePractice practice{root + "V4.mdb", root + "Ordo.mdb", makeFolder(root + "Courriers"), {}};
    sample::PracticeWriter writer(options, practice.lettersFolder);
    {
        jet::DatabaseBuilder v4;
        writer.writeReferenceTables(v4);
        writer.writePhysicians(v4);
        writer.writeAddressBook(v4);
        writer.writePatients(v4);
        writer.writeAntecedents(v4);
        writer.writeConsultations(v4);
        writer.writeLetters(v4);
        v4.write(practice.v4Path);
        writer.countRows();
    }
    jet::DatabaseBuilder ordo;
    writer.writePrescriptions(ordo);
    ordo.write(practice.ordoPath);
    writer.countRows();
    practice.rowCounts = writer.rowCounts();
    return practice;
}

} // namespace p1
