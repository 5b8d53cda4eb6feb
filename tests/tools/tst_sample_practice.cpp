#include "tools/sample_practice/sample_practice.h"

#include "tests/tools/mdb_tools.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QSet>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <algorithm>
#include <stdexcept>

namespace p1 {
namespace {

using test::mdbCount;
using test::mdbExport;
using test::mdbTables;

// Every table and column the import reads, by file.
const QMap<QString, QStringList> v4Columns{
    {"GLB Medecin",
     {"CODE MEDECIN", "NOM", "PRENOM", "CODE SPECIALITE", "ADRESSE", "CODE POSTAL", "VILLE", "TELEPHONE", "FAX",
      "MOT DE PASSE MEDECIN"}},
    {"GLB SPECIALITE", {"CODE SPECIALITE", "NOM SPECIALISTE"}},
    {"ADR CARNET ADRESSE",
     {"CODE CARNET ADRESSE", "NOM", "PRENOM", "CODE FONCTION", "RUE", "CODE POSTAL", "VILLE", "ETAT",
      "TELEPHONE PERSONNEL", "TELEPHONE PROFESSIONNEL", "FAX", "DIVERS"}},
    {"REF FONCTION", {"CODE FONCTION", "LIBELLE"}},
    {"REF TYPE PROFESSION", {"CODE TYPE PROFESSION", "LIBELLE"}},
    {"REF TYPE CIVILITE", {"CODE TYPE CIVILITE", "LIBELLE"}},
    {"GLB PATIENT",
     {"CODE PATIENT", "CODE MEDECIN PROPRIETAIRE", "NOM", "PRENOM", "DATE NAISSANCE", "NUMERO DOSSIER",
      "CODE TYPE CIVILITE", "CODE TYPE SEXE", "NOM DE NAISSANCE", "TEL DOMICILE", "TEL BUREAU", "FAX",
      "NUMERO SECURITE SOCIAL", "ADRESSE", "ETAGE", "CODE IMM", "CODE POSTAL", "VILLE", "EST SUPPRIMER", "ASSURE NOM",
      "ASSURE PRENOM", "MEMO", "CODE TYPE PROFESSION", "CODE CORRESPONDANT 1", "CODE CORRESPONDANT 2",
      "CODE CORRESPONDANT 3", "CODE CORRESPONDANT 4", "CODE CORRESPONDANT 5", "CODE CORRESPONDANT 6"}},
    {"ANT ANTECEDENT PATIENT", {"CODE ANTECEDENT PATIENT", "CODE PATIENT", "CODE ANTECEDENT", "DATE"}},
    {"ANT ANTECEDENT", {"CODE ANTECEDENT", "LIBELLE"}},
    {"CON CONSULTATION", {"CodeTitre", "CODE PATIENT", "Date", "CODE MEDECIN", "CODE TYPE CONSULTATION", "DONNEES"}},
    {"CON TYPE CONSULTATION", {"CODE TYPE CONSULTATION", "LIBELLE"}},
    {"CON SOUS CONSULTATION", {"CodeTitre", "NroOrdre", "DONNEES", "niveau"}},
    {"COU COURRIER GENERE", {"CODE COURRIER GENERE", "CODE PATIENT", "DATE", "LIBELLE", "NOM FICHIER"}},
};

const QMap<QString, QStringList> ordoColumns{
    {"ORD ORDONNANCE", {"CODE ORDONNANCE", "CODE PATIENT", "CODE MEDECIN", "DATE CONSULTATION", "DATE"}},
    {"ORD PRESCRIPTION", {"CODE ORDONNANCE", "CODE ORDRE", "NOM", "POSO", "REMARQUE", "COMMENTAIRE"}},
};

// The rows of a table by their first column, as mdb-export prints them.
QMap<QString, QStringList> rowsByCode(const QList<QStringList>& exported)
{
    QMap<QString, QStringList> rows;
    for (qsizetype i = 1; i < exported.size(); ++i)
        rows.insert(exported[i].first(), exported[i]);
    return rows;
}

QStringList column(const QList<QStringList>& exported, const QString& name)
{
    const qsizetype index = exported.first().indexOf(name);
    QStringList values;
    for (qsizetype i = 1; i < exported.size(); ++i)
        values.append(exported[i][index]);
    return values;
}

// A Windows file name looked up the way the import looks it up: backslashes as separators,
// ".RTF" appended when missing, letter case ignored.
bool letterFileExists(const QString& lettersFolder, const QString& storedName)
{
    QString name = QString(storedName).replace('\\', '/');
    if (!name.toUpper().contains(".RTF"))
        name += ".RTF";
    QDir folder(lettersFolder);
    const QStringList parts = name.split('/');
    for (qsizetype i = 0; i < parts.size(); ++i) {
        const QStringList matches = folder.entryList(QDir::AllEntries | QDir::NoDotAndDotDot).filter(
            QRegularExpression('^' + QRegularExpression::escape(parts[i]) + '$', QRegularExpression::CaseInsensitiveOption));
        if (matches.isEmpty())
            return false;
        if (i + 1 < parts.size() && !folder.cd(matches.first()))
            return false;
    }
    return true;
}

class SamplePracticeTest : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        folder = new QTemporaryDir;
        SamplePracticeOptions options;
        options.patients = 40;
        options.antecedentsPerPatient = options.consultationsPerPatient = options.prescriptionsPerPatient = 2;
        practice = new SamplePractice(writeSamplePractice(folder->filePath("cabinet"), options));
    }

