#include "app/form_operator_ui.h"
#include "app/main_window.h"
#include "common/files.h"
#include "common/locale_texts.h"
#include "targetdb/target_schema.h"
#include "common/text_encoding.h"
#include "cli/command_line.h"
#include "run/import_session.h"
#include "run/location_texts.h"
#include "tests/app/scripted_dialogs.h"
#include "tests/support/log_lines.h"
#include "tests/support/target_databases.h"
#include "tools/jetwriter/jet_writer.h"
#include "tools/sample_practice/sample_practice.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QKeyEvent>
#include <QLabel>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTimer>
#include <QToolButton>

#include <csignal>
#include <cstdio>

namespace p1 {
namespace {

using test::ScriptedDialogs;
using Kind = ScriptedDialogs::Kind;

QApplication& application()
{
    static int argc = 1;
    static char name[] = "tst_main_window";
    static char* argv[] = {name, nullptr};
    static auto* app = new QApplication(argc, argv);
    return *app;
}

// A temporary source base folder.
struct SourceFolder {
    QTemporaryDir dir;
    QString folder() const { return dir.path() + QLatin1Char('/'); }
    QString v4() const { return folder() + QStringLiteral("V4.mdb"); }
};

void writeSmallAccessFile(const QString& path, const QString& table)
{
    jet::DatabaseBuilder database;
    database.table(table)
        .column(QStringLiteral("CODE MEDECIN"), jet::ColumnType::Long)
        .column(QStringLiteral("NOM"), jet::ColumnType::Text, 50);
    database.write(path);
}

// V4.mdb, and Ordo.mdb unless told otherwise, each holding one small empty table: real Access
// files that the reader opens.
std::unique_ptr<SourceFolder> makeSource(bool withOrdo)
{
    auto source = std::make_unique<SourceFolder>();
    writeSmallAccessFile(source->v4(), QStringLiteral("GLB Medecin"));
    if (withOrdo)
        writeSmallAccessFile(source->folder() + QStringLiteral("Ordo.mdb"),
                             QStringLiteral("ORD ORDONNANCE"));
    return source;
}

std::unique_ptr<SourceFolder> makeSamplePracticeSource()
{
    auto source = std::make_unique<SourceFolder>();
    SamplePracticeOptions options;
    options.patients = 20;
    writeSamplePractice(source->folder(), options);
    return source;
}

// With P1IMPORT_SCREENSHOT_DIR set (scripts/screenshot.sh), the window as the operator sees it is
// saved there as a PNG.
void saveScreenshot(QWidget& window, const QString& name)
{
    const QString folder = qEnvironmentVariable("P1IMPORT_SCREENSHOT_DIR");
    if (folder.isEmpty())
        return;
    QCoreApplication::processEvents();
    EXPECT_TRUE(window.grab().save(QDir(folder).filePath(name + QStringLiteral(".png"))))
        << name.toStdString();
}

// Removes the log files written since logsBefore that hold exactly these lines, and tells how
// many there were. Other test programs may write their own log files meanwhile: they are left.
int removeLogFilesHolding(const QStringList& lines, const QStringList& logsBefore)
{
    const QByteArray expected = toWindows1252(lines.join(QStringLiteral("\r\n")) + "\r\n");
    int removed = 0;
    for (const QString& name : QDir(programFolder()).entryList({"P1Import - *.log"})) {
        QFile log(programFolder() + name);
        if (logsBefore.contains(name) || !log.open(QIODevice::ReadOnly) || log.readAll() != expected)
            continue;
        log.close();
        removed += log.remove() ? 1 : 0;
    }
    return removed;
}

class MainWindowTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        application();
        setTextLocale(QLocale(QLocale::French, QLocale::France));
        auto scripted = std::make_unique<ScriptedDialogs>();
        dialogs = scripted.get();
        form = std::make_unique<TForm1>(std::move(scripted), TargetEngine::Sqlite);
        form->show();
    }

