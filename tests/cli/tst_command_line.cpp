#include "common/locale_texts.h"
#include "cli/command_line.h"
#include "run/import_run.h"
#include "run/import_session.h"
#include "dbaccess/target_settings.h"
#include "targetdb/target_schema.h"
#include "tests/cli/command_line_runner.h"
#include "tests/run/run_fixture.h"
#include "tests/support/log_lines.h"
#include "tests/support/recording_ui.h"

#include <gtest/gtest.h>

#include <QRegularExpression>

#include <cstdio>

namespace p1 {
namespace {

using test::Practice;

using Outcome = test::CommandLineOutcome;

Outcome runCli(const QStringList& arguments, const QByteArray& input = {})
{
    return test::runCommandLineWith(arguments, input);
}

QStringList importArguments(const Practice& practice)
{
    return {"--source", practice.source, "--letters", practice.letters, "--target",
            practice.target.folder + "Kelvanor.ver", "--target-engine", "sqlite"};
}


class CommandLineTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        test::ensureQtApplication();
        setTextLocale(QLocale(QLocale::French, QLocale::France));
    }

    const test::SourceContent content{{{1, "Martin"}, {2, "Durand"}, {2, "Doublon"}, {0, "Ignoré"}}};
};

TEST_F(CommandLineTest, PrintsTheSameLogLinesAsTheWindowAndNothingElseOnStandardOutput)
{
    QStringList windowLines;
    {
        Practice practice(TargetEngine::Sqlite, content);
        RecordingUi ui;
        ImportSession session(ui, TargetEngine::Sqlite);
        session.lettersFolderChosen(practice.letters);
        ASSERT_TRUE(session.targetChosen(practice.target.folder + "Kelvanor.ver"));
        session.sourceBaseChosen(practice.source + "V4.mdb");
        session.ButtonExecuterClick();
        windowLines = ui.logLines();
    }
    Practice practice(TargetEngine::Sqlite, content);

    const Outcome outcome = runCli(importArguments(practice) << "--yes");

    EXPECT_EQ(outcome.status, 3) << outcome.err.toStdString(); // the second user 2 is refused
    const QStringList printed = outcome.out.split('\n', Qt::SkipEmptyParts);
    EXPECT_EQ(test::comparableLog(printed), test::comparableLog(windowLines)) << outcome.out.toStdString();
    EXPECT_TRUE(printed.contains("2 utilisateurs créés"));
    EXPECT_TRUE(printed.last().startsWith("Traitement terminé. Durée : "));
    EXPECT_TRUE(outcome.err.contains("Le traitement est terminé."));
    EXPECT_EQ(practice.logFiles().size(), 1);
    EXPECT_EQ(test::countRows(*test::connectTo(practice.target), "MEDECINS"), 2);
}

TEST_F(CommandLineTest, OnlyTheNamedStagesRunAndThePurgeCanBeLeftOut)
{
    Practice practice(TargetEngine::Sqlite, content);
    const Outcome outcome =
        runCli(QStringList{"--source", practice.source} + importArguments(practice).mid(2)
               << "--yes" << "--no-purge" << "--only=patients");
    EXPECT_EQ(outcome.status, 0) << outcome.err.toStdString();
    EXPECT_EQ(test::comparableLog(outcome.out.split('\n', Qt::SkipEmptyParts)),
              QStringList({"0 patient créé", "Traitement terminé. Durée : <durée>"}));
}

TEST_F(CommandLineTest, TheConfirmationIsReadFromStandardInputAndDefaultsToNo)
{
    const struct {
        QByteArray input;
        int status;
    } cases[] = {{"non\n", 1}, {"", 1}, {"\n", 1}, {"oui\n", 3}, {"O\n", 3}}; // 3: one user is refused
    for (const auto& c : cases) {
        Practice practice(TargetEngine::Sqlite, content);
        const Outcome outcome = runCli(importArguments(practice) << "--only" << "medecins", c.input);
        EXPECT_EQ(outcome.status, c.status) << c.input.constData();
        EXPECT_TRUE(outcome.err.contains("Souhaitez-vous lancer l'importation ? [o/N]"));
        EXPECT_EQ(outcome.out.isEmpty(), c.status == 1) << outcome.out.toStdString();
    }
}

