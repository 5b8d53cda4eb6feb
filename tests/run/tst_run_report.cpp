#include "cli/command_line.h"
#include "common/errors.h"
#include "common/locale_texts.h"
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
                         {"etapes", QJsonValue::Array}, {"tables", QJsonValue::Array},
                         {"compteurs", QJsonValue::Array}, {"courriers", QJsonValue::Object},
                         {"valeurs_modifiees", QJsonValue::Array}, {"refus", QJsonValue::Array}};

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
        EXPECT_TRUE(html.contains("<td>medecins</td>")) << c.name;
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
    EXPECT_FALSE(html.contains("<tr class=\"ecart\"><td>medecins</td>"));
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
    EXPECT_FALSE(html.contains("<tr class=\"ecart\"><td>medecins</td>"));
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
    report.stages = {stageCounts("medecins", 1, 1)};
    for (const char* name : {"r.html", "r.JSON", "r.csv"}) {
        writeReport(report, folder.filePath(name));
        EXPECT_TRUE(readUtf8(folder.filePath(name)).contains("medecins")) << name;
    }
    EXPECT_THROW(writeReport(report, folder.filePath("r.txt")), Error);
    EXPECT_THROW(writeReport(report, folder.filePath("absent/r.html")), Error);
}

} // namespace
} // namespace p1
