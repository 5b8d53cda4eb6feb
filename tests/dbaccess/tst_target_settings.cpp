#include "dbaccess/target_settings.h"
#include "common/files.h"
#include "run/import_session.h"
#include "tests/support/recording_ui.h"
#include "tests/support/target_databases.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QTemporaryDir>

#include <optional>

namespace p1 {
namespace {

using Dialog = RecordingUi::Dialog;
using Kind = RecordingUi::DialogKind;

void writeSettings(const QString& folder, const QByteArray& content)
{
    QFile file(folder + "Kelvanor.ver");
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(content);
}

QString connectionStringOf(const QString& folder)
{
    const auto settings = TargetConnectionSettings::read(folder + "Kelvanor.ver");
    return targetConnectionString(settings, UnscrambleServerPassword(settings.SAPW));
}

class TargetSettingsTest : public ::testing::Test {
protected:
    QTemporaryDir temporary;
    QString folder = EnsureTrailingBackslash(temporary.path());
};

TEST_F(TargetSettingsTest, ConnectionStringFollowsTheSettingsFile)
{
    writeSettings(folder, "[DBKERNEL]\r\nServerName=SRV\\SQL\r\nDatabaseName=CABINET\r\nUserName=medic\r\nSAPW=\r\n");
    EXPECT_EQ(connectionStringOf(folder),
              "Provider=SQLOLEDB.1;Integrated Security=SSPI;Persist Security Info=False;Data Source=SRV\\SQL;"
              "Initial Catalog=CABINET;User ID=medic;Password=;");
}

TEST_F(TargetSettingsTest, MissingKeysGiveTheDefaults)
{
    writeSettings(folder, "[dbkernel]\r\nservername=SRV\r\ndatabasename=DB\r\n");
    const QString connectionString = connectionStringOf(folder);
    EXPECT_TRUE(connectionString.contains(";User ID=sa;"));
    EXPECT_TRUE(connectionString.endsWith(";Password=;"));

    const auto missing = TargetConnectionSettings::read(folder + "absent.ver");
    EXPECT_EQ(missing.DatabaseName, "");
    EXPECT_EQ(missing.ServerName, "");
    EXPECT_EQ(missing.UserName, "sa");
    EXPECT_EQ(missing.SAPW, "");
}

TEST_F(TargetSettingsTest, EveryValueComesBackWholeAndNoValueAddsAKey)
{
    const struct {
        TargetConnectionSettings settings;
        QString password;
    } cases[] = {
        {{"DB", "SRV", "sa", ""}, ";Data Source=evil;"},
        {{"cab;inet", "srv;Initial Catalog=x", "u\"1", ""}, "\"quoted\""},
        {{" DB ", "SRV", "Password=x", ""}, " p w "},
        {{"DB", "SRV", "sa", ""}, "a;b=c;"},
    };
    for (const auto& c : cases) {
        const QString connectionString = targetConnectionString(c.settings, c.password);
        const ConnectionStringParts parts = parseConnectionString(connectionString);
        SCOPED_TRACE(connectionString.toStdString());
        EXPECT_EQ(parts.dataSource, c.settings.ServerName);
        EXPECT_EQ(parts.initialCatalog, c.settings.DatabaseName);
        EXPECT_EQ(parts.userId, c.settings.UserName);
        EXPECT_EQ(parts.password, c.password);
    }
}

TEST_F(TargetSettingsTest, OddPasswordIsUsedAsAnUnderscore)
{
    writeSettings(folder, "[DBKERNEL]\r\nServerName=SRV\r\nDatabaseName=DB\r\nSAPW=ABC\r\n");
    EXPECT_TRUE(connectionStringOf(folder).endsWith(";Password=_;"));
}

// The window's target handler, on folders that cannot be opened: only the initialisation dialog
// when the settings are incomplete, the connection dialog first when the engine refuses.
class TargetChoiceTest : public ::testing::Test {
protected:
    void SetUp() override { test::ensureQtApplication(); }

