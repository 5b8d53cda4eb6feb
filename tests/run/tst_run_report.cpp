#include "cli/command_line.h"
#include "common/errors.h"
#include "common/locale_texts.h"
#include "run/report_model.h"
#include "run/run_report.h"
#include "tests/cli/command_line_runner.h"
#include "tests/run/run_fixture.h"
#include "tests/support/qt_printers.h"
#include "tools/sample_practice/sample_practice.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QDirIterator>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QSqlQuery>

#include <cstdio>

namespace p1 {
namespace {

using test::Practice;

const QString tooLongName(200, u'x');

// Users 2 twice (the second one's key is taken), 3 too long for its column, 0 skipped.
const test::SourceContent awkwardUsers{{{1, "Martin"}, {2, "Durand"}, {2, "Doublon"}, {0, "Ignoré"},
                                        {3, tooLongName}}};

struct Outcome {
    int status;
    QStringList logLines;
};

Outcome runCli(const Practice& practice, TargetEngine engine, const QStringList& extra)
{
    const QStringList arguments = QStringList{"--source", practice.source, "--letters", practice.letters,
                                              "--target", practice.target.folder + "Kelvanor.ver", "--yes",
                                              "--target-engine",
                                              engine == TargetEngine::Postgres ? "postgres" : "sqlite"}
                                  + extra;
    const test::CommandLineOutcome outcome = test::runCommandLineWith(arguments);
    return {outcome.status, outcome.out.split('\n', Qt::SkipEmptyParts)};
}

QJsonObject readJson(const QString& path)
{
    QFile file(path);
    EXPECT_TRUE(file.open(QIODevice::ReadOnly)) << path.toStdString();
    return QJsonDocument::fromJson(file.readAll()).object();
}

QString readUtf8(const QString& path)
{
    QFile file(path);
    EXPECT_TRUE(file.open(QIODevice::ReadOnly)) << path.toStdString();
    return QString::fromUtf8(file.readAll());
}

// The documented shape of the JSON report: every key, with its type.
struct Member {
    QString key;
    QJsonValue::Type type;
};
using Shape = QList<Member>;
const Shape stageShape = {{"etape", QJsonValue::String},  {"lues", QJsonValue::Double},
                          {"ignorees", QJsonValue::Double}, {"creees", QJsonValue::Double},
                          {"fusionnees", QJsonValue::Double}, {"refusees", QJsonValue::Double},
                          {"echecs", QJsonValue::Double}, {"secondes", QJsonValue::Double},
                          {"equilibre", QJsonValue::Bool}, {"lignes_source", QJsonValue::Double}};
const Shape lettersShape = {{"fichiers_copies", QJsonValue::Double}, {"octets_copies", QJsonValue::Double},
                            {"fichiers_manquants", QJsonValue::Double}, {"noms_refuses", QJsonValue::Double}};
const Shape refusalShape = {{"etape", QJsonValue::String}, {"code_source", QJsonValue::String},
                            {"libelle", QJsonValue::String}, {"message", QJsonValue::String}};
const Shape changeShape = {{"etape", QJsonValue::String}, {"code_source", QJsonValue::String},
                           {"colonne", QJsonValue::String}, {"valeur_source", QJsonValue::String},
                           {"valeur_enregistree", QJsonValue::String}};
const Shape rootShape = {{"debut", QJsonValue::String},  {"termine", QJsonValue::Bool},
                         {"raison_arret", QJsonValue::String}, {"equilibre", QJsonValue::Bool},
                         {"verdict", QJsonValue::String}, {"duree_secondes", QJsonValue::Double},
                         {"etapes", QJsonValue::Array}, {"total_etapes", QJsonValue::Object},
                         {"tables", QJsonValue::Array}, {"compteurs", QJsonValue::Array},
                         {"courriers", QJsonValue::Object}, {"valeurs_modifiees", QJsonValue::Array},
                         {"refus", QJsonValue::Array}, {"refus_par_message", QJsonValue::Array}};
const Shape refusalGroupShape = {{"etape", QJsonValue::String}, {"message", QJsonValue::String},
                                 {"nombre", QJsonValue::Double}, {"premiers_codes", QJsonValue::String}};

QStringList shapeErrors(const QJsonObject& object, const Shape& shape, const QString& where)
{
    QStringList errors;
    for (const Member& member : shape)
        if (object.value(member.key).type() != member.type)
            errors.append(where + "." + member.key);
    if (object.size() != shape.size())
        errors.append(where + " : " + QString::number(object.size()) + " clés");
    return errors;
}

// Before and after are numbers, or null for a table or key the target did not hold then; a table
// also has the rows counted as created in it and whether it gained them.
QStringList beforeAfterErrors(const QJsonArray& entries, const QString& nameKey, const QString& where)
{
    QStringList errors;
    const bool tables = nameKey == "table";
    for (const QJsonValue& entry : entries) {
        const QJsonObject object = entry.toObject();
        if (!object.value(nameKey).isString() || object.size() != (tables ? 5 : 3))
            errors.append(where);
        if (tables && (!object.value("creees_comptees").isDouble() || !object.value("equilibre").isBool()))
            errors.append(where + ".creees_comptees");
        for (const char* side : {"avant", "apres"})
            if (!object.value(side).isDouble() && !object.value(side).isNull())
                errors.append(where + "." + side);
    }
    return errors;
}

QStringList reportShapeErrors(const QJsonObject& root)
{
    QStringList errors = shapeErrors(root, rootShape, "racine");
    for (const QJsonValue& stage : root["etapes"].toArray())
        errors += shapeErrors(stage.toObject(), stageShape, "etapes");
    errors += shapeErrors(root["total_etapes"].toObject(), stageShape, "total_etapes");
    for (const QJsonValue& group : root["refus_par_message"].toArray())
        errors += shapeErrors(group.toObject(), refusalGroupShape, "refus_par_message");
    for (const QJsonValue& refusal : root["refus"].toArray())
        errors += shapeErrors(refusal.toObject(), refusalShape, "refus");
    for (const QJsonValue& change : root["valeurs_modifiees"].toArray())
        errors += shapeErrors(change.toObject(), changeShape, "valeurs_modifiees");
    errors += shapeErrors(root["courriers"].toObject(), lettersShape, "courriers");
    errors += beforeAfterErrors(root["tables"].toArray(), "table", "tables");
    errors += beforeAfterErrors(root["compteurs"].toArray(), "cle", "compteurs");
    return errors;
}

QJsonObject entryNamed(const QJsonArray& entries, const QString& nameKey, const QString& name)
{
    for (const QJsonValue& entry : entries)
        if (entry.toObject().value(nameKey).toString() == name)
            return entry.toObject();
    return {};
}

class RunReportTest : public test::RunOnEngineTest {};

TEST_P(RunReportTest, CountsMatchTheTargetRowsAndTheLogsFailureLines)
{
    Practice practice(GetParam(), awkwardUsers);
    {
        auto target = test::connectTo(practice.target);
        TargetStatement(*target, {"INSERT INTO MEDECINS (MEDECINS_ID, NOM) VALUES (9, 'Avant')"}).execute();
    }
    const QString reportPath = practice.logs + "rapport.json";
    const Outcome outcome = runCli(practice, GetParam(), {"--only", "medecins", "--report", reportPath});
    ASSERT_EQ(outcome.status, 3); // rows were refused

    const QJsonObject report = readJson(reportPath);
    EXPECT_EQ(reportShapeErrors(report), QStringList());
    EXPECT_TRUE(report["termine"].toBool());
    EXPECT_TRUE(report["equilibre"].toBool());
    const QJsonArray stages = report["etapes"].toArray();
    ASSERT_EQ(stages.size(), 1);
    const QJsonObject users = stages[0].toObject();
    EXPECT_EQ(users["etape"].toString(), "medecins");
    EXPECT_EQ(users["lues"].toInt(), 5);
    EXPECT_EQ(users["ignorees"].toInt(), 1);
    EXPECT_EQ(users["lues"].toInt(), users["ignorees"].toInt() + users["creees"].toInt()
                                          + users["fusionnees"].toInt() + users["refusees"].toInt());

    auto target = test::connectTo(practice.target);
    const QJsonObject medecins = entryNamed(report["tables"].toArray(), "table", "MEDECINS");
    EXPECT_EQ(medecins["avant"].toInt(), 1);
    EXPECT_EQ(medecins["apres"].toInt(), test::countRows(*target, "MEDECINS"));
    EXPECT_EQ(users["creees"].toInt(), test::countRows(*target, "MEDECINS"));

    QStringList reportedLines;
    QStringList reportedCodes;
    for (const QJsonValue& value : report["refus"].toArray()) {
        const QJsonObject refusal = value.toObject();
        EXPECT_EQ(refusal["etape"].toString(), "medecins");
        reportedLines.append(refusal["libelle"].toString());
        reportedLines.append("ERREUR : " + refusal["message"].toString());
        reportedCodes.append(refusal["code_source"].toString());
    }
    const QStringList failureLines =
        outcome.logLines.filter(QRegularExpression("importation|ERREUR")).replaceInStrings(
            QRegularExpression("^[0-9/ :]+ : |^\\s+"), QString());
    EXPECT_EQ(reportedLines, failureLines);
    EXPECT_EQ(reportedCodes, QStringList({"2", "3"}));
    EXPECT_EQ(users["refusees"].toInt(), 2);
}

// What a stage counts as created is checked against what its table gained: rows the target drops
// after their insert (a trigger of its own) are not there, whatever the stage was told.
TEST_P(RunReportTest, RowsCountedAsCreatedThatTheTargetDoesNotHoldAreNamedAndTheRunSaysSo)
{
    Practice practice(GetParam(), {{{1, "Martin"}, {2, "Durand"}, {3, "Petit"}}});
    {
        auto target = test::connectTo(practice.target);
        QSqlQuery trigger(target->database());
        const bool made =
            GetParam() == TargetEngine::Sqlite
                ? trigger.exec("CREATE TRIGGER vanish AFTER INSERT ON MEDECINS BEGIN DELETE FROM MEDECINS "
                               "WHERE MEDECINS_ID = NEW.MEDECINS_ID; END")
                : trigger.exec("CREATE FUNCTION vanish() RETURNS trigger AS $$ BEGIN DELETE FROM MEDECINS WHERE "
                               "MEDECINS_ID = NEW.MEDECINS_ID; RETURN NULL; END $$ LANGUAGE plpgsql")
                      && trigger.exec("CREATE TRIGGER vanish AFTER INSERT ON MEDECINS FOR EACH ROW EXECUTE "
                                      "FUNCTION vanish()");
        ASSERT_TRUE(made) << trigger.lastError().text().toStdString();
    }
    const QString reportPath = practice.logs + "rapport.json";

    const Outcome outcome = runCli(practice, GetParam(), {"--only", "medecins", "--report", reportPath});

    EXPECT_EQ(outcome.status, 3);
    EXPECT_TRUE(outcome.logLines.contains("3 utilisateurs créés"));
    const QJsonObject report = readJson(reportPath);
    EXPECT_EQ(reportShapeErrors(report), QStringList());
    EXPECT_FALSE(report["equilibre"].toBool());
    EXPECT_TRUE(report["etapes"][0]["equilibre"].toBool()); // every row read is counted once
    const QJsonObject medecins = entryNamed(report["tables"].toArray(), "table", "MEDECINS");
    EXPECT_EQ(medecins["creees_comptees"].toInt(), 3);
    EXPECT_EQ(medecins["apres"].toInt(), 0);
    EXPECT_FALSE(medecins["equilibre"].toBool());
    EXPECT_TRUE(entryNamed(report["tables"].toArray(), "table", "PATIENTS")["equilibre"].toBool());

    const QString html = readUtf8(practice.logs + practice.logFiles().value(0).replace(".log", ".html"));
    EXPECT_TRUE(html.contains("<tr class=\"ecart\"><td>MEDECINS</td>")) << html.toStdString();
    EXPECT_TRUE(html.contains("3 lignes créées comptées, 0 gagnée")) << html.toStdString();
}

TEST_P(RunReportTest, EveryRunThatReachedAStageLeavesAnHtmlReportBesideItsLog)
{
    struct Case {
        const char* name;
        test::SourceContent content;
        int status;
        bool ended;
    };
    const QList<Case> cases = {
        {"ended with refused rows", awkwardUsers, 3, true},
        {"stopped: its table cannot be opened", {{}, false, true}, 1, false},
    };
    for (const Case& c : cases) {
        Practice practice(GetParam(), c.content);
        const QString jsonPath = practice.logs + "rapport.json";
        EXPECT_EQ(runCli(practice, GetParam(), {"--report", jsonPath}).status, c.status) << c.name;
        EXPECT_EQ(readJson(jsonPath)["termine"].toBool(), c.ended) << c.name;

        const QStringList logs = practice.logFiles();
        ASSERT_EQ(logs.size(), 1) << c.name;
        const QString html = readUtf8(practice.logs + QString(logs[0]).replace(".log", ".html"));
        EXPECT_TRUE(html.startsWith("<!DOCTYPE html>")) << c.name;
        EXPECT_TRUE(html.contains("<td>médecins, utilisateurs</td>")) << c.name;
        EXPECT_FALSE(html.contains("<script", Qt::CaseInsensitive)) << c.name;
        EXPECT_FALSE(html.contains("http", Qt::CaseInsensitive)) << c.name;
        EXPECT_EQ(html.contains("Traitement interrompu"), !c.ended) << c.name;
    }
}

TEST_P(RunReportTest, AReportFileOfAnotherFormatIsRefusedBeforeTheTargetIsTouched)
{
    Practice practice(GetParam(), awkwardUsers);
    EXPECT_EQ(runCli(practice, GetParam(), {"--report", practice.logs + "rapport.txt"}).status, 2);
    EXPECT_EQ(practice.logFiles(), QStringList());
}

// Every stage of a generated practice whose letters are in part missing on purpose.
TEST(RunReportOfAPractice, EveryStageBalancesAndTheLetterCountsMatchTheCopiedFiles)
{
    test::ensureQtApplication();
    setTextLocale(QLocale(QLocale::French, QLocale::France));
    QTemporaryDir folder;
    const QString logs = folder.filePath("logs");
    QDir().mkpath(logs);
    qputenv("P1IMPORT_LOG_FOLDER", logs.toUtf8());
    const SamplePractice practice =
        writeSamplePractice(folder.filePath("source"), {.patients = 60, .lettersPerPatient = 1});
    const QString targetFolder = folder.filePath("target");
    ASSERT_EQ(test::runCommandLineWith({"--init-target", targetFolder, "--target-engine", "sqlite"}).status, 0);
    const QString reportPath = folder.filePath("rapport.json");
    const QStringList log = test::runCommandLineWith({"--source", practice.v4Path, "--letters", practice.lettersFolder,
                                                      "--target", targetFolder, "--yes", "--target-engine", "sqlite",
                                                      "--report", reportPath})
                                .out.split('\n');
    qunsetenv("P1IMPORT_LOG_FOLDER");

    const QJsonObject report = readJson(reportPath);
    EXPECT_EQ(reportShapeErrors(report), QStringList());
    EXPECT_TRUE(report["termine"].toBool());
    for (const QJsonValue& stage : report["etapes"].toArray())
        EXPECT_TRUE(stage["equilibre"].toBool()) << stage["etape"].toString().toStdString();
    for (const QJsonValue& table : report["tables"].toArray())
        EXPECT_TRUE(table["equilibre"].toBool()) << table["table"].toString().toStdString();
    EXPECT_TRUE(report["equilibre"].toBool());

    qint64 files = 0;
    qint64 bytes = 0;
    for (QDirIterator it(targetFolder + "/LETTERS", QDir::Files, QDirIterator::Subdirectories); it.hasNext();) {
        it.next();
        ++files;
        bytes += it.fileInfo().size();
    }
    const QJsonObject letters = report["courriers"].toObject();
    EXPECT_GT(files, 0);
    EXPECT_EQ(letters["fichiers_copies"].toInteger(), files);
    EXPECT_EQ(letters["octets_copies"].toInteger(), bytes);
    EXPECT_EQ(letters["fichiers_manquants"].toInteger() + letters["noms_refuses"].toInteger(),
              log.filter(" inexistant.").size());
    EXPECT_GT(letters["fichiers_manquants"].toInteger(), 0);
    EXPECT_EQ(entryNamed(report["tables"].toArray(), "table", "LETTERS")["apres"].toInteger(), files);
}

INSTANTIATE_TEST_SUITE_P(Engines, RunReportTest, test::testEngines(), test::engineTestName);

StageCounts stageCounts(const QString& stage, qint64 read, qint64 stored)
{
    StageCounts counts;
    counts.stage = stage;
    counts.read = read;
    counts.stored = stored;
    return counts;
}

TEST(RunReportRendering, AStageThatDoesNotBalanceIsShownInRed)
{
    RunReport report;
    report.stages = {stageCounts("medecins", 2, 2), stageCounts("patients", 5, 4)};
    EXPECT_FALSE(report.balanced());

    const QString html = reportHtml(report);
    EXPECT_TRUE(html.contains("<tr class=\"ecart\"><td>patients</td>"));
    EXPECT_TRUE(html.contains("<tr><td>médecins, utilisateurs</td>"));
    EXPECT_TRUE(html.contains("écart de 1"));
    EXPECT_FALSE(QJsonDocument::fromJson(reportJson(report).toUtf8())["equilibre"].toBool());
}

// The rows a stage read are checked against the rows its source table holds, counted apart.
TEST(RunReportRendering, AStageThatReadFewerRowsThanItsSourceHoldsDoesNotBalance)
{
    RunReport report;
    report.stages = {stageCounts("medecins", 2, 2), stageCounts("patients", 5, 5)};
    report.sourceRows = {{"medecins", 2}, {"patients", 6}};
    EXPECT_FALSE(report.balanced());

    const QString html = reportHtml(report);
    EXPECT_TRUE(html.contains("<tr class=\"ecart\"><td>patients</td>"));
    EXPECT_TRUE(html.contains("<tr><td>médecins, utilisateurs</td>"));
    EXPECT_TRUE(html.contains("6 lignes dans la table source"));
    const QJsonDocument json = QJsonDocument::fromJson(reportJson(report).toUtf8());
    EXPECT_FALSE(json["etapes"][1]["equilibre"].toBool());
    EXPECT_EQ(json["etapes"][1]["lignes_source"].toInt(), 6);
    EXPECT_TRUE(reportCsv(report).contains("etape;patients;5;0;5;0;0;0.000;non;0;6\r\n"))
        << reportCsv(report).toStdString();
}

TEST(RunReportRendering, EngineMessagesKeepTheirSeparatorsQuotesAndMarkup)
{
    RunReport report;
    StageCounts patients = stageCounts("patients", 1, 0);
    patients.refused = 1;
    patients.failureLines = {{"7", " : importation du patient n°7", "valeur \"trop\" longue; <b>colonne</b>"}};
    report.stages = {patients};

    EXPECT_TRUE(reportCsv(report).contains(
        "refus;patients;7;importation du patient n°7;\"valeur \"\"trop\"\" longue; <b>colonne</b>\"\r\n"));
    EXPECT_TRUE(reportHtml(report).contains("longue; &lt;b&gt;colonne&lt;/b&gt;"));
    const QJsonObject refusal = QJsonDocument::fromJson(reportJson(report).toUtf8())["refus"][0].toObject();
    EXPECT_EQ(refusal["message"].toString(), "valeur \"trop\" longue; <b>colonne</b>");
}

TEST(RunReportRendering, TheFileNamesItsFormatByItsExtension)
{
    QTemporaryDir folder;
    RunReport report;
    report.stages = {stageCounts("patients", 1, 1)};
    for (const char* name : {"r.html", "r.JSON", "r.csv"}) {
        writeReport(report, folder.filePath(name));
        EXPECT_TRUE(readUtf8(folder.filePath(name)).contains("patients")) << name;
    }
    EXPECT_THROW(writeReport(report, folder.filePath("r.txt")), Error);
    EXPECT_THROW(writeReport(report, folder.filePath("absent/r.html")), Error);
}

// A report with a line of every kind: rows refused, a value changed, letters not found, tables
// and counters the run changed and others it left as they were; a check's findings too.
RunReport reportOfEveryKind(bool check)
{
    RunReport report;
    report.check = check;
    report.ended = true;
    report.startedAt = QDateTime(QDate(2026, 12, 8), QTime(12, 53, 55));
    report.seconds = 3.5;
    StageCounts users = stageCounts("medecins", 4, 3);
    users.refused = 1;
    users.failures = 1;
    users.seconds = 0.5;
    users.failureLines = {{"2", " : importation de l'utilisateur n°2", "clé en double"}};
    StageCounts patients = stageCounts("patients", 20000, 20000);
    patients.seconds = 2;
    patients.changedValues = {{"7", "N_SS", "1 23 45 A", "12345"}};
    StageCounts letters = stageCounts("courriers", 43, 41);
    letters.refused = 2;
    report.letters = {41, 4100, 2, 0};
    if (check) {
        patients.oversizedValues = {{"9", {"PATIENTS", "NOM", 20, QString(30, u'x')}}};
        report.findings.presentIdentifiers = {{"medecins", "MEDECINS", "2"}};
        report.findings.prescriptionTableProblem = "La table des prescriptions DATAPRESCR, nommée par EDITOR.INI, "
                                                   "n'existe pas dans la base Tessaris.";
    }
    report.stages = {users, patients, letters};
    report.sourceRows = {{"medecins", 4}, {"patients", 20000}, {"courriers", 43}};
    report.stageTables = {{"medecins", {"MEDECINS", {"PL_SUBJ"}}}, {"patients", {"PATIENTS", {}}},
                          {"courriers", {"LETTERS", {}}}};
    report.before = {true, {{"MEDECINS", 0}, {"PATIENTS", 0}, {"LETTERS", 0}, {"CPACTES", 0}, {"IMAGES", 5}},
                     {{"PATIENTS", 0}, {"FACTURES", 12}}};
    report.start = report.before;
    report.after = {true, {{"MEDECINS", 3}, {"PATIENTS", 20000}, {"LETTERS", 41}, {"CPACTES", 0}, {"IMAGES", 5}},
                    {{"PATIENTS", 20000}, {"FACTURES", 12}, {"CPACTES", 0}}};
    return report;
}

QStringList csvLinesOf(const RunReport& report)
{
    return reportCsv(report).split("\r\n");
}

// The page, the JSON and the CSV are drawn from one description of the report: each shows every
// column of every table of it, and every row.
TEST(RunReportRendering, EveryRenderingShowsEveryColumnAndRowOfTheReport)
{
    for (const bool check : {false, true}) {
        const RunReport report = reportOfEveryKind(check);
        const ReportModel model = reportModel(report);
        const QJsonObject json = QJsonDocument::fromJson(reportJson(report).toUtf8()).object();
        const QStringList csv = csvLinesOf(report);
        const QString html = reportHtml(report);
        for (const ReportTable* table : model.fileTables()) {
            const std::string name = (table->csvLabel + (check ? " (vérification)" : "")).toStdString();
            const QJsonObject parent = table->jsonParent.isEmpty() ? json : json[table->jsonParent].toObject();
            QList<QJsonObject> objects;
            if (table->shape == JsonShape::List)
                for (const QJsonValue& entry : parent[table->jsonKey].toArray())
                    objects.append(entry.toObject());
            else if (table->shape == JsonShape::Object)
                objects.append(table->jsonKey.isEmpty() ? json : parent[table->jsonKey].toObject());
            if (table->shape != JsonShape::Value) {
                EXPECT_EQ(objects.size(), table->rows.size()) << name;
                for (const QJsonObject& object : objects)
                    for (const ReportColumn& column : table->columns)
                        EXPECT_TRUE(object.contains(column.key)) << name << " " << column.key.toStdString();
            } else {
                EXPECT_TRUE(parent.contains(table->jsonKey)) << name;
            }
            if (table->total) {
                for (const ReportColumn& column : table->columns)
                    EXPECT_TRUE(parent["total_" + table->jsonKey].toObject().contains(column.key)) << name;
            }

            EXPECT_EQ(csv.filter(QRegularExpression("^" + table->csvLabel + ";")).size(), table->rows.size()) << name;
            for (const ReportColumn& column : table->columns)
                EXPECT_FALSE(csv.filter(QRegularExpression("^section;(.*;)?" + column.keyInCsv() + "(;|$)")).isEmpty())
                    << name << " " << column.keyInCsv().toStdString();
            if (table->shape == JsonShape::List) {
                for (const ReportColumn& column : table->columns)
                    EXPECT_TRUE(html.contains("<th>" + column.title.toHtmlEscaped() + "</th>"))
                        << name << " " << column.title.toStdString();
            }
        }
        // Readers of the CSV find its first blocks where they always were.
        EXPECT_EQ(csv.value(0), "section;nom;lues;ignorees;creees;fusionnees;refusees;secondes;equilibre;echecs;"
                                "lignes_source");
        EXPECT_TRUE(csv.contains("compteur;FACTURES;12;12;;"));
        EXPECT_TRUE(csv.contains("courriers;41;4100;2;0"));
    }
}

// The verdict, one sentence a reader who is no developer understands, with its colour.
TEST(RunReportRendering, TheVerdictSaysInOneSentenceWhatTheRunDidAndWhatToLookInto)
{
    const QString thousands = QLocale(QLocale::French).groupSeparator();
    RunReport clean;
    clean.ended = true;
    clean.stages = {stageCounts("medecins", 3, 3)};
    RunReport stopped = reportOfEveryKind(false);
    stopped.ended = false;
    stopped.stopReason = "La table [GLB PATIENT] ne peut pas être ouverte";
    stopped.stages = {stopped.stages[0], stageCounts("patients", 12, 12)};
    stopped.sourceRows.remove("patients"); // a stopped stage's source is not counted
    stopped.after.tableRows["PATIENTS"] = 12;
    RunReport vanished = clean;
    vanished.stageTables = {{"medecins", {"MEDECINS", {}}}};
    vanished.before = vanished.start = {true, {{"MEDECINS", 0}}, {}};
    vanished.after = {true, {{"MEDECINS", 0}}, {}};
    struct Case {
        const char* name;
        RunReport report;
        QString sentence;
        QString tone;
        QString balance;
    };
    const QList<Case> cases = {
        {"clean", clean, "Importation terminée : 3 utilisateurs ; aucune ligne refusée.", "bon", "équilibré"},
        {"refusals", reportOfEveryKind(false),
         "Importation terminée : 3 utilisateurs, 20" + thousands
             + "000 patients, 41 courriers ; 2 courriers introuvables ; 1 ligne refusée.",
         "attention", "équilibré"},
        {"stopped", stopped,
         "Traitement interrompu à l'étape « patients » : La table [GLB PATIENT] ne peut pas être ouverte. "
         "La base Tessaris contient maintenant 3 utilisateurs, 12 patients.",
         "grave", "équilibré"},
        {"check", reportOfEveryKind(true),
         "Vérification terminée, rien n'a été écrit : l'importation enregistrerait 3 utilisateurs, 20" + thousands
             + "000 patients, 41 courriers ; 2 courriers introuvables ; 1 ligne serait refusée ; la table des "
               "prescriptions est introuvable ; 1 identifiant déjà présent dans la base Tessaris ; 1 valeur "
               "trop longue pour sa colonne.",
         "attention", "équilibré"},
        {"rows that vanished", vanished, "Importation terminée : 3 utilisateurs ; aucune ligne refusée.", "grave",
         "en écart"},
    };
    for (const Case& c : cases) {
        const QJsonObject json = QJsonDocument::fromJson(reportJson(c.report).toUtf8()).object();
        EXPECT_EQ(json["verdict"].toString(), c.sentence) << c.name;
        const QString html = reportHtml(c.report);
        EXPECT_TRUE(html.contains("<div class=\"verdict " + c.tone + "\">\n<p class=\"phrase\">"
                                  + c.sentence.toHtmlEscaped() + "</p>"))
            << c.name << "\n" << html.toStdString();
        EXPECT_TRUE(html.contains("\">" + c.balance + "</span>")) << c.name;
        EXPECT_TRUE(reportCsv(c.report).contains(c.sentence)) << c.name;
    }
}

// Six hundred rows refused for one reason are one reason to look into: one line with its count
// and its first codes, every row still listed below it and in the files.
TEST(RunReportRendering, RefusalsOfOneMessageAreOneLineWithTheirCountAndFirstCodes)
{
    RunReport report;
    report.ended = true;
    StageCounts patients = stageCounts("patients", 601, 0);
    patients.refused = patients.failures = 601;
    for (int code = 1; code <= 600; ++code)
        patients.failureLines.append({QString::number(code), QString(" : importation du patient n°%1").arg(code),
                                      "UNIQUE constraint failed: PATIENTS.PATIENTS_ID"});
    patients.failureLines.insert(3, {"900", " : importation du patient n°900", "NOT NULL constraint failed"});
    report.stages = {patients};

    const QJsonObject json = QJsonDocument::fromJson(reportJson(report).toUtf8()).object();
    EXPECT_EQ(json["refus"].toArray().size(), 601);
    const QJsonArray groups = json["refus_par_message"].toArray();
    ASSERT_EQ(groups.size(), 2);
    EXPECT_EQ(groups[0]["message"].toString(), "UNIQUE constraint failed: PATIENTS.PATIENTS_ID");
    EXPECT_EQ(groups[0]["nombre"].toInt(), 600);
    EXPECT_EQ(groups[0]["premiers_codes"].toString(), "1, 2, 3, 4, 5, 6, 7, 8, 9, 10");
    EXPECT_EQ(groups[1]["nombre"].toInt(), 1);
    EXPECT_EQ(groups[1]["premiers_codes"].toString(), "900");
    EXPECT_TRUE(reportCsv(report).contains(
        "refus_groupe;patients;UNIQUE constraint failed: PATIENTS.PATIENTS_ID;600;1, 2, 3, 4, 5, 6, 7, 8, 9, 10\r\n"));

    const QString html = reportHtml(report);
    const qsizetype folded = html.indexOf("<details><summary>Les 601 lignes une par une</summary>");
    ASSERT_GE(folded, 0);
    EXPECT_LT(html.indexOf("<td class=\"nombre\">600</td><td>1, 2, 3"), folded);
    EXPECT_GT(html.indexOf("<td>importation du patient n°600</td>"), folded);
}

TEST(RunReportRendering, TablesAndCountersTheRunLeftAsTheyWereAreFoldedIntoOneLine)
{
    const RunReport report = reportOfEveryKind(false);
    const QString html = reportHtml(report);
    const qsizetype folded = html.indexOf("<details><summary>2 autres tables : inchangées</summary>");
    ASSERT_GE(folded, 0);
    EXPECT_LT(html.indexOf("<td>MEDECINS</td>"), folded);
    EXPECT_LT(html.indexOf("<td>PATIENTS</td>"), folded);
    EXPECT_GT(html.indexOf("<td>CPACTES</td>"), folded);
    EXPECT_GT(html.indexOf("<td>IMAGES</td>"), folded);
    // A counter made at 0 hands out the numbers one missing would.
    const qsizetype countersFolded = html.indexOf("<details><summary>2 autres compteurs : inchangés</summary>");
    ASSERT_GE(countersFolded, 0);
    EXPECT_GT(html.indexOf("<td>FACTURES</td>"), countersFolded);
    EXPECT_GT(html.indexOf("<td>CPACTES</td>", countersFolded), countersFolded);
    EXPECT_EQ(QJsonDocument::fromJson(reportJson(report).toUtf8())["tables"].toArray().size(), 5);

    RunReport nothingChanged;
    nothingChanged.before = nothingChanged.after = {true, {{"CPACTES", 0}, {"IMAGES", 5}}, {}};
    EXPECT_TRUE(reportHtml(nothingChanged).contains("<details><summary>2 tables : inchangées</summary>"));
}

TEST(RunReportRendering, TheStagesTotalsAddUpTheirFiguresInEveryRendering)
{
    RunReport report = reportOfEveryKind(false);
    const QJsonObject total = QJsonDocument::fromJson(reportJson(report).toUtf8())["total_etapes"].toObject();
    EXPECT_EQ(total["lignes_source"].toInt(), 20047);
    EXPECT_EQ(total["lues"].toInt(), 20047);
    EXPECT_EQ(total["creees"].toInt(), 20044);
    EXPECT_EQ(total["refusees"].toInt(), 3);
    EXPECT_EQ(total["echecs"].toInt(), 1);
    EXPECT_DOUBLE_EQ(total["secondes"].toDouble(), 2.5);
    EXPECT_TRUE(total["equilibre"].toBool());
    EXPECT_TRUE(csvLinesOf(report).contains("total_etape;total;20047;0;20044;0;3;2.500;oui;1;20047"));
    EXPECT_TRUE(reportHtml(report).contains("<tr class=\"total\"><td>Total</td>"));

    // A stage whose source could not be counted leaves the total of the source rows unknown.
    report.sourceRows.remove("patients");
    EXPECT_TRUE(QJsonDocument::fromJson(reportJson(report).toUtf8())["total_etapes"]["lignes_source"].isNull());
    EXPECT_TRUE(csvLinesOf(report).contains("total_etape;total;20047;0;20044;0;3;2.500;oui;1;"));
}

// The pictures are drawn inline, and a refused row among thousands stays visible in them.
TEST(RunReportRendering, ThePicturesShowEveryStageAndARefusedRowAmongThousands)
{
    RunReport report = reportOfEveryKind(false);
    report.stages[1].read = 100001;
    report.stages[1].stored = 100000;
    report.stages[1].refused = 1;
    const QString html = reportHtml(report);
    const qsizetype pictures = html.indexOf("<svg");
    ASSERT_GE(pictures, 0);
    EXPECT_FALSE(html.contains("<script", Qt::CaseInsensitive));
    EXPECT_FALSE(html.contains("http", Qt::CaseInsensitive));
    for (const char* caption : {"médecins, utilisateurs", "patients", "courriers", "hors des étapes"})
        EXPECT_TRUE(html.indexOf(QString(">%1</text>").arg(caption), pictures) > 0) << caption;
    const QRegularExpression refusedSegment("<rect x=\"\\d+\" y=\"(\\d+)\" width=\"(\\d+)\" height=\"\\d+\" "
                                            "fill=\"#c62828\"/>");
    QList<int> refusedWidths;
    for (auto match = refusedSegment.globalMatch(html); match.hasNext();)
        refusedWidths.append(match.next().captured(2).toInt());
    ASSERT_EQ(refusedWidths.size(), 4); // the legend's, and one per stage that refused rows
    EXPECT_GE(*std::min_element(refusedWidths.begin(), refusedWidths.end()), 3);
}

} // namespace
} // namespace p1