TEST_F(CommandLineTest, ARunThatReachedItsEndWithRefusedRowsEndsWithStatusThree)
{
    const struct {
        test::SourceContent content;
        QStringList options;
        int status;
    } cases[] = {{{{{1, "Martin"}, {2, "Durand"}, {0, "Ignoré"}}}, {}, 0},
                 {content, {}, 3},
                 {content, {"--commit-each-row"}, 3}};
    for (const auto& c : cases) {
        Practice practice(TargetEngine::Sqlite, c.content);
        const Outcome outcome = runCli(importArguments(practice) << "--yes" << c.options);
        EXPECT_EQ(outcome.status, c.status) << outcome.out.toStdString();
        EXPECT_TRUE(outcome.out.contains("Traitement terminé. Durée : "));
        EXPECT_EQ(test::countRows(*test::connectTo(practice.target), "MEDECINS"), 2);
    }
}

TEST_F(CommandLineTest, ARunThatCannotStartOrFinishEndsWithStatusOne)
{
    {
        Practice practice(TargetEngine::Sqlite, content);
        QFile::remove(practice.source + "Ordo.mdb");
        const Outcome outcome = runCli(importArguments(practice) << "--yes");
        EXPECT_EQ(outcome.status, 1);
        EXPECT_TRUE(outcome.err.contains("Erreur lors de la connexion à la base de données [" + practice.source
                                         + "Ordo.mdb] : "))
            << outcome.err.toStdString();
        EXPECT_TRUE(outcome.out.isEmpty());
    }
    {
        Practice practice(TargetEngine::Sqlite, content);
        qputenv("P1IMPORT_LOG_FOLDER", (practice.source + "V4.mdb/logs").toUtf8());
        const Outcome outcome = runCli(importArguments(practice) << "--yes");
        EXPECT_EQ(outcome.status, 1);
        EXPECT_TRUE(outcome.err.contains("Erreur : Impossible d'écrire le fichier")) << outcome.err.toStdString();
        EXPECT_FALSE(outcome.err.contains("Le traitement est terminé."));
    }
    {
        Practice practice(TargetEngine::Sqlite, content);
        qputenv("P1IMPORT_LOG_FOLDER", (practice.logs + "absent").toUtf8());
        const Outcome outcome = runCli(importArguments(practice) << "--check");
        EXPECT_EQ(outcome.status, 1);
        EXPECT_TRUE(outcome.err.contains("Erreur : Impossible d'écrire le fichier " + practice.logs
                                         + "absent/P1Import - Vérification "))
            << outcome.err.toStdString();
        EXPECT_FALSE(outcome.err.contains("La vérification est terminée."));
    }
    {
        Practice practice(TargetEngine::Sqlite, content);
        test::writeTextFile(practice.target.folder + "Kelvanor.ver", "[DBKERNEL]\r\nDatabaseName=x.db\r\n");
        const Outcome outcome = runCli(importArguments(practice) << "--yes");
        EXPECT_EQ(outcome.status, 1);
        EXPECT_TRUE(outcome.err.contains("Initialisation de la base de données [" + practice.target.folder
                                         + "] impossible !\nLa clé ServerName de la section [DBKERNEL] du fichier ["
                                         + practice.target.folder + "Kelvanor.ver] est absente ou vide.\n"
                                         + "L'application va être fermée."))
            << outcome.err.toStdString();
    }
}