    static void TearDownTestSuite()
    {
        delete practice;
        delete folder;
    }

    static QTemporaryDir* folder;
    static SamplePractice* practice;
};

QTemporaryDir* SamplePracticeTest::folder = nullptr;
SamplePractice* SamplePracticeTest::practice = nullptr;

TEST_F(SamplePracticeTest, HoldsEveryTableAndColumnTheImportReads)
{
    for (const auto& [path, tables] : {std::pair{practice->v4Path, v4Columns}, std::pair{practice->ordoPath, ordoColumns}}) {
        QStringList listed = mdbTables(path);
        listed.sort();
        EXPECT_EQ(listed, QStringList(tables.keys()));
        for (auto table = tables.cbegin(); table != tables.cend(); ++table) {
            const auto rows = mdbExport(path, table.key());
            ASSERT_FALSE(rows.isEmpty()) << table.key().toStdString();
            EXPECT_EQ(rows.first(), table.value()) << table.key().toStdString();
            EXPECT_EQ(rows.size() - 1, practice->rowCounts.value(table.key())) << table.key().toStdString();
            EXPECT_EQ(mdbCount(path, table.key()), practice->rowCounts.value(table.key())) << table.key().toStdString();
        }
    }
    EXPECT_EQ(practice->rowCounts.value("GLB PATIENT"), 40 + 3);
}

TEST_F(SamplePracticeTest, PatientsCarryTheAwkwardValues)
{
    namespace awkward = awkwardPatient;
    const auto exported = mdbExport(practice->v4Path, "GLB PATIENT");
    const auto patients = rowsByCode(exported);
    const QStringList header = exported.first();
    auto value = [&](int code, const QString& column) { return patients.value(QString::number(code)).value(header.indexOf(column)); };

    EXPECT_TRUE(patients.contains("0"));
    EXPECT_TRUE(patients.contains("-5"));
    EXPECT_TRUE(patients.contains("")) << "a row without a patient code";
    EXPECT_EQ(value(awkward::emptyBirthDate, "DATE NAISSANCE"), "");
    EXPECT_EQ(value(awkward::birthDateWithTime, "DATE NAISSANCE"), "1975-03-12 14:30:00");
    EXPECT_GT(value(awkward::longFileNumber, "NUMERO DOSSIER").size(), 9);
    EXPECT_EQ(value(awkward::floorAndBuilding, "ETAGE"), "3");
    EXPECT_EQ(value(awkward::floorAndBuilding, "CODE IMM"), "A12");
    EXPECT_EQ(value(awkward::insuredFirstNameOnly, "ASSURE NOM"), "  ");
    EXPECT_EQ(value(awkward::insuredFirstNameOnly, "ASSURE PRENOM"), "Jean");
    EXPECT_GT(value(awkward::longMemo, "MEMO").size(), 65536);
    EXPECT_EQ(value(awkward::deleted, "EST SUPPRIMER"), "TRUE");
    EXPECT_EQ(value(awkward::unknownCivilityAndSex, "CODE TYPE CIVILITE"), "0");
    EXPECT_EQ(value(awkward::unknownCivilityAndSex, "CODE TYPE SEXE"), "3");
    const QStringList correspondents = column(mdbExport(practice->v4Path, "ADR CARNET ADRESSE"), "CODE CARNET ADRESSE");
    EXPECT_FALSE(correspondents.contains(value(awkward::unknownCorrespondent, "CODE CORRESPONDANT 1")));
    EXPECT_EQ(value(awkward::emptyTexts, "MEMO"), "   ");

    // What mdb-export blurs: dates before the zero day, and empty text against NULL.
    QMap<qint32, QList<test::RawField>> raw;
    for (const auto& row : test::rawRows(practice->v4Path, "GLB PATIENT")) {
        if (!row[0].isNull)
            raw.insert(*reinterpret_cast<const qint32*>(row[0].bytes.constData()), row);
    }
    const qsizetype birth = header.indexOf("DATE NAISSANCE");
    const qsizetype fileNumber = header.indexOf("NUMERO DOSSIER");
    EXPECT_LT(test::rawDouble(raw[awkward::bornBeforeZeroDay].value(birth)), 0.0);
    EXPECT_FALSE(raw[awkward::bornOnZeroDay].value(birth).isNull);
    EXPECT_EQ(test::rawDouble(raw[awkward::bornOnZeroDay].value(birth)), 0.0);
    EXPECT_TRUE(raw[awkward::emptyBirthDate].value(birth).isNull);
    EXPECT_FALSE(raw[awkward::emptyTexts].value(fileNumber).isNull);
    EXPECT_TRUE(raw[awkward::emptyTexts].value(fileNumber).bytes.isEmpty());
}