    void chooseSource(const SourceFolder& source)
    {
        dialogs->chosenFiles.append(source.v4());
        form->SBSelectSorvaneBase->click();
    }

    void chooseTarget(const test::TestTarget& target)
    {
        dialogs->chosenFiles.append(target.folder + QStringLiteral("Kelvanor.ver"));
        form->SBSelectTessarisBase->click();
    }

    void chooseLetters(const QString& folder)
    {
        dialogs->chosenFolders.append(folder);
        form->SBSelectSorvaneRTF->click();
    }

    // Everything chosen: a source with both files, its letters folder and a target.
    void chooseAllLocations(std::unique_ptr<SourceFolder> chosenSource, bool targetWithSchema = true)
    {
        source = std::move(chosenSource);
        target = test::makeSqliteTarget(targetWithSchema);
        test::writeTargetSettings(target);
        chooseSource(*source);
        chooseTarget(target);
        chooseLetters(source->folder() + QStringLiteral("Courriers"));
    }

    void setTicked(bool ticked)
    {
        for (QCheckBox* box : form->optionBoxes())
            box->setChecked(ticked);
    }

    ScriptedDialogs* dialogs = nullptr;
    std::unique_ptr<TForm1> form;
    std::unique_ptr<SourceFolder> source;
    test::TestTarget target;
};

QStringList labelTexts(const QWidget& window)
{
    QStringList texts;
    for (const QLabel* label : window.findChildren<QLabel*>())
        texts.append(label->text());
    return texts;
}