TEST_F(CommandLineTest, BadArgumentsGetAFrenchMessageAndStatusTwo)
{
    Practice practice;
    const QStringList valid = importArguments(practice);
    const struct {
        QStringList arguments;
        QString message;
    } cases[] = {
        {{"--frobnicate"}, "Argument inconnu : « --frobnicate »."},
        {{"--source"}, "L'option --source attend une valeur."},
        {{"--source", "--yes"}, "L'option --source attend une valeur."},
        {valid + QStringList{"--only", "medecins,ordonnances"}, "Étape inconnue : « ordonnances »."},
        {valid + QStringList{"--only", ","}, "--only attend au moins une étape."},
        {valid + QStringList{"--target-engine", "oracle"}, "Moteur inconnu : « oracle »"},
        {valid + QStringList{"--yes=1"}, "L'option --yes ne prend pas de valeur."},
        {valid + QStringList{"--commit-each-row=oui"}, "L'option --commit-each-row ne prend pas de valeur."},
        {valid + QStringList{"--check=oui"}, "L'option --check ne prend pas de valeur."},
        {QStringList{"--init-target", practice.logs + "cible", "--check"}, "--check ne se combine pas avec --init-target."},
        {valid.mid(2), "L'option --source est obligatoire."},
        {QStringList{"--source", practice.source + "absent.mdb"} + valid.mid(2),
         "La base source [" + practice.source + "absent.mdb] n'existe pas."},
        {QStringList{"--source", practice.letters} + valid.mid(2),
         "La base source [" + practice.letters + "V4.mdb] n'existe pas."},
        {QStringList{"--letters", practice.letters + "absent"} + valid.mid(0, 2) + valid.mid(4),
         "Le dossier des courriers [" + practice.letters + "absent] n'existe pas."},
        {QStringList{"--init-target", practice.logs + "cible", "--target-engine", "sqlserver"},
         "--init-target crée une base SQLite ou PostgreSQL"},
        {QStringList{"--init-target", practice.logs + "cible", "--target-engine", "postgres", "--database", "p1",
                     "--user", "moi"},
         "L'option --server est obligatoire avec --target-engine postgres."},
        {QStringList{"--init-target", practice.logs + "cible", "--target-engine=postgres", "--server", "hote",
                     "--user", "moi"},
         "L'option --database est obligatoire avec --target-engine postgres."},
        {QStringList{"--init-target", practice.logs + "cible", "--server", "hote"},
         "--server, --database et --user ne servent qu'à une base PostgreSQL"},
        {valid + QStringList{"--database", "p1"}, "--server, --database et --user ne servent qu'avec --init-target."},
    };
    for (const auto& c : cases) {
        const Outcome outcome = runCli(c.arguments);
        EXPECT_EQ(outcome.status, 2) << c.arguments.join(' ').toStdString();
        EXPECT_TRUE(outcome.err.startsWith(c.message)) << outcome.err.toStdString();
        EXPECT_TRUE(outcome.err.contains("Utilisation :"));
        EXPECT_TRUE(outcome.out.isEmpty());
    }
}

TEST_F(CommandLineTest, HelpGoesToStandardOutput)
{
    const Outcome outcome = runCli({"--help"});
    EXPECT_EQ(outcome.status, 0);
    EXPECT_TRUE(outcome.out.startsWith("Utilisation :"));
    EXPECT_TRUE(outcome.out.contains("--init-target"));
    EXPECT_TRUE(outcome.out.contains("p1import --version"));
    EXPECT_TRUE(outcome.err.isEmpty());
}

TEST_F(CommandLineTest, VersionIsTheProjectsWithTheCommitBuiltFrom)
{
    const Outcome outcome = runCli({"--version"});
    EXPECT_EQ(outcome.status, 0);
    const QRegularExpression line(QStringLiteral("^p1import %1( \\(révision git [0-9a-f]{12}( modifié)?\\))?\n$")
                                      .arg(QRegularExpression::escape(P1_PROJECT_VERSION)));
    EXPECT_TRUE(line.match(outcome.out).hasMatch()) << outcome.out.toStdString();
    EXPECT_TRUE(outcome.err.isEmpty());

    const Outcome withValue = runCli({"--version=2"});
    EXPECT_EQ(withValue.status, 2);
    EXPECT_TRUE(withValue.err.startsWith("L'option --version ne prend pas de valeur."));
}

