#include "common/date_time.h"
#include "common/errors.h"
#include "common/locale_texts.h"
#include "common/text_encoding.h"
#include "run/import_run.h"
#include "run/import_session.h"
#include "tests/run/run_fixture.h"
#include "tests/support/log_lines.h"
#include "tests/support/recording_ui.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QRegularExpression>
#include <QSet>

#include <algorithm>

namespace p1 {
namespace {

using Dialog = RecordingUi::Dialog;
using Kind = RecordingUi::DialogKind;
using test::Practice;

const QString confirmation = "Souhaitez-vous lancer l'importation ?";
const QString closingMessage = "Le traitement est terminé.";


class ImportRunTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        test::ensureQtApplication();
        setTextLocale(QLocale(QLocale::French, QLocale::France));
    }

    // The three locations chosen as the operator would, from the practice's folders.
    void chooseLocations(Practice& practice)
    {
        session.lettersFolderChosen(practice.letters);
        ASSERT_TRUE(session.targetChosen(practice.target.folder + "Kelvanor.ver"));
        session.sourceBaseChosen(practice.source + "V4.mdb");
        ASSERT_TRUE(ui.dialogs().isEmpty());
        ASSERT_TRUE(ui.isImportEnabled());
    }

    int physicians(Practice& practice) { return test::countRows(*test::connectTo(practice.target), "MEDECINS"); }

    RecordingUi ui;
    ImportSession session{ui, TargetEngine::Sqlite};
};