TEST_F(MainWindowTest, OpensWithTheDefaults)
{
    EXPECT_EQ(form->windowTitle(), QStringLiteral("Importation Sorvane"));
    EXPECT_TRUE(labelTexts(*form).contains(QStringLiteral("A partir de :")));
    EXPECT_TRUE(labelTexts(*form).contains(QStringLiteral("Dans :")));
    EXPECT_EQ(form->SorvanePath->text(), defaultLocationText(Location::SourceBase));
    EXPECT_EQ(form->SorvaneRTFPath->text(), defaultLocationText(Location::SourceLetters));
    EXPECT_EQ(form->TessarisBase->text(), defaultLocationText(Location::TargetBase));

    const QStringList captions = {
        QStringLiteral("Vider la base avant importation"),
        QStringLiteral("importer les médecins, utilisateurs"),
        QStringLiteral("importer les correspondants"),
        QStringLiteral("importer les patients"),
        QStringLiteral("importer les antécédents"),
        QStringLiteral("importer les consultations"),
        QStringLiteral("importer les courriers"),
        QStringLiteral("importer les prescriptions"),
    };
    const QList<QCheckBox*> boxes = form->optionBoxes();
    ASSERT_EQ(boxes.size(), captions.size());
    for (int i = 0; i < boxes.size(); ++i) {
        EXPECT_EQ(boxes[i]->text(), captions[i]);
        EXPECT_TRUE(boxes[i]->isChecked()) << captions[i].toStdString();
    }
    EXPECT_TRUE(form->CBVider->font().bold());
    EXPECT_EQ(form->CBVider->palette().color(QPalette::WindowText), QColor(Qt::darkRed));
    EXPECT_EQ(form->Button1->text(), QStringLiteral("tout (dé)cocher"));

    EXPECT_TRUE(form->Memo1->isReadOnly());
    EXPECT_TRUE(form->Memo1->toPlainText().isEmpty());
    EXPECT_EQ(form->Memo1->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
    EXPECT_TRUE(form->lEvolution->text().isEmpty());
    EXPECT_EQ(form->lTimer->text(), QStringLiteral("00:00:00"));
    EXPECT_FALSE(form->lTimer->isVisible());
    EXPECT_EQ(form->BtExecuter->text(), QStringLiteral("&Importer"));
    EXPECT_FALSE(form->BtExecuter->isEnabled());
    EXPECT_EQ(form->BitBtn2->text(), QStringLiteral("&Fermer"));
    EXPECT_TRUE(form->BitBtn2->isEnabled());
    EXPECT_EQ(form->PB1->value(), 0);
    EXPECT_EQ(form->Timer1->interval(), 1000);
    EXPECT_FALSE(form->Timer1->isActive());
    EXPECT_FALSE(form->session().ADOConnectionTessaris.isOpen());
    EXPECT_FALSE(form->session().ADOConnectionSorvane.isOpen());
    saveScreenshot(*form, QStringLiteral("fenetre-au-demarrage"));
}

TEST_F(MainWindowTest, ComponentsCarryTheirNames)
{
    for (const char* name : {"SorvanePath", "SorvaneRTFPath", "TessarisBase", "SBSelectSorvaneBase",
                             "SBSelectSorvaneRTF", "SBSelectTessarisBase", "CBVider",
                             "CBImportMedecins", "CBImportCorrespondants", "CBImportPatients",
                             "CBImportAnteced", "CBImportConsultations", "cbImportCourriers",
                             "cbImportOrdo", "Button1", "Memo1", "lEvolution", "lTimer",
                             "BtExecuter", "BitBtn2", "PB1", "Timer1"})
        EXPECT_NE(form->findChild<QObject*>(QString::fromLatin1(name)), nullptr) << name;
}

// Each box is inverted on its own, so a mixed set stays mixed.
TEST_F(MainWindowTest, ToggleAllInvertsEachBox)
{
    struct Case {
        const char* name;
        QList<bool> before;
    };
    const QList<Case> cases = {
        {"all ticked", {true, true, true, true, true, true, true, true}},
        {"all unticked", {false, false, false, false, false, false, false, false}},
        {"only CBVider unticked", {false, true, true, true, true, true, true, true}},
        {"mixed", {true, false, true, true, false, false, true, false}},
    };
    const QList<QCheckBox*> boxes = form->optionBoxes();
    for (const Case& c : cases) {
        for (int i = 0; i < boxes.size(); ++i)
            boxes[i]->setChecked(c.before[i]);
        form->Button1->click();
        for (int i = 0; i < boxes.size(); ++i)
            EXPECT_EQ(boxes[i]->isChecked(), !c.before[i]) << c.name << ", box " << i;
    }
}

TEST_F(MainWindowTest, LettersFolderChosenFirstKeepsImportDisabled)
{
    chooseLetters(QStringLiteral("/srv/sorvane/Courrier"));

    EXPECT_EQ(form->SorvaneRTFPath->text(), QStringLiteral("/srv/sorvane/Courrier/"));
    EXPECT_FALSE(form->BtExecuter->isEnabled());
    ASSERT_EQ(dialogs->folderRequests.size(), 1);
    EXPECT_EQ(dialogs->folderRequests[0].first,
              QStringLiteral("Sélectionner le répertoire des courriers Sorvane"));
    EXPECT_EQ(dialogs->folderRequests[0].second, QDir::homePath());
}

TEST_F(MainWindowTest, LettersLabelEndsWithOneSeparator)
{
    const QList<QPair<QString, QString>> cases = {
        {QStringLiteral("/"), QStringLiteral("/")},
        {QStringLiteral("/srv/Courrier"), QStringLiteral("/srv/Courrier/")},
        {QStringLiteral("/srv/Courrier/"), QStringLiteral("/srv/Courrier/")},
        {QStringLiteral("/srv/Courriers 2026"), QStringLiteral("/srv/Courriers 2026/")},
    };
    for (const auto& [chosen, shown] : cases) {
        chooseLetters(chosen);
        EXPECT_EQ(form->SorvaneRTFPath->text(), shown) << chosen.toStdString();
    }
}

TEST_F(MainWindowTest, CancelledFolderBrowserKeepsTheLabel)
{
    chooseLetters(QStringLiteral("/srv/Courrier"));
    chooseLetters(QString());
    EXPECT_EQ(form->SorvaneRTFPath->text(), QStringLiteral("/srv/Courrier/"));
    EXPECT_EQ(dialogs->folderRequests.size(), 2);
    EXPECT_TRUE(dialogs->shown.isEmpty());
}

TEST_F(MainWindowTest, SourceDialogOffersTheSourceBaseFile)
{
    form->SBSelectSorvaneBase->click();

    ASSERT_EQ(dialogs->fileRequests.size(), 1);
    const FileDialogRequest& request = dialogs->fileRequests[0];
    EXPECT_EQ(request.initialFolder, QDir::homePath());
    EXPECT_EQ(request.initialFileName, QStringLiteral("v4.mdb"));
    EXPECT_EQ(request.filterName, QStringLiteral("Base Access de Sorvane"));
    EXPECT_EQ(request.pattern, QStringLiteral("v4.mdb"));
    EXPECT_EQ(form->SorvanePath->text(), defaultLocationText(Location::SourceBase));
    EXPECT_TRUE(dialogs->shown.isEmpty());
}

TEST_F(MainWindowTest, TargetDialogOffersTheSettingsFile)
{
    form->SBSelectTessarisBase->click();

    ASSERT_EQ(dialogs->fileRequests.size(), 1);
    const FileDialogRequest& request = dialogs->fileRequests[0];
    EXPECT_EQ(request.initialFolder, QDir::homePath());
    EXPECT_EQ(request.initialFileName, QStringLiteral("Kelvanor.ver"));
    EXPECT_EQ(request.filterName, QStringLiteral("Base Tessaris"));
    EXPECT_EQ(request.pattern, QStringLiteral("kelvanor.ver"));
    EXPECT_EQ(form->TessarisBase->text(), defaultLocationText(Location::TargetBase));
    EXPECT_TRUE(form->isVisible());
}

TEST_F(MainWindowTest, SourceWithoutOrdoKeepsImportDisabledUntilLabelsAreSet)
{
    const auto sourceWithoutOrdo = makeSource(false);
    target = test::makeSqliteTarget();
    test::writeTargetSettings(target);

    chooseSource(*sourceWithoutOrdo);
    EXPECT_EQ(form->SorvanePath->text(), sourceWithoutOrdo->folder());
    const QStringList errors = dialogs->texts(Kind::Error);
    ASSERT_EQ(errors.size(), 1);
    EXPECT_TRUE(errors[0].startsWith("Erreur lors de la connexion à la base de données ["
                                      + sourceWithoutOrdo->folder() + "Ordo.mdb] : "))
        << errors[0].toStdString();
    EXPECT_TRUE(form->session().ADOConnectionSorvane.isOpen());
    EXPECT_FALSE(form->BtExecuter->isEnabled());

    chooseTarget(target);
    EXPECT_EQ(form->TessarisBase->text(), target.folder);
    EXPECT_FALSE(form->BtExecuter->isEnabled());

    chooseLetters(sourceWithoutOrdo->folder());
    EXPECT_TRUE(form->BtExecuter->isEnabled());
    EXPECT_EQ(dialogs->texts(Kind::Error).size(), 1);
}

TEST_F(MainWindowTest, FailedTargetChoiceClosesTheApplication)
{
    target = test::makeSqliteTarget();
    test::writeTextFile(target.folder + "Kelvanor.ver",
                        "[DBKERNEL]\r\nDatabaseName=" + target.databaseName.toUtf8() + "\r\nServerName=\r\n");

    chooseTarget(target);

    EXPECT_EQ(dialogs->texts(Kind::Error),
              QStringList{"Initialisation de la base de données [" + target.folder
                          + "] impossible !\rLa clé ServerName de la section [DBKERNEL] du fichier ["
                          + target.folder + "Kelvanor.ver] est absente ou vide.\rL'application va être fermée."});
    EXPECT_FALSE(form->isVisible());
}

TEST_F(MainWindowTest, CancelledLocationDialogsLeaveTheirConnectionsClosedAndImportAsItWas)
{
    chooseAllLocations(makeSource(true));
    ASSERT_TRUE(form->BtExecuter->isEnabled());

    form->SBSelectTessarisBase->click(); // cancelled
    EXPECT_FALSE(form->session().ADOConnectionTessaris.isOpen());
    EXPECT_EQ(form->TessarisBase->text(), target.folder);
    EXPECT_TRUE(form->BtExecuter->isEnabled());

    form->SBSelectSorvaneBase->click(); // cancelled
    EXPECT_FALSE(form->session().ADOConnectionSorvane.isOpen());
    EXPECT_FALSE(form->session().ADOConnectionSorvaneOrdo.isOpen());
    EXPECT_EQ(form->SorvanePath->text(), source->folder());
    EXPECT_TRUE(form->BtExecuter->isEnabled());
    EXPECT_TRUE(dialogs->shown.isEmpty());
    EXPECT_TRUE(form->isVisible());
}

TEST_F(MainWindowTest, FullRunEndsWithTheClosingMessageAndRestoresTheWindow)
{
    chooseAllLocations(makeSamplePracticeSource());
    ASSERT_TRUE(form->BtExecuter->isEnabled());

    struct Snapshot {
        bool busyCursor = false;
        bool importEnabled = true;
        bool closeEnabled = true;
        bool sourceButtonEnabled = true;
        bool timerShown = false;
        bool timerRunning = false;
        bool closeRefused = false;
    } atClosingMessage;
    dialogs->onMessage = [&](const ScriptedDialogs::Shown& shown) {
        if (shown.kind != Kind::Message)
            return;
        atClosingMessage.importEnabled = form->BtExecuter->isEnabled();
        atClosingMessage.closeEnabled = form->BitBtn2->isEnabled();
        atClosingMessage.sourceButtonEnabled = form->SBSelectSorvaneBase->isEnabled();
        atClosingMessage.timerShown = form->lTimer->isVisible();
        atClosingMessage.timerRunning = form->Timer1->isActive();
        atClosingMessage.closeRefused = !form->close();
        atClosingMessage.busyCursor = QGuiApplication::overrideCursor() != nullptr;
        saveScreenshot(*form, QStringLiteral("fenetre-fin-de-traitement"));
    };
    const QStringList logsBefore = QDir(programFolder()).entryList({"P1Import - *.log"});

    form->BtExecuter->click();

    EXPECT_EQ(dialogs->texts(Kind::Confirm),
              QStringList{QStringLiteral("Souhaitez-vous lancer l'importation ?")});
    EXPECT_EQ(dialogs->texts(Kind::Message),
              QStringList{QStringLiteral("Le traitement est terminé.")});
    EXPECT_TRUE(dialogs->texts(Kind::Error).isEmpty());
    ASSERT_FALSE(form->Memo1->toPlainText().isEmpty());
    const QStringList panel = form->Memo1->toPlainText().split(QLatin1Char('\n'));
    EXPECT_TRUE(panel.last().startsWith(QStringLiteral("Traitement terminé. Durée : ")));
    EXPECT_FALSE(panel.filter(QRegularExpression(QStringLiteral("^[1-9][0-9]* patients créés$")))
                     .isEmpty())
        << panel.join(QLatin1Char('\n')).toStdString();

    EXPECT_FALSE(atClosingMessage.importEnabled);
    EXPECT_FALSE(atClosingMessage.closeEnabled);
    EXPECT_FALSE(atClosingMessage.sourceButtonEnabled);
    EXPECT_TRUE(atClosingMessage.timerShown);
    EXPECT_TRUE(atClosingMessage.timerRunning);
    EXPECT_TRUE(atClosingMessage.closeRefused);
    EXPECT_FALSE(atClosingMessage.busyCursor);

    EXPECT_TRUE(form->isVisible());
    EXPECT_TRUE(form->BtExecuter->isEnabled());
    EXPECT_TRUE(form->BitBtn2->isEnabled());
    EXPECT_TRUE(form->SBSelectSorvaneBase->isEnabled());
    EXPECT_FALSE(form->lTimer->isVisible());
    EXPECT_FALSE(form->lEvolution->isVisible());
    EXPECT_FALSE(form->Timer1->isActive());
    EXPECT_EQ(form->PB1->value(), 0);
    EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);
    saveScreenshot(*form, QStringLiteral("fenetre-apres-importation"));

    EXPECT_EQ(removeLogFilesHolding(panel, logsBefore), 1);
}