TEST_F(CommandLineTest, AnEmptyEmbeddedTargetCanBeCreatedOnceAndImportedInto)
{
    Practice practice(TargetEngine::Sqlite, content);
    const QString folder = practice.logs + "nouvelle cible/";

    const Outcome created = runCli({"--init-target", folder});
    EXPECT_EQ(created.status, 0) << created.err.toStdString();
    EXPECT_TRUE(QFile::exists(folder + "Kelvanor.ver"));
    EXPECT_EQ(ImportRun::FindPrescriptionTable(folder), prescriptionsTableName());

    const Outcome imported = runCli({"--source", practice.source + "V4.mdb", "--letters", practice.letters,
                                     "--target", folder, "--target-engine", "sqlite", "--yes"});
    EXPECT_EQ(imported.status, 3) << imported.err.toStdString(); // the second user 2 is refused
    EXPECT_TRUE(imported.out.contains("2 utilisateurs créés"));

    const Outcome again = runCli({"--init-target", folder});
    EXPECT_EQ(again.status, 1);
    EXPECT_TRUE(again.err.contains("contient déjà une base Tessaris")) << again.err.toStdString();
}

// An empty database of the throwaway server, and what makes it a target in a folder.
struct EmptyPostgresDatabase {
    test::TestTarget database = test::makePostgresTarget(false);

    QStringList initArguments(const QString& folder) const { return test::postgresInitArguments(folder, database); }
};

class PostgresInitialisationTest : public CommandLineTest {
protected:
    void SetUp() override
    {
        P1_REQUIRE_POSTGRES();
        CommandLineTest::SetUp();
        qputenv("P1IMPORT_TARGET_PASSWORD", "mot de passe ; « secret » é");
    }
    void TearDown() override { qunsetenv("P1IMPORT_TARGET_PASSWORD"); }
};

TEST_F(PostgresInitialisationTest, AnEmptyDatabaseBecomesATargetTheImportRunsInto)
{
    Practice practice(TargetEngine::Sqlite, content);
    const EmptyPostgresDatabase empty;
    const QString folder = practice.logs + "cible pg/";

    const Outcome created = runCli(empty.initArguments(folder));
    ASSERT_EQ(created.status, 0) << created.err.toStdString();
    EXPECT_EQ(created.out, "Base Tessaris vide créée : tables créées dans la base PostgreSQL « "
                               + empty.database.databaseName + " » du serveur [" + test::postgresDataSource()
                               + "], Kelvanor.ver et EDITOR.INI écrits dans [" + folder + "].\n");
    const auto settings = TargetConnectionSettings::read(folder + "Kelvanor.ver");
    EXPECT_EQ(settings.ServerName, test::postgresDataSource());
    EXPECT_EQ(settings.DatabaseName, empty.database.databaseName);
    EXPECT_EQ(settings.UserName, qEnvironmentVariable("P1_PG_USER"));
    EXPECT_EQ(UnscrambleServerPassword(settings.SAPW), "mot de passe ; « secret » é");
    EXPECT_EQ(ImportRun::FindPrescriptionTable(folder), prescriptionsTableName());

    const Outcome imported = runCli({"--source", practice.source, "--letters", practice.letters, "--target", folder,
                                     "--target-engine", "postgres", "--yes"});
    EXPECT_EQ(imported.status, 3) << imported.err.toStdString(); // the second user 2 is refused
    EXPECT_TRUE(imported.out.contains("2 utilisateurs créés"));
    EXPECT_EQ(test::countRows(*test::connectTo(empty.database), "MEDECINS"), 2);
}

