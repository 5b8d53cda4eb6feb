// Every refused row has its record: whatever refused it (the target, a consultation that could not
// be made for it, items that could not be read, a letter file missing or whose new name is taken),
// the report lists it, in each of its formats, with the stage, the row's source code, the wording
// that names it and the reason.
#include "common/files.h"
#include "run/import_session.h"
#include "run/report_model.h"
#include "run/run_report.h"
#include "stages/stage_table.h"
#include "tests/run/run_fixture.h"
#include "tests/support/qt_printers.h"
#include "tests/support/recording_ui.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <functional>

namespace p1 {
namespace {

const StageEntry& stageNamed(const QString& word)
{
    for (const StageEntry& stage : stageTable())
        if (stage.word == word)
            return stage;
    throw std::logic_error("no such stage");
}

QString readFile(const QString& path)
{
    QFile file(path);
    EXPECT_TRUE(file.open(QIODevice::ReadOnly)) << path.toStdString();
    return QString::fromUtf8(file.readAll());
}

class RefusalRecordsTest : public test::RunOnEngineTest {};

TEST_P(RefusalRecordsTest, EveryKindOfRefusalIsListedInTheReportWithItsCodeAndMessage)
{
    const QString refusedByTheTarget = QStringLiteral("ligne refusée par la base");
    struct Case {
        const char* name;
        QString stage;
        test::SourceContent rows;
        bool purge;
        // Before the run, on the practice.
        std::function<void(test::Practice&)> arrange;
        QString sourceCode;
        QString wording; // as the report's libelle holds it
        QString message; // a part of the reason
    };
    const QList<Case> cases = {
        {"a row the target refuses", "medecins", {.users = {{1, "Martin"}, {2, "Durand"}}}, true,
         [](test::Practice& practice) {
             test::refuseInserts(*test::connectTo(practice.target), "MEDECINS", "NEW.MEDECINS_ID = 2");
         },
         "2", "importation de l'utilisateur n°2", refusedByTheTarget},
        {"a letter whose file is missing", "courriers", {.letters = {{103, 7, "perdu"}}}, true, {}, "103",
         "courrier n°103 [perdu] [Lettre] du patient n°7 daté du 02/01/2026 09:00:00 inexistant.", "n'existe pas"},
        {"a letter whose name leaves the letters folder", "courriers", {.letters = {{104, 7, "..\\dehors.rtf"}}}, true,
         {}, "104", "courrier n°104 [..\\dehors.rtf] [Lettre] du patient n°7 daté du 02/01/2026 09:00:00 inexistant.",
         "sort du dossier des courriers"},
        {"a letter whose file is a folder", "courriers", {.letters = {{106, 7, "dossier.rtf"}}}, true,
         [](test::Practice& practice) { QDir().mkpath(practice.letters + "dossier.rtf"); }, "106",
         "courrier n°106 [dossier.rtf] [Lettre] du patient n°7 daté du 02/01/2026 09:00:00 inexistant.",
         "n'est pas un fichier ordinaire du dossier des courriers"},
        {"a letter whose new name is taken", "courriers", {.letters = {{105, 7, "lettre1.rtf"}}}, false,
         [](test::Practice& practice) {
             test::writeTextFile(practice.letters + "lettre1.rtf", "{\\rtf1 Bonjour}");
             QDir().mkpath(practice.target.folder + "LETTERS/7");
             test::writeTextFile(practice.target.folder + "LETTERS/7/LET1.HED", "déjà là");
         },
         "105", "échec d'importation du courrier n°105 [lettre1.rtf] [Lettre] du patient n°7 daté du 02/01/2026 09:00:00",
         "le nom LET1.HED est déjà pris"},
        {"a prescription whose consultation cannot be created", "prescriptions", {.prescriptions = {{1, 5}}}, true,
         [](test::Practice& practice) {
             test::refuseInserts(*test::connectTo(practice.target), "MOTCONSU", "NEW.PATIENTS_ID = 5");
         },
         "5", "recherche de la consultation Tessaris du patient n°5 datée au 05/03/2026", refusedByTheTarget},
        {"a prescription whose items cannot be read", "prescriptions",
         {.prescriptions = {{2, 6}}, .withPrescriptionItems = false}, true, {}, "6",
         "Erreur lors de la recherche de la prescription n°2", "ORD PRESCRIPTION"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        test::Practice practice(GetParam());
        test::writeSourceFiles(practice.source, c.rows);
        if (c.arrange)
            c.arrange(practice);
        RecordingUi ui;
        ui.setAllTicked(false);
        ui.setTicked(Box::Vider, c.purge);
        ui.setTicked(stageNamed(c.stage).box, true);
        RunReport report;
        {
            ImportSession session(ui, GetParam());
            session.lettersFolderChosen(practice.letters);
            ASSERT_TRUE(session.targetChosen(practice.target.folder + "Kelvanor.ver"));
            session.sourceBaseChosen(practice.source + "V4.mdb");
            EXPECT_TRUE(session.ButtonExecuterClick());
            session.closeConnections();
            report = session.lastRunReport();
        }

        // The stage counts the row refused, and records it once.
        ASSERT_EQ(report.stages.size(), 1);
        const StageCounts& counts = report.stages[0];
        EXPECT_EQ(counts.stage, c.stage);
        EXPECT_EQ(counts.refused, 1);
        EXPECT_EQ(counts.failures, 1);
        ASSERT_EQ(counts.failureLines.size(), 1);
        EXPECT_EQ(counts.failureLines[0].sourceCode, c.sourceCode);

        const QJsonObject json = QJsonDocument::fromJson(reportJson(report).toUtf8()).object();
        const QJsonArray refusals = json["refus"].toArray();
        ASSERT_EQ(refusals.size(), 1) << reportJson(report).toStdString();
        const QJsonObject refusal = refusals[0].toObject();
        EXPECT_EQ(refusal["etape"].toString(), c.stage);
        EXPECT_EQ(refusal["code_source"].toString(), c.sourceCode);
        EXPECT_EQ(refusal["libelle"].toString(), c.wording);
        EXPECT_TRUE(refusal["message"].toString().contains(c.message)) << refusal["message"].toString().toStdString();
        EXPECT_EQ(json["etapes"][0]["echecs"].toInt(), 1);

        const QStringList csv = reportCsv(report).split("\r\n");
        EXPECT_TRUE(csv[0].endsWith(";echecs;lignes_source")) << csv[0].toStdString();
        EXPECT_TRUE(csv[1].startsWith("etape;" + c.stage + ";")) << csv[1].toStdString();
        EXPECT_EQ(csv[1].split(u';').value(6), "1") << csv[1].toStdString(); // refusees
        EXPECT_EQ(csv[1].split(u';').value(9), "1") << csv[1].toStdString(); // echecs
        const QStringList csvRefusals = csv.filter(QRegularExpression("^refus;"));
        ASSERT_EQ(csvRefusals.size(), 1);
        EXPECT_TRUE(csvRefusals[0].startsWith("refus;" + c.stage + ";" + c.sourceCode + ";"))
            << csvRefusals[0].toStdString();
        EXPECT_TRUE(csvRefusals[0].contains(c.message)) << csvRefusals[0].toStdString();

        // The report the run left beside its log, as the operator finds it.
        const QStringList logs = practice.logFiles();
        ASSERT_EQ(logs.size(), 1);
        const QString html = readFile(practice.logs + QString(logs[0]).replace(".log", ".html"));
        EXPECT_TRUE(html.contains("<tr><td>" + stageCaption(c.stage) + "</td><td>" + c.sourceCode + "</td><td>"
                                  + c.wording.toHtmlEscaped() + "</td><td>"))
            << html.toStdString();
        EXPECT_TRUE(html.contains(c.message.toHtmlEscaped())) << html.toStdString();

        // The prescriptions table is among the target's tables on every engine.
        if (c.stage == "prescriptions") {
            EXPECT_TRUE(report.after.tableRows.contains("DATAPRESCR"));
            bool listed = false;
            for (const QJsonValue& table : json["tables"].toArray())
                listed = listed || table["table"].toString() == "DATAPRESCR";
            EXPECT_TRUE(listed) << reportJson(report).toStdString();
            EXPECT_TRUE(html.contains("<td>DATAPRESCR</td>"));
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Engines, RefusalRecordsTest, test::testEngines(), test::engineTestName);

} // namespace
} // namespace p1