QString printedBy(const QStringList& arguments)
{
    FILE* out = std::tmpfile();
    FILE* err = std::tmpfile();
    FILE* in = std::tmpfile();
    // 3: the sample practice names letter files that are missing on purpose.
    EXPECT_EQ(runCommandLine(arguments, TerminalStreams{out, err, in}), 3);
    std::rewind(out);
    QFile printed;
    printed.open(out, QIODevice::ReadOnly);
    const QString text = QString::fromUtf8(printed.readAll());
    printed.close();
    for (FILE* stream : {out, err, in})
        std::fclose(stream);
    return text;
}

TEST_F(MainWindowTest, TheCommandLineLogsTheSameLinesAsTheWindowForTheSameInput)
{
    QTemporaryDir logFolder;
    qputenv("P1IMPORT_LOG_FOLDER", logFolder.path().toUtf8());
    chooseAllLocations(makeSamplePracticeSource());
    form->BtExecuter->click();
    const QStringList windowLines = form->Memo1->toPlainText().split(QLatin1Char('\n'));

    const test::TestTarget otherTarget = test::makeSqliteTarget(true);
    test::writeTargetSettings(otherTarget);
    const QString printed = printedBy({QStringLiteral("--source"), source->v4(),
                                       QStringLiteral("--letters"), source->folder() + QStringLiteral("Courriers"),
                                       QStringLiteral("--target"), otherTarget.folder + QStringLiteral("Kelvanor.ver"),
                                       QStringLiteral("--target-engine"), QStringLiteral("sqlite"),
                                       QStringLiteral("--yes")});
    qunsetenv("P1IMPORT_LOG_FOLDER");

    EXPECT_TRUE(windowLines.contains(QStringLiteral("Purge des données terminée.")));
    EXPECT_EQ(test::comparableLog(printed.split(QLatin1Char('\n'), Qt::SkipEmptyParts)),
              test::comparableLog(windowLines));
    EXPECT_GE(QDir(logFolder.path()).entryList({QStringLiteral("P1Import - *.log")}).size(), 1);
}

