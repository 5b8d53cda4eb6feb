// A whole run through the command line with the purge and every stage, on a generated practice
// into a target of each engine, reached by its own driver or through ODBC: every source row with a positive code ends either stored or named in
// a failure line, and every stored letter has its file, byte for byte.

#include "common/files.h"
#include "dbaccess/target_settings.h"
#include "source/source_database.h"
#include "cli/command_line.h"
#include "tests/support/qt_printers.h"
#include "tests/support/recording_ui.h"
#include "tests/support/target_databases.h"
#include "tools/sample_practice/sample_practice.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QSet>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>

namespace p1::test {
namespace {

using Row = QMap<QString, SourceValue>;

QList<Row> sourceRows(const QString& path, const QString& table)
{
    SourceDatabase database(path);
    QStringList names;
    for (const SourceColumn& column : database.columns(table))
        names.append(column.name);
    QList<Row> rows;
    database.readRows(table, [&](const QList<SourceValue>& values) {
        Row row;
        for (qsizetype i = 0; i < names.size(); ++i)
            row.insert(names[i], values[i]);
        rows.append(row);
    });
    return rows;
}

qint64 integerOf(const SourceValue& value)
{
    return std::holds_alternative<qint64>(value) ? std::get<qint64>(value) : 0;
}

QSet<qint64> positiveCodes(const QList<Row>& rows, const QString& column)
{
    QSet<qint64> codes;
    for (const Row& row : rows)
        if (integerOf(row.value(column)) > 0)
            codes.insert(integerOf(row.value(column)));
    return codes;
}

QSet<qint64> storedCodes(TargetConnection& target, const QString& table, const QString& column)
{
    QSet<qint64> codes;
    for (const TableRow& row : readTable(target, table))
        codes.insert(row.value(column).asInteger());
    return codes;
}

// The codes named by the failure lines of a wording (the text after the stamp up to "n°").
QSet<qint64> failedCodes(const QStringList& log, const QString& wording, const QString& ending = {})
{
    const QRegularExpression line("^\\S+( \\S+)?" + QRegularExpression::escape(wording) + "(\\d+)"
                                  + QRegularExpression::escape(ending) + "( |$)");
    QSet<qint64> codes;
    for (const QString& text : log) {
        const QRegularExpressionMatch match = line.match(text);
        if (match.hasMatch())
            codes.insert(match.captured(2).toLongLong());
    }
    return codes;
}

QStringList readLines(FILE* file)
{
    std::fflush(file);
    std::rewind(file);
    QByteArray bytes;
    char buffer[4096];
    for (size_t read; (read = std::fread(buffer, 1, sizeof buffer, file)) > 0;)
        bytes.append(buffer, qsizetype(read));
    return QString::fromUtf8(bytes).split('\n', Qt::SkipEmptyParts);
}

qint64 positiveRows(const QList<Row>& rows)
{
    return std::count_if(rows.begin(), rows.end(),
                         [](const Row& row) { return integerOf(row.value("CODE PATIENT")) > 0; });
}

// Every history row of a known patient is one line of its patient's text, or a failure; every
// consultation is in the row of its patient and date-time, or a failure.
void checkHistoryAndConsultations(const SamplePractice& practice, TargetConnection& target, const QStringList& log)
{
    const QList<Row> history = sourceRows(practice.v4Path, "ANT ANTECEDENT PATIENT");
    qint64 lines = 0;
    for (const TableRow& row : readTable(target, "ANTECED")) {
        const QString text = row.value("ANTECEDENTS_MEDICAUX").asText();
        lines += text.isEmpty() ? 0 : text.count('\r') + 1;
    }
    EXPECT_GT(lines, 0);
    EXPECT_EQ(lines + log.filter(" : importation de l'antécédent du patient n°").size(), positiveRows(history));
    EXPECT_TRUE(log.contains(QString("%1 antécédents créés").arg(positiveRows(history))));

    const QList<Row> consultations = sourceRows(practice.v4Path, "CON CONSULTATION");
    QSet<std::pair<qint64, QDateTime>> stored;
    for (const TableRow& row : readTable(target, "MOTCONSU"))
        stored.insert({row.value("PATIENTS_ID").asInteger(), row.value("DATE_CONSULTATION").asDateTime()});
    const QSet<qint64> failed = failedCodes(log, " : importation de la consultation du patient n°");
    qint64 merged = 0;
    for (const Row& row : consultations) {
        const qint64 patient = integerOf(row.value("CODE PATIENT"));
        const SourceValue dateValue = row.value("Date");
        const auto* date = std::get_if<QDateTime>(&dateValue);
        if (patient <= 0 || !date)
            continue;
        ++merged;
        EXPECT_TRUE(stored.contains({patient, *date}) || failed.contains(patient)) << patient;
    }
    EXPECT_GT(merged, 0);
    const qint64 storedConsultations = positiveRows(consultations) - failed.size();
    EXPECT_TRUE(log.contains(QString("%1 consultations créées").arg(storedConsultations))) << storedConsultations;
}

// Every letter of a known patient is stored with its file, byte for byte, or named in the log.
void checkLetters(const SamplePractice& practice, TargetConnection& target, const QString& targetFolder,
                  const QStringList& log)
{
    const QList<Row> letters = sourceRows(practice.v4Path, "COU COURRIER GENERE");
    const QList<TableRow> rows = readTable(target, "LETTERS");
    EXPECT_GT(rows.size(), 0);
    EXPECT_EQ(rows.size() + log.filter(" inexistant.").size() + log.filter(" : échec d'importation du courrier n°").size()
                  + log.filter(" : importation du courrier n°").size(),
              positiveRows(letters));
    for (const TableRow& row : rows) {
        QFile stored(targetFolder + "LETTERS/" + row.value("PATIENTS_ID").asText() + '/' + row.value("FILENAME").asText());
        ASSERT_TRUE(stored.open(QIODevice::ReadOnly)) << stored.fileName().toStdString();
        const QByteArray content = stored.readAll();
        bool matched = false;
        for (const Row& letter : letters) {
            if (integerOf(letter.value("CODE PATIENT")) != row.value("PATIENTS_ID").asInteger()
                || std::get<QString>(letter.value("LIBELLE")) != row.value("DESCRIPTION").asText())
                continue;
            QString name = std::get<QString>(letter.value("NOM FICHIER"));
            if (!(practice.lettersFolder + name).toUpper().contains(".RTF"))
                name += ".RTF";
            QFile source(resolveWindowsName(practice.lettersFolder, name));
            matched = matched || (source.open(QIODevice::ReadOnly) && source.readAll() == content);
        }
        EXPECT_TRUE(matched) << stored.fileName().toStdString();
    }
}

// Every prescription of a known patient is in the row of its patient and day, or a failure.
void checkPrescriptions(const SamplePractice& practice, TargetConnection& target, const QStringList& log)
{
    const QList<Row> prescriptions = sourceRows(practice.ordoPath, "ORD ORDONNANCE");
    QSet<std::pair<qint64, QDate>> stored;
    for (const TableRow& row : readTable(target, "DATAPRESCR"))
        stored.insert({row.value("PATIENTS_ID").asInteger(), row.value("DATE_CONSULTATION").asDateTime().date()});
    const QSet<qint64> failed = failedCodes(log, " : importation de la prescription du patient n°")
                                + failedCodes(log, " : recherche de la consultation Tessaris du patient n°");
    for (const Row& row : prescriptions) {
        const qint64 patient = integerOf(row.value("CODE PATIENT"));
        const SourceValue dateValue = row.value("DATE CONSULTATION");
        const auto* date = std::get_if<QDateTime>(&dateValue);
        if (patient > 0 && date) {
            EXPECT_TRUE(stored.contains({patient, date->date()}) || failed.contains(patient)) << patient;
        }
    }
    EXPECT_GT(stored.size(), 0);
    const qint64 refused = log.filter(" : importation de la prescription du patient n°").size()
                           + log.filter(" : recherche de la consultation Tessaris du patient n°").size();
    EXPECT_TRUE(log.contains(QString("%1 pescriptions créées").arg(positiveRows(prescriptions) - refused)));
}

class WholeRunTest : public ::testing::TestWithParam<TargetConfiguration> {};

// The command line's words for the engine and the driver the target is reached by.
QStringList engineArguments(const TargetConfiguration& configuration)
{
    QStringList arguments{"--target-engine", defaultEngineUnit(configuration.engine).commandLineName()};
    if (*configuration.odbcDriver)
        arguments << "--odbc-driver" << configuration.odbcDriver;
    return arguments;
}

TEST_P(WholeRunTest, EveryPositiveCodeIsStoredOrNamedInAFailureLine)
{
    if (GetParam() == TargetEngine::Postgres)
        P1_REQUIRE_POSTGRES();
    ensureQtApplication();
    QTemporaryDir folder;
    ASSERT_TRUE(folder.isValid());
    qputenv("P1IMPORT_LOG_FOLDER", folder.filePath("logs").toUtf8());
    QDir().mkpath(folder.filePath("logs"));
    const SamplePractice practice =
        writeSamplePractice(folder.filePath("source"), {.patients = 400, .lettersPerPatient = 1});
    QString targetFolder = folder.filePath("target");

    FILE* out = std::tmpfile();
    FILE* err = std::tmpfile();
    const TerminalStreams streams{out, err, stdin};
    // An embedded target is made as an operator makes one; a server's database as the tests make it.
    TestTarget serverTarget;
    if (GetParam() == TargetEngine::Sqlite) {
        ASSERT_EQ(runCommandLine({"--init-target", targetFolder, "--target-engine", "sqlite"}, streams), 0);
    } else {
        serverTarget = makeTarget(GetParam());
        writeTargetSettings(serverTarget);
        targetFolder = serverTarget.folder.chopped(1);
    }
    const QStringList engine = engineArguments(GetParam());
    const int status = runCommandLine(QStringList{"--source", practice.v4Path, "--letters", practice.lettersFolder,
                                                  "--target", targetFolder, "--yes"}
                                          + engine,
                                      streams);
    const QStringList log = readLines(out);
    // 3: the practice names letter files that are missing on purpose.
    ASSERT_EQ(status, 3) << readLines(err).join('\n').toStdString();
    std::fclose(out);
    std::fclose(err);

    RecordingUi ui;
    TargetConnection target(GetParam().engine);
    target.setOdbcDriver(GetParam().odbcDriver);
    ASSERT_TRUE(openTargetConnection(target, ui, targetFolder + '/'));

    const QList<Row> users = sourceRows(practice.v4Path, "GLB Medecin");
    const QSet<qint64> userCodes = positiveCodes(users, "CODE MEDECIN");
    const QSet<qint64> refusedUsers = failedCodes(log, " : importation de l'utilisateur n°");
    EXPECT_EQ(storedCodes(target, "MEDECINS", "MEDECINS_ID") + refusedUsers, userCodes);
    EXPECT_EQ(storedCodes(target, "PL_SUBJ", "PL_SUBJ_ID")
                  + failedCodes(log, " : importation de l'utilisateur n°", " dans le planning")
                  + refusedUsers,
              userCodes);

    const QList<Row> entries = sourceRows(practice.v4Path, "ADR CARNET ADRESSE");
    EXPECT_EQ(storedCodes(target, "MEDTRAIT", "MEDTRAIT_ID")
                  + failedCodes(log, " : importation du correspondant n°"),
              positiveCodes(entries, "CODE CARNET ADRESSE"));

    const QList<Row> patients = sourceRows(practice.v4Path, "GLB PATIENT");
    const QSet<qint64> storedPatients = storedCodes(target, "PATIENTS", "PATIENTS_ID");
    EXPECT_EQ(storedPatients + failedCodes(log, " : importation du patient n°"),
              positiveCodes(patients, "CODE PATIENT"));
    EXPECT_GE(storedPatients.size(), 400);

    // Professions and links of the stored patients: a row each, or a failure line naming the patient.
    qint64 professions = 0;
    qint64 links = 0;
    for (const Row& patient : patients) {
        if (!storedPatients.contains(integerOf(patient.value("CODE PATIENT"))))
            continue;
        professions += integerOf(patient.value("CODE TYPE PROFESSION")) > 0;
        for (int n = 1; n <= 6; ++n)
            links += integerOf(patient.value(QString("CODE CORRESPONDANT %1").arg(n))) > 0;
    }
    const auto failureLines = [&](const QString& wording) {
        return log.filter(wording).size();
    };
    EXPECT_GT(professions, 0);
    EXPECT_GT(links, 0);
    const QList<TableRow> antecedents = readTable(target, "ANTECED");
    const auto professionRows = std::count_if(antecedents.begin(), antecedents.end(), [](const TableRow& row) {
        return !row.value("PROFESSION_ACTUELLE").isNull();
    });
    EXPECT_EQ(professionRows + failureLines(" : importation de la profession du patient n°"), professions);
    EXPECT_EQ(countRows(target, "PATMEDTR") + failureLines(" : importation du médecin traitant du patient n°"),
              links);

    // The summary lines count what the target holds.
    EXPECT_TRUE(log.contains(QString("%1 utilisateurs créés").arg(countRows(target, "MEDECINS"))));
    EXPECT_TRUE(log.contains(QString("%1 correspondants créés").arg(countRows(target, "MEDTRAIT"))));
    EXPECT_TRUE(log.contains(QString("%1 patients créés").arg(countRows(target, "PATIENTS"))));

    EXPECT_FALSE(QDir(folder.filePath("logs")).entryList({"P1Import - *.log"}).isEmpty());

    checkHistoryAndConsultations(practice, target, log);
    checkLetters(practice, target, targetFolder + '/', log);
    checkPrescriptions(practice, target, log);

    // Again without the purge: every row is refused by its identifier, named, and nothing changes.
    FILE* againOut = std::tmpfile();
    const int againStatus = runCommandLine(QStringList{"--source", practice.v4Path, "--letters",
                                                       practice.lettersFolder, "--target", targetFolder,
                                                       "--no-purge", "--only", "medecins,correspondants,patients",
                                                       "--yes"}
                                               + engine,
                                           {againOut, stderr, stdin});
    const QStringList again = readLines(againOut);
    std::fclose(againOut);
    ASSERT_EQ(againStatus, 3);
    EXPECT_EQ(failedCodes(again, " : importation de l'utilisateur n°"), userCodes);
    EXPECT_EQ(failedCodes(again, " : importation du correspondant n°"),
              positiveCodes(entries, "CODE CARNET ADRESSE"));
    EXPECT_EQ(failedCodes(again, " : importation du patient n°"), positiveCodes(patients, "CODE PATIENT"));
    EXPECT_EQ(again.filter("   ERREUR : ").size(),
              userCodes.size() + positiveCodes(entries, "CODE CARNET ADRESSE").size()
                  + positiveCodes(patients, "CODE PATIENT").size());
    EXPECT_TRUE(again.contains("0 utilisateur créé"));
    EXPECT_TRUE(again.contains("0 correspondant créé"));
    EXPECT_TRUE(again.contains("0 patient créé"));
    EXPECT_EQ(storedCodes(target, "PATIENTS", "PATIENTS_ID"), storedPatients);
    qunsetenv("P1IMPORT_LOG_FOLDER");
}

INSTANTIATE_TEST_SUITE_P(Engines, WholeRunTest, testEnginesWithOdbc(), engineTestName);

} // namespace
} // namespace p1::test