TEST_F(ImportRunTest, EarlyStopsLeaveTheWindowAndTheTargetAsTheyWere)
{
    struct Case {
        const char* name;
        std::function<void(Practice&, RecordingUi&)> prepare;
        QList<Dialog> dialogs; // with %1 for the source folder
    };
    const QList<Case> cases = {
        {"missing V4.mdb", [](Practice& p, RecordingUi&) { QFile::remove(p.source + "V4.mdb"); },
         {{Kind::Error, "Le fichier [%1V4.mdb] n'existe pas."}}},
        {"missing Ordo.mdb", [](Practice& p, RecordingUi&) { QFile::remove(p.source + "Ordo.mdb"); },
         {{Kind::Error, "Le fichier [%1Ordo.mdb] n'existe pas."}}},
        {"answer No", [](Practice&, RecordingUi& ui) { ui.scriptConfirmAnswers({false}); },
         {{Kind::Confirm, confirmation}}},
        {"no EDITOR.INI", [](Practice& p, RecordingUi&) { QFile::remove(p.target.folder + "EDITOR.INI"); },
         {{Kind::Confirm, confirmation}, {Kind::Error, "Impossible de trouver la table des prescriptions !"}}},
        {"no prescriptions entry",
         [](Practice& p, RecordingUi&) {
             test::writeTextFile(p.target.folder + "EDITOR.INI", "[DataBases]\r\nPATIENTS=Patients\r\n[Other]\r\nX=Prescriptions\r\n");
         },
         {{Kind::Confirm, confirmation}, {Kind::Error, "Impossible de trouver la table des prescriptions !"}}},
        {"prescriptions name that is no plain table name",
         [](Practice& p, RecordingUi&) {
             test::writeTextFile(p.target.folder + "EDITOR.INI",
                                 "[DataBases]\r\nMEDECINS WHERE 1=1;--=Prescriptions\r\n");
         },
         {{Kind::Confirm, confirmation}, {Kind::Error, "Impossible de trouver la table des prescriptions !"}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Practice practice(TargetEngine::Sqlite, {{{7, "Martin"}}});
        RecordingUi caseUi;
        ImportSession caseSession(caseUi, TargetEngine::Sqlite);
        caseSession.lettersFolderChosen(practice.letters);
        ASSERT_TRUE(caseSession.targetChosen(practice.target.folder + "Kelvanor.ver"));
        caseSession.sourceBaseChosen(practice.source + "V4.mdb");
        caseUi.addLogLine("ligne d'un traitement précédent");
        c.prepare(practice, caseUi);

        caseSession.ButtonExecuterClick();

        QList<Dialog> expected = c.dialogs;
        for (Dialog& dialog : expected)
            dialog.text.replace("%1", practice.source);
        EXPECT_EQ(caseUi.dialogs(), expected);
        EXPECT_EQ(caseUi.logLines(), QStringList{"ligne d'un traitement précédent"});
        EXPECT_FALSE(caseUi.isBusy());
        EXPECT_TRUE(caseUi.isImportEnabled());
        EXPECT_TRUE(caseUi.isCloseEnabled());
        EXPECT_FALSE(caseUi.isElapsedTimerRunning());
        EXPECT_TRUE(practice.logFiles().isEmpty());
        EXPECT_EQ(physicians(practice), 0); // neither purged nor imported
    }
}

TEST_F(ImportRunTest, AllBoxesUntickedGiveOnlyTheEndLineAndNoLogFileForALoneLine)
{
    Practice practice;
    chooseLocations(practice);
    ui.setAllTicked(false);
    ui.setElapsedText("00:01:15");

    session.ButtonExecuterClick();

    EXPECT_EQ(ui.logLines(), QStringList{"Traitement terminé. Durée : 00:01:15"});
    EXPECT_TRUE(practice.logFiles().isEmpty());
    EXPECT_EQ(ui.dialogs(), QList<Dialog>({{Kind::Confirm, confirmation}, {Kind::Message, closingMessage}}));
    EXPECT_FALSE(ui.isBusy());
    EXPECT_FALSE(ui.isStatusVisible());
    EXPECT_FALSE(ui.isElapsedVisible());
    EXPECT_FALSE(ui.isElapsedTimerRunning());
    EXPECT_TRUE(ui.isImportEnabled());
    EXPECT_TRUE(ui.isCloseEnabled());

    // A second run in the same window finds the first end line in the panel: now there is a file.
    session.ButtonExecuterClick();
    EXPECT_EQ(ui.logLines().size(), 2);
    EXPECT_EQ(practice.logFiles().size(), 1);
}

TEST_F(ImportRunTest, PurgeAloneEmptiesTheTargetAndSavesTheWholePanel)
{
    Practice practice;
    {
        auto target = test::connectTo(practice.target);
        TargetStatement insert(*target, {"INSERT INTO MEDECINS (MEDECINS_ID, NOM) VALUES (3, 'Ancien')"});
        insert.execute();
    }
    chooseLocations(practice);
    ui.setAllTicked(false);
    ui.setTicked(Box::Vider, true);

    session.ButtonExecuterClick();

    const QStringList lines = ui.logLines();
    ASSERT_GE(lines.size(), 4);
    EXPECT_EQ(lines.first(), "Purge des données de la base de destination en cours...");
    EXPECT_TRUE(lines.contains("Purge de la table MEDECINS effectuée."));
    EXPECT_EQ(lines[lines.size() - 2], "Purge des données terminée.");
    EXPECT_EQ(lines.last(), "Traitement terminé. Durée : 00:00:00");
    EXPECT_EQ(physicians(practice), 0);
    EXPECT_EQ(ui.dialogTexts(Kind::Message), QStringList{closingMessage});

    const QStringList files = practice.logFiles();
    ASSERT_EQ(files.size(), 1);
    QFile logFile(practice.logs + files.first());
    ASSERT_TRUE(logFile.open(QIODevice::ReadOnly));
    EXPECT_EQ(logFile.readAll(), toWindows1252(lines.join("\r\n") + "\r\n"));
}

TEST_F(ImportRunTest, StagesRunInOrderWithTheirSummaryLines)
{
    Practice practice(TargetEngine::Sqlite, {{{1, "Martin"}, {2, "Durand"}, {2, "Doublon"}}});
    chooseLocations(practice);
    ui.setTicked(Box::Vider, false);

    session.ButtonExecuterClick();

    EXPECT_EQ(test::comparableLog(ui.logLines()),
              QStringList({"<stamp> : importation de l'utilisateur n°2",
                           ui.logLines()[1],
                           "2 utilisateurs créés",
                           "0 correspondant créé",
                           "0 patient créé",
                           "0 antécédent créé",
                           "0 consultation créée",
                           "0 courrier créé",
                           "0 prescription créée",
                           "Traitement terminé. Durée : <durée>"}))
        << ui.logLines().join("\n").toStdString();
    EXPECT_TRUE(ui.logLines()[1].startsWith("   ERREUR : "));
    EXPECT_EQ(physicians(practice), 2);
    EXPECT_EQ(ui.status(), "");
    EXPECT_EQ(ui.progressPosition(), 0);
    EXPECT_EQ(practice.logFiles().size(), 1);
}

TEST_F(ImportRunTest, AStageWhoseTableCannotBeOpenedEndsTheRunQuietly)
{
    test::SourceContent content;
    content.withUsersTable = false;
    Practice practice(TargetEngine::Sqlite, content);
    chooseLocations(practice);
    ui.setTicked(Box::Vider, false);

    session.ButtonExecuterClick();

    ASSERT_EQ(ui.dialogs().size(), 2);
    EXPECT_TRUE(ui.dialogs()[1].text.startsWith("Erreur lors de l'ouverture de la table des utilisateurs de Sorvane : "));
    EXPECT_EQ(ui.dialogs()[1].kind, Kind::Error);
    EXPECT_TRUE(ui.logLines().isEmpty()); // no later stage, no end line
    EXPECT_TRUE(practice.logFiles().isEmpty());
    EXPECT_FALSE(ui.isBusy());
    EXPECT_TRUE(ui.isImportEnabled());
    EXPECT_TRUE(ui.isCloseEnabled());
}

TEST_F(ImportRunTest, ALogFolderThatCannotBeWrittenEndsTheRunThroughTheGeneralErrorPath)
{
    Practice practice;
    chooseLocations(practice);
    // A folder below a regular file cannot exist, even for root.
    qputenv("P1IMPORT_LOG_FOLDER", (practice.source + "V4.mdb/logs").toUtf8());
    ui.setAllTicked(false);
    ui.setTicked(Box::Vider, true);

    EXPECT_THROW(session.ButtonExecuterClick(), Error);

    EXPECT_TRUE(ui.logLines().last().startsWith("Traitement terminé. Durée : "));
    EXPECT_TRUE(ui.dialogTexts(Kind::Message).isEmpty());
    EXPECT_FALSE(ui.isBusy());
    EXPECT_FALSE(ui.isStatusVisible());
    EXPECT_TRUE(ui.isImportEnabled());
    EXPECT_TRUE(ui.isCloseEnabled());
    EXPECT_FALSE(ui.isElapsedTimerRunning());
}

TEST_F(ImportRunTest, ALaterRunFindsTheSharedQueriesBackOnV4)
{
    Practice practice;
    chooseLocations(practice);
    // As the prescriptions stage leaves them.
    session.Sorvane_Select.setConnection(&session.ADOConnectionSorvaneOrdo);
    session.Sorvane_Select.sql() = QStringList{"SELECT * from ", "[ORD ORDONNANCE]", "ORDER BY [CODE ORDONNANCE], [DATE]"};
    session.Sorvane_Query1.setConnection(&session.ADOConnectionSorvaneOrdo);
    ui.setAllTicked(false);
    ui.setTicked(Box::ImportPatients, true);

    session.ButtonExecuterClick();

    EXPECT_EQ(ui.dialogTexts(Kind::Error), QStringList());
    EXPECT_EQ(ui.logLines(), QStringList({"0 patient créé", "Traitement terminé. Durée : 00:00:00"}));
    EXPECT_EQ(session.Sorvane_Select.connection(), &session.ADOConnectionSorvane);
    EXPECT_EQ(session.Sorvane_Query1.connection(), &session.ADOConnectionSorvane);
}

// Where the run looks for the source files, the connections find them too: a folder whose path
// holds ";", Ordo.mdb written in capitals, and a chosen file under another name than V4.mdb (the
// connection reads the chosen file, the check looks for V4.mdb beside it).
TEST_F(ImportRunTest, TheConnectionsOpenTheFilesTheRunChecks)
{
    struct Case {
        const char* folderName;
        const char* ordoName;
        const char* chosenName;
        qint64 importedUser;
    };
    const QList<Case> cases = {
        {"cab;inet", "Ordo.mdb", "V4.mdb", 7},
        {"capitales", "ORDO.MDB", "V4.mdb", 7},
        {"copie", "Ordo.mdb", "copie.mdb", 8},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.folderName);
        Practice practice;
        const QString folder = EnsureTrailingBackslash(practice.temporary.path()) + c.folderName + "/";
        ASSERT_TRUE(QDir().mkpath(folder));
        test::writeSourceFiles(folder, {{{7, "Martin"}}});
        if (QString(c.ordoName) != "Ordo.mdb") {
            ASSERT_TRUE(QFile::rename(folder + "Ordo.mdb", folder + c.ordoName));
        }
        if (QString(c.chosenName) != "V4.mdb") {
            const QString other = folder + "autre/";
            ASSERT_TRUE(QDir().mkpath(other));
            test::writeSourceFiles(other, {{{8, "Durand"}}});
            ASSERT_TRUE(QFile::copy(other + "V4.mdb", folder + c.chosenName));
        }
        RecordingUi caseUi;
        ImportSession caseSession(caseUi, TargetEngine::Sqlite);
        caseSession.lettersFolderChosen(practice.letters);
        ASSERT_TRUE(caseSession.targetChosen(practice.target.folder + "Kelvanor.ver"));
        caseSession.sourceBaseChosen(folder + c.chosenName);
        EXPECT_TRUE(caseUi.dialogs().isEmpty());
        EXPECT_TRUE(caseUi.isImportEnabled());
        caseUi.setAllTicked(false);
        caseUi.setTicked(Box::ImportMedecins, true);

        EXPECT_TRUE(caseSession.ButtonExecuterClick());

        EXPECT_EQ(caseUi.dialogTexts(Kind::Error), QStringList());
        const QList<test::TableRow> users = test::readTable(*test::connectTo(practice.target), "MEDECINS");
        ASSERT_EQ(users.size(), 1);
        EXPECT_EQ(users[0]["MEDECINS_ID"].asInteger(), c.importedUser);
    }
}

// A box ticked or unticked while the run goes on counts for the stages not reached yet.
TEST_F(ImportRunTest, ABoxChangedDuringTheRunCountsForTheStagesNotYetReached)
{
    class BoxChangingUi : public RecordingUi {
    public:
        void setStatus(const QString& text) override
        {
            RecordingUi::setStatus(text);
            if (text == "Importation des utilisateurs...") {
                setTicked(Box::ImportMedecins, false);
                setTicked(Box::ImportCorrespondants, false);
                setTicked(Box::ImportPatients, true);
            }
        }
    } changingUi;
    Practice practice(TargetEngine::Sqlite, {{{7, "Martin"}}});
    ImportSession changingSession(changingUi, TargetEngine::Sqlite);
    changingSession.lettersFolderChosen(practice.letters);
    ASSERT_TRUE(changingSession.targetChosen(practice.target.folder + "Kelvanor.ver"));
    changingSession.sourceBaseChosen(practice.source + "V4.mdb");
    changingUi.setAllTicked(false);
    changingUi.setTicked(Box::ImportMedecins, true);
    changingUi.setTicked(Box::ImportCorrespondants, true);

    changingSession.ButtonExecuterClick();

    EXPECT_EQ(changingUi.logLines(), QStringList({"1 utilisateur créé", "0 patient créé", "Traitement terminé. Durée : 00:00:00"}));
}

// An engine's message may hold line breaks (PostgreSQL's ERROR and DETAIL lines): it stays one
// panel line, its breaks made blanks, and every line of the log file ends with CR LF alone.
TEST_F(ImportRunTest, AMultiLineMessageStaysOnePanelLineAndTheFileHasOnlyCrLf)
{
    Practice practice;
    chooseLocations(practice);
    ui.setAllTicked(false);
    ui.addLogLine("   ERREUR : ERROR:  duplicate key value\nDETAIL:  Key (id)=(3) already exists.");
    ui.addLogLine("a\r\nb\rc");

    session.ButtonExecuterClick();

    const QStringList expected = {"   ERREUR : ERROR:  duplicate key value DETAIL:  Key (id)=(3) already exists.",
                                  "a b c", "Traitement terminé. Durée : 00:00:00"};
    EXPECT_EQ(ui.logLines(), expected);
    const QStringList files = practice.logFiles();
    ASSERT_EQ(files.size(), 1);
    QFile logFile(practice.logs + files.first());
    ASSERT_TRUE(logFile.open(QIODevice::ReadOnly));
    EXPECT_EQ(logFile.readAll(), toWindows1252(expected.join("\r\n") + "\r\n"));
}

TEST_F(ImportRunTest, ARunAfterThePrescriptionsStageReadsV4Again)
{
    Practice practice;
    chooseLocations(practice);
    ui.setAllTicked(false);
    ui.setTicked(Box::ImportOrdo, true);
    session.ButtonExecuterClick();
    ASSERT_EQ(session.Sorvane_Select.connection(), &session.ADOConnectionSorvaneOrdo);
    ui.setTicked(Box::ImportOrdo, false);
    ui.setTicked(Box::ImportPatients, true);

    session.ButtonExecuterClick();

    EXPECT_EQ(ui.dialogTexts(Kind::Error), QStringList());
    EXPECT_EQ(ui.logLines(), QStringList({"0 prescription créée", "Traitement terminé. Durée : 00:00:00",
                                          "0 patient créé", "Traitement terminé. Durée : 00:00:00"}));
    // The consultations stage opens Sorvane_Query1 as it finds it.
    EXPECT_EQ(session.Sorvane_Query1.connection(), &session.ADOConnectionSorvane);
}

TEST_F(ImportRunTest, ImportStaysDisabledAfterAFailedOrdoUntilTheOtherLabelsAreChosenAgain)
{
    Practice practice;
    QFile::remove(practice.source + "Ordo.mdb");
    session.lettersFolderChosen(practice.letters);
    ASSERT_TRUE(session.targetChosen(practice.target.folder + "Kelvanor.ver"));
    ASSERT_TRUE(ui.isImportEnabled() == false);

    session.sourceBaseChosen(practice.source + "V4.mdb");

    ASSERT_EQ(ui.dialogs().size(), 1);
    EXPECT_TRUE(ui.dialogs()[0].text.startsWith("Erreur lors de la connexion à la base de données [" + practice.source
                                                + "Ordo.mdb] : "));
    EXPECT_TRUE(session.ADOConnectionSorvane.isOpen());
    EXPECT_FALSE(ui.isImportEnabled());

    session.lettersFolderChosen(QString()); // folder browser cancelled: the rule on labels alone
    EXPECT_TRUE(ui.isImportEnabled());
    session.ButtonExecuterClick();          // the run itself stops at its file check
    EXPECT_EQ(ui.dialogs().last().text, "Le fichier [" + practice.source + "Ordo.mdb] n'existe pas.");
}

TEST_F(ImportRunTest, AnUnreadableChosenFileIsReportedAndOrdoIsStillOpened)
{
    Practice practice;
    test::writeTextFile(practice.source + "copie.mdb", "ceci n'est pas une base Access");
    session.lettersFolderChosen(practice.letters);
    ASSERT_TRUE(session.targetChosen(practice.target.folder + "Kelvanor.ver"));

    session.sourceBaseChosen(practice.source + "copie.mdb");

    ASSERT_EQ(ui.dialogs().size(), 1);
    EXPECT_TRUE(ui.dialogs()[0].text.startsWith("Erreur lors de la connexion à la base de données [" + practice.source
                                                + "copie.mdb] : "));
    EXPECT_FALSE(session.ADOConnectionSorvane.isOpen());
    EXPECT_TRUE(session.ADOConnectionSorvaneOrdo.isOpen());
    EXPECT_FALSE(ui.isImportEnabled());
}

TEST_F(ImportRunTest, SourceChosenFirstLeavesImportDisabledUntilBothLabels)
{
    Practice practice;
    session.sourceBaseChosen(practice.source + "V4.mdb");
    EXPECT_EQ(ui.locationText(Location::SourceBase), practice.source);
    EXPECT_TRUE(session.ADOConnectionSorvane.isOpen());
    EXPECT_TRUE(session.ADOConnectionSorvaneOrdo.isOpen());
    EXPECT_FALSE(ui.isImportEnabled());
    session.lettersFolderChosen(practice.letters);
    EXPECT_FALSE(ui.isImportEnabled());
    ASSERT_TRUE(session.targetChosen(practice.target.folder + "Kelvanor.ver"));
    EXPECT_TRUE(ui.isImportEnabled());
    session.closeConnections();
    EXPECT_FALSE(session.ADOConnectionSorvane.isOpen());
    EXPECT_FALSE(session.ADOConnectionSorvaneOrdo.isOpen());
    EXPECT_FALSE(session.ADOConnectionTessaris.isOpen());
}

TEST(LogFileName, KeepsEveryCharacterButSlashesAndColons)
{
    const QDateTime end = QDateTime(QDate(2026, 12, 7), QTime(14, 15, 0), Qt::UTC);
    setTextLocale(QLocale(QLocale::French, QLocale::France));
    EXPECT_EQ(logFileName(end), "P1Import - 07-12-2026 14-15-00.log");
    setTextLocale(QLocale(QLocale::German, QLocale::Germany));
    EXPECT_EQ(logFileName(QDateTime(QDate(2026, 12, 7), QTime(0, 0), Qt::UTC)),
              "P1Import - 07.12.2026 00-00-00.log"); // midnight keeps its time in the name
    setTextLocale(QLocale(QLocale::French, QLocale::France));
}

// Runs ended in the same second (a script over a folder of practices), or at the same moment in
// two programs: each earlier log and report stays as it was, the new ones beside them.
TEST_F(ImportRunTest, TheRecordsOfAnEarlierRunOfTheSameSecondAreNeverReplaced)
{
    Practice practice;
    chooseLocations(practice);
    QMap<QString, QByteArray> earlier;
    const QDateTime now = currentWallClock();
    for (int second = 0; second < 120; ++second) {
        const QString stem = practice.logs + logFileName(now.addSecs(second)).chopped(4);
        earlier.insert(stem + ".log", "earlier log");
        earlier.insert(stem + ".html", "earlier report");
        if (second % 2 == 0)
            earlier.insert(stem + " (2).html", "earlier report of a run without a log");
    }
    for (auto file = earlier.begin(); file != earlier.end(); ++file)
        test::writeTextFile(file.key(), file.value());

    ASSERT_TRUE(session.ButtonExecuterClick());

    QStringList added;
    for (const QString& name : QDir(practice.logs).entryList(QDir::Files)) {
        QFile file(practice.logs + name);
        ASSERT_TRUE(file.open(QIODevice::ReadOnly));
        if (earlier.contains(practice.logs + name))
            EXPECT_EQ(file.readAll(), earlier[practice.logs + name]) << name.toStdString();
        else
            added.append(name);
    }
    ASSERT_EQ(added.size(), 2) << added.join(", ").toStdString();
    const QString stem = added.first().chopped(added.first().size() - added.first().lastIndexOf('.'));
    EXPECT_TRUE(stem.endsWith(" (2)") || stem.endsWith(" (3)")) << stem.toStdString();
    EXPECT_EQ(QSet<QString>(added.begin(), added.end()), QSet<QString>({stem + ".log", stem + ".html"}));
}

TEST_F(ImportRunTest, DottedDatesStayInTheLogFileName)
{
    Practice practice;
    chooseLocations(practice);
    setTextLocale(QLocale(QLocale::German, QLocale::Germany));
    ui.setAllTicked(false);
    ui.setTicked(Box::Vider, true);

    session.ButtonExecuterClick();

    const QStringList files = practice.logFiles();
    ASSERT_EQ(files.size(), 1);
    EXPECT_TRUE(QRegularExpression(R"(^P1Import - \d\d\.\d\d\.\d{2,4} \d\d-\d\d-\d\d\.log$)").match(files.first()).hasMatch())
        << files.first().toStdString();
}

TEST(FindPrescriptionTable, TakesTheFirstKeyWhoseValueNamesPrescriptions)
{
    const struct {
        const char* name;
        QByteArray content;
        QString table;
    } cases[] = {
        {"first match in file order", "[DataBases]\r\nzeta=Base\r\nOrdos=Mes prescriptions\r\nAutre=PRESCRIP\r\n", "ORDOS"},
        {"section and value in any case", "[databases]\r\nPrescr_2=prescriptions\r\n", "PRESCR_2"},
        {"empty value", "[DataBases]\r\nPRESCRIPTIONS=\r\n", "erreur"},
        {"no section", "[Autre]\r\nPRESCRIPTIONS=Prescriptions\r\n", "erreur"},
        {"quote in the key", "[DataBases]\r\nPRES'CRIPTIONS=Prescriptions\r\n", "erreur"},
        {"dot in the key", "[DataBases]\r\ndbo.PRESCRIPTIONS=Prescriptions\r\n", "erreur"},
    };
    for (const auto& c : cases) {
        QTemporaryDir folder;
        const QString path = EnsureTrailingBackslash(folder.path());
        test::writeTextFile(path + "Editor.ini", c.content);
        EXPECT_EQ(ImportRun::FindPrescriptionTable(path), c.table) << c.name;
    }
}

} // namespace
} // namespace p1