TEST_F(PostgresInitialisationTest, WhatMayHoldAPracticeIsLeftAsItWas)
{
    Practice practice(TargetEngine::Sqlite, content);
    const EmptyPostgresDatabase empty;
    ASSERT_EQ(runCli(empty.initArguments(practice.logs + "premiere/")).status, 0);
    const QString other = practice.logs + "seconde/";

    const Outcome again = runCli(empty.initArguments(other));
    EXPECT_EQ(again.status, 1);
    EXPECT_TRUE(again.err.startsWith("Erreur : La base PostgreSQL « " + empty.database.databaseName + " » du serveur ["
                                     + test::postgresDataSource() + "] n'est pas vide ("))
        << again.err.toStdString();
    EXPECT_FALSE(QFile::exists(other + "Kelvanor.ver"));

    const Outcome sameFolder = runCli(empty.initArguments(practice.logs + "premiere/"));
    EXPECT_EQ(sameFolder.status, 1);
    EXPECT_TRUE(sameFolder.err.contains("contient déjà une base Tessaris")) << sameFolder.err.toStdString();
}

TEST_F(PostgresInitialisationTest, AFailureLeavesTheDatabaseEmptyAndTheFolderWithoutSettings)
{
    Practice practice(TargetEngine::Sqlite, content);
    const EmptyPostgresDatabase empty;
    const QString folder = practice.logs + "cible/";
    QStringList absentDatabase = empty.initArguments(folder);
    absentDatabase[absentDatabase.indexOf("--database") + 1] = "absente";
    ASSERT_TRUE(QDir().mkpath(folder + "EDITOR.INI")); // a folder where the file should go
    const struct {
        QStringList arguments;
        QString message;
    } cases[] = {
        {absentDatabase, "Erreur : Connexion impossible à la base PostgreSQL « absente » du serveur ["},
        {empty.initArguments(folder), "Erreur : Impossible d'écrire le fichier"},
    };
    for (const auto& c : cases) {
        const Outcome outcome = runCli(c.arguments);
        EXPECT_EQ(outcome.status, 1);
        EXPECT_TRUE(outcome.err.startsWith(c.message)) << outcome.err.toStdString();
        EXPECT_FALSE(outcome.err.contains("secret"));
        EXPECT_FALSE(QFile::exists(folder + "Kelvanor.ver"));
    }
    EXPECT_EQ(test::connectTo(empty.database)->tableAndViewNames(), QStringList());
}

// Checked before any connection: no server is needed to refuse them.
TEST_F(CommandLineTest, ServerSettingsKelvanorVerWouldNotGiveBackAreRefusedUnwritten)
{
    Practice practice;
    const QString folder = practice.logs + "cible/";
    const QStringList valid = {"--init-target", folder, "--target-engine", "postgres", "--server", "hote",
                               "--database", "p1", "--user", "moi"};
    const auto with = [&](const QString& option, const QString& value) {
        QStringList arguments = valid;
        arguments[arguments.indexOf(option) + 1] = value;
        return arguments;
    };
    const struct {
        QStringList arguments;
        QByteArray password;
        QString message;
    } cases[] = {
        {with("--database", " p1"), "", "Valeur refusée pour la base : «  p1 » ne serait pas relue telle quelle"},
        {with("--database", "\"p1\""), "", "Valeur refusée pour la base : « \"p1\" »"},
        {with("--user", "moi\nautre"), "", "Valeur refusée pour l'utilisateur : « moi\nautre »"},
        {with("--server", "hôte✓"), "", "Valeur refusée pour le serveur : « hôte✓ »"},
        {with("--server", " "), "", "Valeur vide pour le serveur."},
        {valid, "mot de passe ✓", "Le mot de passe ne peut pas être écrit dans Kelvanor.ver : il contient un "
                                   "caractère hors du jeu Windows-1252."},
    };
    for (const auto& c : cases) {
        qputenv("P1IMPORT_TARGET_PASSWORD", c.password);
        const Outcome outcome = runCli(c.arguments);
        EXPECT_EQ(outcome.status, 1);
        EXPECT_TRUE(outcome.err.startsWith("Erreur : " + c.message)) << outcome.err.toStdString();
        EXPECT_FALSE(QFile::exists(folder + "Kelvanor.ver"));
    }
    qunsetenv("P1IMPORT_TARGET_PASSWORD");
}

} // namespace
} // namespace p1