// SIGTERM (the session ending, say) while the window runs an import: the run stops at its next
// row boundary, keeps its log and report, and the window closes; the program's exit status is 1.
TEST_F(MainWindowTest, ASignalDuringARunStopsItKeepsItsRecordsAndClosesTheWindow)
{
    QTemporaryDir logFolder;
    qputenv("P1IMPORT_LOG_FOLDER", logFolder.path().toUtf8());
    chooseAllLocations(makeSamplePracticeSource());
    // At the window's first pump once the patients stage has begun.
    QTimer signalSender;
    bool sent = false;
    QObject::connect(&signalSender, &QTimer::timeout, [&] {
        if (!sent && form->lEvolution->text().startsWith(QStringLiteral("Importation des patients"))) {
            sent = true;
            std::raise(SIGTERM);
        }
    });
    signalSender.start(0);

    form->BtExecuter->click();
    signalSender.stop();
    qunsetenv("P1IMPORT_LOG_FOLDER");

    ASSERT_TRUE(sent);
    const QString stopLine = QStringLiteral("Traitement interrompu : l'arrêt du programme a été demandé (signal SIGTERM).");
    const QStringList panel = form->Memo1->toPlainText().split(QLatin1Char('\n'));
    EXPECT_EQ(panel.last(), stopLine);
    EXPECT_TRUE(panel.contains(QStringLiteral("Purge des données terminée.")));
    EXPECT_TRUE(dialogs->texts(Kind::Message).isEmpty());
    EXPECT_TRUE(dialogs->texts(Kind::Error).isEmpty());
    EXPECT_FALSE(form->isVisible());
    EXPECT_TRUE(form->stoppedBySignal());

    const QDir logs(logFolder.path());
    const QStringList logFiles = logs.entryList({QStringLiteral("P1Import - *.log")});
    ASSERT_EQ(logFiles.size(), 1);
    QFile log(logs.filePath(logFiles[0]));
    ASSERT_TRUE(log.open(QIODevice::ReadOnly));
    EXPECT_EQ(log.readAll(), toWindows1252(panel.join(QStringLiteral("\r\n")) + QStringLiteral("\r\n")));
    EXPECT_EQ(logs.entryList({QStringLiteral("P1Import - *.html")}).size(), 1);
    EXPECT_EQ(logs.entryList({QStringLiteral("*.en-cours")}), QStringList());
}