    QTemporaryDir temporary;
    QString folder = EnsureTrailingBackslash(temporary.path());
    RecordingUi ui;
};

TEST_F(TargetChoiceTest, IncompleteSettingsNameWhatIsMissingAndCloseTheApplicationWithoutConnectionDialog)
{
    const QString file = folder + "Kelvanor.ver";
    const struct {
        std::optional<QByteArray> content; // none: no file
        QString problem;
    } cases[] = {
        {QByteArray("[DBKERNEL]\r\nDatabaseName=DB\r\n"),
         "La clé ServerName de la section [DBKERNEL] du fichier [" + file + "] est absente ou vide."},
        {QByteArray("[DBKERNEL]\r\nServerName=SRV\r\nDatabaseName=\r\n"),
         "La clé DatabaseName de la section [DBKERNEL] du fichier [" + file + "] est absente ou vide."},
        {QByteArray(), "Le fichier [" + file + "] n'a pas de section [DBKERNEL]."},
        {QByteArray("ServerName=SRV\r\nDatabaseName=DB\r\n"), "Le fichier [" + file + "] n'a pas de section [DBKERNEL]."},
        {QByteArray("\x00\x01\xff\xfe[\x00", 6), "Le fichier [" + file + "] n'a pas de section [DBKERNEL]."},
        {std::nullopt, "Le fichier [" + file + "] n'existe pas."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.problem.toStdString());
        QFile::remove(file);
        if (c.content)
            writeSettings(folder, *c.content);
        RecordingUi choiceUi;
        ImportSession session(choiceUi, TargetEngine::Sqlite);
        EXPECT_FALSE(session.targetChosen(file));
        EXPECT_EQ(choiceUi.dialogs(),
                  QList<Dialog>({{Kind::Error, "Initialisation de la base de données [" + folder + "] impossible !\r"
                                                   + c.problem + "\rL'application va être fermée."}}));
        EXPECT_TRUE(choiceUi.applicationClosed());
        EXPECT_EQ(choiceUi.locationText(Location::TargetBase), folder);
    }
}

TEST_F(TargetChoiceTest, StaleLockFilesBesideTheProgramGoEvenWhenTheSettingsAreIncomplete)
{
    const QStringList lockFiles = {programFolder() + "PDOXUSRS.LCK", programFolder() + "PARADOX.LCK",
                                   programFolder() + "PDOXUSRS.NET"};
    for (const QString& lockFile : lockFiles) {
        QFile file(lockFile);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    }
    writeSettings(folder, "[DBKERNEL]\r\nDatabaseName=DB\r\n");
    ui.setLocationText(Location::TargetBase, folder);
    ImportSession session(ui, TargetEngine::Sqlite);
    EXPECT_FALSE(session.OpenTargetConnection());
    EXPECT_TRUE(ui.dialogs().isEmpty());
    for (const QString& lockFile : lockFiles)
        EXPECT_FALSE(QFile::exists(lockFile)) << lockFile.toStdString();
}

TEST_F(TargetChoiceTest, RefusedConnectionShowsTheEngineMessageButNeverThePassword)
{
    // "Secret!" scrambled with the program's key, whatever that key is.
    const QByteArray key = [] {
        QByteArray bytes;
        for (QChar c : UnscrambleServerPassword(QString(14, '0')))
            bytes.append(static_cast<char>(c.unicode()));
        return bytes;
    }();
    const QByteArray clear = "Secret!";
    QByteArray scrambled;
    for (int i = 0; i < clear.size(); ++i)
        scrambled.append(static_cast<char>(clear[i] ^ key[i]));
    writeSettings(folder, "[DBKERNEL]\r\nServerName=" + folder.toUtf8()
                              + "no-such-socket-folder\r\nDatabaseName=cabinet\r\nUserName=medic\r\nSAPW="
                              + scrambled.toHex().toUpper() + "\r\n");

    ImportSession session(ui, TargetEngine::Postgres);
    EXPECT_FALSE(session.targetChosen(folder + "Kelvanor.ver"));

    ASSERT_EQ(ui.dialogs().size(), 2);
    EXPECT_TRUE(ui.dialogs()[0].text.startsWith("Erreur lors de la connexion à la base de données Tessaris : \r"));
    EXPECT_GT(ui.dialogs()[0].text.size(), QString("Erreur lors de la connexion à la base de données Tessaris : \r").size());
    EXPECT_TRUE(ui.dialogs()[1].text.startsWith("Initialisation de la base de données ["));
    for (const Dialog& dialog : ui.dialogs())
        EXPECT_FALSE(dialog.text.contains("Secret!")) << dialog.text.toStdString();
    EXPECT_TRUE(ui.applicationClosed());
}

TEST_F(TargetChoiceTest, EmbeddedTargetOpensRelativeToItsFolderAndLeavesImportToTheLabels)
{
    const test::TestTarget target = test::makeSqliteTarget();
    writeSettings(target.folder, "[DBKERNEL]\r\nServerName=local\r\nDatabaseName=" + target.databaseName.toUtf8() + "\r\n");
    ImportSession session(ui, TargetEngine::Sqlite);
    EXPECT_TRUE(session.targetChosen(target.folder + "Kelvanor.ver"));
    EXPECT_TRUE(session.ADOConnectionTessaris.isOpen());
    EXPECT_TRUE(ui.dialogs().isEmpty());
    EXPECT_FALSE(ui.isImportEnabled()); // the two source labels still show their defaults

    ui.setLocationText(Location::SourceBase, folder);
    session.lettersFolderChosen(folder + "courriers");
    EXPECT_EQ(ui.locationText(Location::SourceLetters), folder + "courriers/");
    EXPECT_TRUE(ui.isImportEnabled()); // labels alone, the source connections are closed
}

} // namespace
} // namespace p1