TEST_F(SamplePracticeTest, EveryTableFilteredOnCodesHoldsRowsTheImportSkips)
{
    const QList<std::pair<QString, QString>> filtered{
        {"ADR CARNET ADRESSE", "CODE CARNET ADRESSE"}, {"ANT ANTECEDENT PATIENT", "CODE PATIENT"},
        {"CON CONSULTATION", "CODE PATIENT"},          {"COU COURRIER GENERE", "CODE PATIENT"},
        {"GLB Medecin", "CODE MEDECIN"},
    };
    for (const auto& [table, codeColumn] : filtered) {
        const QStringList codes = column(mdbExport(practice->v4Path, table), codeColumn);
        EXPECT_TRUE(codes.contains("0")) << table.toStdString();
        EXPECT_TRUE(codes.contains("")) << table.toStdString();
    }
    const QStringList prescriptionPatients = column(mdbExport(practice->ordoPath, "ORD ORDONNANCE"), "CODE PATIENT");
    EXPECT_TRUE(prescriptionPatients.contains("0"));
    EXPECT_TRUE(prescriptionPatients.contains("-2"));
    EXPECT_TRUE(prescriptionPatients.contains(""));
}

TEST_F(SamplePracticeTest, RecordsHoldLongMemosMergesAndGaps)
{
    const auto consultations = mdbExport(practice->v4Path, "CON CONSULTATION");
    const QStringList notes = column(consultations, "DONNEES");
    EXPECT_TRUE(std::any_of(notes.begin(), notes.end(), [](const QString& text) { return text.size() > 65536; }));
    EXPECT_TRUE(std::any_of(notes.begin(), notes.end(), [](const QString& text) { return text.size() > 4096 && text.size() < 65536; }));
    EXPECT_TRUE(column(consultations, "Date").contains(""));

    QSet<QString> patientTimes;
    bool shared = false;
    for (qsizetype i = 1; i < consultations.size() && !shared; ++i) {
        const QString key = consultations[i][1] + '|' + consultations[i][2];
        shared = patientTimes.contains(key);
        patientTimes.insert(key);
    }
    EXPECT_TRUE(shared) << "two consultations of a patient at the same date-time";

    const QStringList prescribed = column(mdbExport(practice->ordoPath, "ORD PRESCRIPTION"), "CODE ORDONNANCE");
    const QStringList prescriptions = column(mdbExport(practice->ordoPath, "ORD ORDONNANCE"), "CODE ORDONNANCE");
    EXPECT_TRUE(std::any_of(prescriptions.begin(), prescriptions.end(),
                            [&](const QString& code) { return !prescribed.contains(code); }))
        << "a prescription without items";
}

TEST_F(SamplePracticeTest, LetterFilesAreFoundUnlessMissingOnPurpose)
{
    const auto letters = mdbExport(practice->v4Path, "COU COURRIER GENERE");
    QStringList missing;
    for (qsizetype i = 1; i < letters.size(); ++i) {
        if (letters[i][1].toInt() > 0 && !letterFileExists(practice->lettersFolder, letters[i][4]))
            missing.append(letters[i][4]);
    }
    EXPECT_EQ(missing.size(), 2) << missing.join(", ").toStdString();
    EXPECT_TRUE(missing.first().startsWith("Perdu_"));
    EXPECT_TRUE(missing.last().endsWith(".doc"));
    const QStringList names = column(letters, "NOM FICHIER");
    EXPECT_TRUE(std::any_of(names.begin(), names.end(), [](const QString& name) { return name.contains('\\'); }));
    EXPECT_TRUE(std::any_of(names.begin(), names.end(), [](const QString& name) { return !name.contains('.'); }));

    QFile first(practice->lettersFolder + "Courrier_1.rtf");
    ASSERT_TRUE(first.open(QIODevice::ReadOnly));
    EXPECT_TRUE(first.readAll().startsWith("{\\rtf1"));
}