namespace p1 {
namespace {

// The whole run against each engine, twice in one window: the second purge takes back what the
// first run stored, and the panel keeps the first run's lines.
class RunOnEnginesTest : public test::RunOnEngineTest {};

TEST_P(RunOnEnginesTest, PurgeThenStagesTwiceInOneWindow)
{
    Practice practice(GetParam(), {{{3, "Martin"}, {8, "Durand"}}});
    RecordingUi ui;
    ImportSession session(ui, GetParam());
    session.lettersFolderChosen(practice.letters);
    ASSERT_TRUE(session.targetChosen(practice.target.folder + "Kelvanor.ver"));
    session.sourceBaseChosen(practice.source + "V4.mdb");
    ASSERT_TRUE(ui.isImportEnabled()) << ui.dialogTexts(RecordingUi::DialogKind::Error).join('\n').toStdString();

    session.ButtonExecuterClick();
    const QStringList firstRun = ui.logLines();
    session.ButtonExecuterClick();

    EXPECT_EQ(ui.logLines().mid(0, firstRun.size()), firstRun);
    EXPECT_EQ(ui.logLines().mid(firstRun.size()).filter(QRegularExpression("créé|terminé")),
              firstRun.filter(QRegularExpression("créé|terminé")));
    EXPECT_TRUE(firstRun.contains("2 utilisateurs créés"));
    EXPECT_EQ(ui.dialogTexts(RecordingUi::DialogKind::Message), QStringList({closingMessage, closingMessage}));
    EXPECT_EQ(ui.dialogTexts(RecordingUi::DialogKind::Error), QStringList());

    auto target = test::connectTo(practice.target);
    EXPECT_EQ(test::countRows(*target, "MEDECINS"), 2);
    QMap<QString, qint64> counters;
    for (const auto& row : test::readTable(*target, "ID_VALUES"))
        counters[row["KEY_NAME"].asText()] = row["LAST_VALUE"].asInteger();
    EXPECT_EQ(counters["MEDECINS"], 8);
    EXPECT_EQ(counters["PL_SUBJ"], 8);
    EXPECT_EQ(counters["IMAGES"], 0);
    // The second run's file (named apart when both ended in the same second) holds both runs.
    QStringList files = practice.logFiles();
    ASSERT_EQ(files.size(), 2);
    std::sort(files.begin(), files.end(), [](const QString& one, const QString& other) {
        return one.chopped(4) < other.chopped(4);
    });
    QFile latest(practice.logs + files.last());
    ASSERT_TRUE(latest.open(QIODevice::ReadOnly));
    EXPECT_EQ(latest.readAll(), toWindows1252(ui.logLines().join("\r\n") + "\r\n"));
}

INSTANTIATE_TEST_SUITE_P(Engines, RunOnEnginesTest, test::testEngines(), test::engineTestName);

} // namespace
} // namespace p1
