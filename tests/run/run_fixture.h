#pragma once

// A practice to import, for the run and command-line tests: a source folder with a small V4.mdb
// and Ordo.mdb, a letters folder, a fresh target with its Kelvanor.ver and EDITOR.INI, and a log
// folder that P1IMPORT_LOG_FOLDER points at.

#include "common/files.h"
#include "common/locale_texts.h"
#include "targetdb/target_sql.h"
#include "tests/support/target_databases.h"
#include "tools/jetwriter/jet_writer.h"
#include "tools/sample_practice/source_tables.h"

#include <QDateTime>
#include <QDir>
#include <QLocale>
#include <QFile>
#include <QTemporaryDir>

namespace p1::test {

struct SourceUser {
    qint64 code;
    QString name;
};

struct SourceLetter {
    qint64 code;
    qint64 patient;
    QString fileName;
};

struct SourcePrescription {
    qint64 code;
    qint64 patient;
};

// The few rows a case needs; every other table the stages read is there, empty.
struct SourceContent {
    QList<SourceUser> users = {};
    bool withUsersTable = true;
    bool withOrdo = true;
    QList<SourceLetter> letters = {};
    QList<SourcePrescription> prescriptions = {};
    // Each prescription with one item; without, Ordo.mdb has no items table.
    bool withPrescriptionItems = true;
};

const QDateTime sourceLetterDay = QDateTime(QDate(2026, 1, 2), QTime(9, 0));
const QDateTime sourcePrescriptionDay = QDateTime(QDate(2026, 3, 5), QTime(10, 0));

inline void writeSourceFiles(const QString& folder, const SourceContent& content)
{
    jet::DatabaseBuilder v4;
    if (content.withUsersTable) {
        jet::TableBuilder& users = sample::physicianTable(v4);
        for (const SourceUser& user : content.users)
            users.row({user.code, user.name, QString("Jeanne"), qint64(1), QString("3 rue Haute"),
                       QString("75001"), QString("Paris"), QString("0102030405"), QString(), QString("pw")});
    }
    sample::specialtyTable(v4).row({qint64(1), QString("Généraliste")});
    sample::addressBookTable(v4);
    sample::patientTable(v4);
    sample::antecedentTable(v4);
    sample::patientAntecedentTable(v4);
    sample::consultationTypeTable(v4);
    sample::consultationTable(v4);
    sample::consultationDetailTable(v4);
    jet::TableBuilder& letters = sample::letterTable(v4);
    for (const SourceLetter& letter : content.letters)
        letters.row({letter.code, letter.patient, sourceLetterDay, QString("Lettre"), letter.fileName});
    v4.write(folder + "V4.mdb");
    if (!content.withOrdo)
        return;
    jet::DatabaseBuilder ordo;
    jet::TableBuilder& prescriptions = sample::prescriptionTable(ordo);
    for (const SourcePrescription& prescription : content.prescriptions)
        prescriptions.row({prescription.code, prescription.patient, qint64(3), sourcePrescriptionDay,
                           sourcePrescriptionDay});
    if (content.withPrescriptionItems && !content.prescriptions.isEmpty()) {
        jet::TableBuilder& items = sample::prescriptionItemTable(ordo);
        for (const SourcePrescription& prescription : content.prescriptions)
            items.row({prescription.code, qint64(1), QString("Doliprane 1000"), QString("1 cp le soir"), QString(),
                       QString()});
    }
    ordo.write(folder + "Ordo.mdb");
}

// A test of whole runs on each engine, the stamps and dates read the French way.
class RunOnEngineTest : public ::testing::TestWithParam<TargetConfiguration> {
protected:
    void SetUp() override
    {
        if (GetParam() == TargetEngine::Postgres)
            P1_REQUIRE_POSTGRES();
        ensureQtApplication();
        setTextLocale(QLocale(QLocale::French, QLocale::France));
    }
};

struct Practice {
    explicit Practice(const TargetConfiguration& configuration = {}, const SourceContent& content = {})
        : target(makeTarget(configuration))
    {
        QDir(temporary.path()).mkpath("source");
        QDir(temporary.path()).mkpath("courriers");
        QDir(temporary.path()).mkpath("logs");
        writeSourceFiles(source, content);
        writeTargetSettings(target);
        qputenv("P1IMPORT_LOG_FOLDER", logs.toUtf8());
    }
    ~Practice() { qunsetenv("P1IMPORT_LOG_FOLDER"); }

    QStringList logFiles() const { return QDir(logs).entryList({"*.log"}, QDir::Files); }

    QTemporaryDir temporary;
    QString source = EnsureTrailingBackslash(temporary.path()) + "source/";
    QString letters = EnsureTrailingBackslash(temporary.path()) + "courriers/";
    QString logs = EnsureTrailingBackslash(temporary.path()) + "logs/";
    TestTarget target;
};

} // namespace p1::test