// Waits while the window keeps handling its events, as it does under a modal dialog.
void keepWindowAlive(int milliseconds)
{
    QEventLoop loop;
    QTimer::singleShot(milliseconds, &loop, &QEventLoop::quit);
    loop.exec();
}

TEST_F(MainWindowTest, ElapsedTimeLabelTicksDuringTheRun)
{
    chooseAllLocations(makeSource(true));
    setTicked(false);
    QString shownAfterAWhile;
    dialogs->onMessage = [&](const ScriptedDialogs::Shown& shown) {
        if (shown.kind != Kind::Message)
            return;
        keepWindowAlive(1500);
        shownAfterAWhile = form->lTimer->text();
    };

    form->BtExecuter->click();

    EXPECT_TRUE(QRegularExpression(QStringLiteral("^00:00:0[1-9]$")).match(shownAfterAWhile).hasMatch())
        << shownAfterAWhile.toStdString();
    EXPECT_EQ(form->Memo1->toPlainText(), QStringLiteral("Traitement terminé. Durée : 00:00:00"));
    EXPECT_FALSE(form->Timer1->isActive());
}

TEST_F(MainWindowTest, TheEndLineTakesTheDurationFromTheRunsOwnStart)
{
    chooseAllLocations(makeSource(true));
    setTicked(false);
    form->lTimer->setText(QStringLiteral("00:00:03")); // as a run with its closing message left open leaves it

    form->BtExecuter->click();

    EXPECT_EQ(form->Memo1->toPlainText(), QStringLiteral("Traitement terminé. Durée : 00:00:00"));
}