TEST(SamplePracticeOptionsTest, SameSeedSameFilesOtherSeedOtherFiles)
{
    QTemporaryDir folder;
    auto v4Bytes = [&](const QString& name, unsigned seed) {
        SamplePracticeOptions options;
        options.patients = 25;
        options.seed = seed;
        options.lettersPerPatient = 0;
        QFile file(writeSamplePractice(folder.filePath(name), options).v4Path);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    };
    const QByteArray first = v4Bytes("a", 7);
    EXPECT_FALSE(first.isEmpty());
    EXPECT_EQ(v4Bytes("b", 7), first);
    EXPECT_NE(v4Bytes("c", 8), first);
}

// Values of the rows of patients past the first (who also holds the odd rows), per patient.
QMap<QString, QSet<QString>> valuesPerPatient(const QList<QStringList>& exported, const QString& name,
                                              int length = -1)
{
    const QStringList patients = column(exported, "CODE PATIENT");
    const QStringList values = column(exported, name);
    QMap<QString, QSet<QString>> perPatient;
    for (qsizetype i = 0; i < patients.size(); ++i)
        if (patients[i].toInt() > 1)
            perPatient[patients[i]].insert(values[i].left(length));
    return perPatient;
}

TEST(SamplePracticeOptionsTest, ShapeOptionsGiveTheirCountsAndShares)
{
    QTemporaryDir folder;
    SamplePracticeOptions options{.patients = 200, .antecedentsPerPatient = 2, .consultationsPerPatient = 3,
                                  .prescriptionsPerPatient = 3, .lettersPerPatient = 0};
    options.detailLinesPerConsultation = 4;
    options.itemsPerPrescription = 1;
    options.patientsWithHistoryPercent = 25;
    options.sameTimeConsultationPercent = 0;
    options.sameDayPrescriptionPercent = 100;
    const SamplePractice practice = writeSamplePractice(folder.filePath("forme"), options);
    const auto count = [&](const char* table) { return double(practice.rowCounts.value(table)); };

    // Every regular prescription has its one item; the odd ones hold three between them, the
    // three without a patient and the one without items none.
    EXPECT_EQ(count("ORD PRESCRIPTION"), count("ORD ORDONNANCE") - 3);
    EXPECT_NEAR(count("CON SOUS CONSULTATION") / count("CON CONSULTATION"), 4, 0.6);
    EXPECT_NEAR(count("ANT ANTECEDENT PATIENT") / 200, 2, 0.5);

    const QMap<QString, QSet<QString>> histories =
        valuesPerPatient(mdbExport(practice.v4Path, "ANT ANTECEDENT PATIENT"), "CODE ANTECEDENT PATIENT");
    EXPECT_GT(histories.size(), 30);
    EXPECT_LT(histories.size(), 70);

    const QList<QStringList> consultations = mdbExport(practice.v4Path, "CON CONSULTATION");
    const QMap<QString, QSet<QString>> times = valuesPerPatient(consultations, "Date");
    qsizetype distinctTimes = 0;
    for (const QSet<QString>& patientTimes : times)
        distinctTimes += patientTimes.size();
    const qsizetype firstPatientRows = column(consultations, "CODE PATIENT").count("1");
    const qsizetype junkRows = 3;
    // Only two visits moved to the same early hour of one day may still meet.
    EXPECT_LE(consultations.size() - 1 - firstPatientRows - junkRows - distinctTimes, 2) << "date-times shared";

    for (const QSet<QString>& days : valuesPerPatient(mdbExport(practice.ordoPath, "ORD ORDONNANCE"), "DATE CONSULTATION", 8))
        EXPECT_EQ(days.size(), 1) << "every prescription of a patient on one day";

    options.sameDayPrescriptionPercent = 101;
    EXPECT_THROW(writeSamplePractice(folder.filePath("hors"), options), std::invalid_argument);
}

TEST(SamplePracticeOptionsTest, EmptyPracticeStillHasEveryTableAndNegativeCountsAreRefused)
{
    QTemporaryDir folder;
    SamplePracticeOptions options;
    options.patients = 0;
    const SamplePractice practice = writeSamplePractice(folder.filePath("vide"), options);
    EXPECT_EQ(mdbTables(practice.v4Path).size(), v4Columns.size());
    EXPECT_EQ(practice.rowCounts.value("GLB PATIENT"), 3);

    options.patients = -1;
    EXPECT_THROW(writeSamplePractice(folder.filePath("negatif"), options), std::invalid_argument);
}

} // namespace
} // namespace p1