TEST_F(MainWindowTest, RunErrorIsShownInTheStandardErrorDialog)
{
    chooseAllLocations(makeSource(true), false);
    setTicked(false);
    form->optionBox(Box::ImportMedecins)->setChecked(true);

    form->BtExecuter->click();

    const QStringList errors = dialogs->texts(Kind::Error);
    ASSERT_EQ(errors.size(), 1);
    EXPECT_TRUE(errors[0].contains(QStringLiteral("MEDECINS"))) << errors[0].toStdString();
    EXPECT_TRUE(dialogs->texts(Kind::Message).isEmpty());
    EXPECT_TRUE(form->BtExecuter->isEnabled());
    EXPECT_TRUE(form->BitBtn2->isEnabled());
    EXPECT_FALSE(form->lTimer->isVisible());
    EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);
}

TEST_F(MainWindowTest, ClosingTheWindowClosesTheConnections)
{
    chooseAllLocations(makeSource(true));
    ASSERT_TRUE(form->session().ADOConnectionSorvane.isOpen());
    ASSERT_TRUE(form->session().ADOConnectionTessaris.isOpen());

    form->BitBtn2->click();

    EXPECT_FALSE(form->isVisible());
    EXPECT_FALSE(form->session().ADOConnectionTessaris.isOpen());
    EXPECT_FALSE(form->session().ADOConnectionSorvane.isOpen());
    EXPECT_FALSE(form->session().ADOConnectionSorvaneOrdo.isOpen());
}

TEST_F(MainWindowTest, OperatorSeamOverTheWidgets)
{
    FormOperatorUi ui(*form);

    ui.setProgressMaximum(0);
    EXPECT_GE(form->PB1->maximum(), 1) << "an empty range animates the bar as busy";
    ui.setProgressPosition(1);
    EXPECT_EQ(ui.progressPosition(), 0);
    ui.setProgressMaximum(3);
    ui.setProgressPosition(5);
    EXPECT_EQ(ui.progressPosition(), 3);
    ui.setProgressMaximum(2);
    EXPECT_EQ(ui.progressPosition(), 2);

    ui.addLogLine(QString());
    ui.addLogLine(QStringLiteral("ligne"));
    EXPECT_EQ(ui.logLines(), (QStringList{QString(), QStringLiteral("ligne")}));

    // The per-row pump is throttled; a status shown before a blocking statement is painted at once.
    ui.setStatus(QStringLiteral("Purge de la table [A] de la base Tessaris..."));
    ui.processMessages();
    ui.setStatus(QStringLiteral("Purge de la table [B] de la base Tessaris..."));
    ui.repaintNow();
    EXPECT_EQ(form->lEvolution->text(), QStringLiteral("Purge de la table [B] de la base Tessaris..."));

    ui.setBusy(true);
    ui.setBusy(true);
    ui.setBusy(false);
    EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);

    form->optionBox(Box::ImportPatients)->setChecked(false);
    EXPECT_FALSE(ui.isTicked(Box::ImportPatients));
    EXPECT_TRUE(ui.isTicked(Box::ImportOrdo));
}

// The real question dialog, answered by pressing its buttons as the operator would. Escape and
// closing the box count as No: a dismissed question must not start a run.
TEST(QtDialogsTest, QuestionGoesOnOnlyOnYesAndEscapeOrClosingCountAsNo)
{
    application();
    QWidget owner;
    QtDialogs dialogs(&owner);
    struct Case {
        const char* name;
        std::function<void(QMessageBox&)> answer;
        bool expected;
    };
    const QList<Case> cases = {
        {"Oui", [](QMessageBox& box) { box.button(QMessageBox::Yes)->click(); }, true},
        {"Non", [](QMessageBox& box) { box.button(QMessageBox::No)->click(); }, false},
        {"Echap",
         [](QMessageBox& box) {
             QKeyEvent escape(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
             QApplication::sendEvent(&box, &escape);
         },
         false},
        {"fermeture", [](QMessageBox& box) { box.close(); }, false},
    };
    for (const Case& c : cases) {
        QStringList captions;
        QTimer::singleShot(0, [&] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            ASSERT_NE(box, nullptr);
            for (QAbstractButton* button : box->buttons())
                captions.append(button->text());
            c.answer(*box);
        });
        EXPECT_EQ(dialogs.confirm(QStringLiteral("Souhaitez-vous lancer l'importation ?")), c.expected)
            << c.name;
        captions.sort();
        EXPECT_EQ(captions, (QStringList{QStringLiteral("&Non"), QStringLiteral("&Oui")})) << c.name;
    }
}

TEST(ElapsedTimeText, IsATimeOfDayInTheLongTimeFormat)
{
    setTextLocale(QLocale(QLocale::French, QLocale::France));
    const QDateTime start(QDate(2026, 12, 7), QTime(23, 59, 30), Qt::UTC);
    const QList<QPair<qint64, QString>> cases = {
        {0, QStringLiteral("00:00:00")},
        {999, QStringLiteral("00:00:00")},
        {75'000, QStringLiteral("00:01:15")},
        {3'600'000 * 25LL + 5'000, QStringLiteral("01:00:05")},
        {86'400'000, QStringLiteral("00:00:00")},
        {-5'000, QStringLiteral("00:00:00")},
    };
    for (const auto& [elapsed, shown] : cases)
        EXPECT_EQ(elapsedTimeText(start, start.addMSecs(elapsed)), shown) << elapsed;
}

} // namespace
} // namespace p1
