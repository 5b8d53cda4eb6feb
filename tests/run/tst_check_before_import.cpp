// A check runs the import itself on the target and writes nothing: its log and its report are
// those of the run that follows, and the target's files and rows are as they were before it.

#include "common/files.h"
#include "tests/cli/command_line_runner.h"
#include "tests/run/run_fixture.h"
#include "tests/support/log_lines.h"
#include "tools/sample_practice/sample_practice.h"

#include <QCryptographicHash>
#include <QDirIterator>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QSqlQuery>

#include <functional>

#include <gtest/gtest.h>

namespace p1 {
namespace {

using test::CommandLineOutcome;

QByteArray sha256(const QByteArray& bytes)
{
    return QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex();
}

// Every file under the target's folder by its bytes: the SQLite database and its -wal file, the
// letter store, a claim file.
QMap<QString, QByteArray> filesUnder(const QString& folder)
{
    QMap<QString, QByteArray> files;
    QDirIterator found(folder, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (found.hasNext()) {
        QFile file(found.next());
        EXPECT_TRUE(file.open(QIODevice::ReadOnly)) << file.fileName().toStdString();
        files.insert(QDir(folder).relativeFilePath(file.fileName()), sha256(file.readAll()));
    }
    return files;
}

// Every table's rows, in no particular order.
QMap<QString, QByteArray> rowsOfEveryTable(const test::TestTarget& target)
{
    const std::unique_ptr<TargetConnection> connection = test::connectTo(target);
    QMap<QString, QByteArray> tables;
    for (const QString& table : connection->tableAndViewNames()) {
        QStringList rows;
        for (const test::TableRow& row : test::readTable(*connection, table)) {
            QStringList values;
            for (auto value = row.begin(); value != row.end(); ++value)
                values.append(value.key() + '=' + (value->isNull() ? "<null>" : value->asText()));
            rows.append(values.join('\x1f'));
        }
        rows.sort();
        tables.insert(table.toUpper(), sha256(rows.join('\x1e').toUtf8()));
    }
    return tables;
}

// The files first: reading the rows opens the database, which leaves its -wal file behind for a while.
std::pair<QMap<QString, QByteArray>, QMap<QString, QByteArray>> stateOf(const test::TestTarget& target)
{
    QMap<QString, QByteArray> files = filesUnder(target.folder);
    return {files, rowsOfEveryTable(target)};
}

QJsonObject readJson(const QString& path)
{
    QFile file(path);
    EXPECT_TRUE(file.open(QIODevice::ReadOnly)) << path.toStdString();
    return QJsonDocument::fromJson(file.readAll()).object();
}

// The stages' counts without their durations.
QJsonArray countsOf(const QJsonObject& report)
{
    QJsonArray stages;
    for (const QJsonValue& stage : report["etapes"].toArray()) {
        QJsonObject counts = stage.toObject();
        counts.remove("secondes");
        stages.append(counts);
    }
    return stages;
}

// The letter store a check would move aside is the one the run moves, a second or so later.
QStringList printedLines(const CommandLineOutcome& outcome)
{
    static const QRegularExpression storeSetAside(QStringLiteral(R"(\] (serait|a été) déplacé en \[.*\.avant .*\]\.$)"));
    QStringList lines = test::comparableLog(outcome.out.split('\n', Qt::SkipEmptyParts));
    for (QString& line : lines)
        line.replace(storeSetAside, QStringLiteral("] <déplacé> [LETTERS.avant <date>]."));
    return lines;
}

class CheckBeforeImportTest : public test::RunOnEngineTest {
protected:
    void SetUp() override
    {
        RunOnEngineTest::SetUp();
        if (HasFatalFailure() || IsSkipped())
            return;
        QDir(folder.path()).mkpath("logs");
        qputenv("P1IMPORT_LOG_FOLDER", logs.toUtf8());
        practice = writeSamplePractice(folder.filePath("source"), {.patients = 40, .lettersPerPatient = 1});
        target = test::makeTarget(GetParam());
        test::writeTargetSettings(target);
    }
    void TearDown() override { qunsetenv("P1IMPORT_LOG_FOLDER"); }

    CommandLineOutcome import(const QStringList& options, const QString& report)
    {
        return test::runCommandLineWith(
            QStringList{"--source", practice.v4Path, "--letters", practice.lettersFolder, "--target",
                        target.folder + "Kelvanor.ver", "--target-engine",
                        GetParam() == TargetEngine::Sqlite ? "sqlite" : "postgres", "--report", report, "--yes"}
            + options);
    }

    QStringList filesInLogs(const QString& pattern) const { return QDir(logs).entryList({pattern}, QDir::Files); }

    QTemporaryDir folder;
    QString logs = folder.filePath("logs") + '/';
    SamplePractice practice;
    test::TestTarget target;
};

TEST_P(CheckBeforeImportTest, PredictsExactlyWhatTheFollowingRunDoesAndChangesNothing)
{
    const struct {
        const char* name;
        QStringList options;
    } cases[] = {{"purged", {}}, {"not purged", {"--no-purge"}}, {"purged again", {}}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        if (c.options.contains("--no-purge")) {
            ASSERT_EQ(import({}, logs + "earlier.json").status, 3); // a practice already there
        }
        for (const QString& log : filesInLogs("*"))
            QFile::remove(logs + log);
        const auto before = stateOf(target);

        const CommandLineOutcome check = import(QStringList{"--check"} + c.options, logs + "check.json");
        EXPECT_EQ(stateOf(target), before);
        EXPECT_TRUE(filesInLogs("*.log").isEmpty());
        EXPECT_EQ(filesInLogs("P1Import - Vérification *.html").size(), 1);

        const CommandLineOutcome run = import(c.options, logs + "run.json");
        EXPECT_NE(stateOf(target), before); // the comparison can tell a change
        // The practice names letter files that are missing on purpose.
        EXPECT_EQ(check.status, 3) << check.err.toStdString();
        EXPECT_EQ(run.status, 3) << run.err.toStdString();

        const QStringList checkLines = printedLines(check);
        const QStringList runLines = printedLines(run);
        ASSERT_FALSE(runLines.isEmpty());
        EXPECT_EQ(runLines.last(), "Traitement terminé. Durée : <durée>");
        EXPECT_EQ(checkLines.last(), "Vérification terminée, rien n'a été écrit. Durée : <durée>");
        EXPECT_EQ(checkLines.mid(0, runLines.size() - 1), runLines.mid(0, runLines.size() - 1));
        // The letters of an earlier import, their store moved aside, take no name of this one's.
        const bool storeSetAside = std::string(c.name) == "purged again";
        EXPECT_EQ(runLines.filter("Le dossier des courriers [").size(), storeSetAside ? 1 : 0);
        EXPECT_EQ(runLines.filter(" : échec d'importation du courrier n°").size(), 0);

        const QJsonObject checked = readJson(logs + "check.json");
        const QJsonObject ran = readJson(logs + "run.json");
        EXPECT_TRUE(checked["verification"].toBool());
        EXPECT_EQ(countsOf(checked), countsOf(ran));
        EXPECT_EQ(checked["refus"], ran["refus"]);
        EXPECT_GT(checked["courriers"]["fichiers_manquants"].toInt(), 0);
        for (const char* section : {"tables", "compteurs", "courriers"})
            EXPECT_EQ(checked[section], ran[section]) << section;

        const QJsonArray present = checked["constats"]["identifiants_presents"].toArray();
        EXPECT_EQ(present.isEmpty(), !c.options.contains("--no-purge"));
        EXPECT_GE(ran["refus"].toArray().size(), present.size());
        for (const QJsonValue& identifier : present) {
            const auto refusedRowOf = [&](const QJsonValue& refusal) {
                return refusal["etape"] == identifier["etape"] && refusal["code_source"] == identifier["code_source"];
            };
            const QJsonArray refusals = ran["refus"].toArray();
            EXPECT_TRUE(std::any_of(refusals.begin(), refusals.end(), refusedRowOf))
                << identifier["code_source"].toString().toStdString();
        }
    }
}

class CheckFindingsTest : public test::RunOnEngineTest {};

// What no count of the stages says: a text too long for its column, the prescriptions table missing.
TEST_P(CheckFindingsTest, NamesWhatTheRunWouldMeetBeyondTheRefusedRows)
{
    const QString longName(60, u'N');
    const QByteArray defaultIni = "[DataBases]\r\nDATAPRESCR=Prescriptions\r\n";
    const struct {
        const char* name;
        QList<test::SourceUser> users;
        QByteArray editorIni;
        int status;
        QString printed; // among the check's lines
    } cases[] = {
        {"nothing refused", {{1, "Martin"}}, defaultIni, 0, "1 utilisateur créé"},
        {"a name too long", {{1, "Martin"}, {7, longName}}, defaultIni, 3,
         "Étape medecins, code source 7 : valeur de 60 caractères pour la colonne MEDECINS.NOM, qui en admet 50."},
        {"no prescriptions table named", {{1, "Martin"}}, "[DataBases]\r\nDOCUMENTS=Courriers\r\n", 3,
         "Impossible de trouver la table des prescriptions ! EDITOR.INI, à côté de Kelvanor.ver, n'en nomme "
         "aucune dans sa section [DataBases]."},
        {"a prescriptions table the target lacks", {{1, "Martin"}}, "[DataBases]\r\nORDONNANCES=Prescriptions\r\n", 3,
         "La table des prescriptions ORDONNANCES, nommée par EDITOR.INI, n'existe pas dans la base Tessaris."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        test::Practice small(GetParam(), test::SourceContent{c.users});
        test::writeTargetSettings(small.target, c.editorIni);
        const auto before = stateOf(small.target);
        const CommandLineOutcome check = test::runCommandLineWith(
            {"--source", small.source, "--letters", small.letters, "--target", small.target.folder,
             "--target-engine", GetParam() == TargetEngine::Sqlite ? "sqlite" : "postgres", "--check",
             "--report", small.logs + "check.json"});
        EXPECT_EQ(check.status, c.status) << check.out.toStdString() << check.err.toStdString();
        EXPECT_TRUE(check.out.split('\n').contains(c.printed)) << check.out.toStdString();
        EXPECT_EQ(stateOf(small.target), before);

        const QJsonObject report = readJson(small.logs + "check.json");
        const QJsonObject findings = report["constats"].toObject();
        // The schema's own check refuses the text, as SQL Server would.
        EXPECT_EQ(findings["valeurs_trop_longues"].toArray().size(), c.users.size() - 1);
        EXPECT_EQ(report["refus"].toArray().size(), c.users.size() - 1);
        EXPECT_EQ(findings["table_prescriptions"].isNull(), c.editorIni == defaultIni);
    }
}

class CheckOfASqliteTargetTest : public CheckBeforeImportTest {
protected:
    QString database() const { return target.folder + target.databaseName; }

    void execute(const QString& statement)
    {
        auto connection = test::connectTo(target);
        QSqlQuery query(connection->database());
        ASSERT_TRUE(query.exec(statement)) << query.lastError().text().toStdString();
    }

    // The database and its log as a crash of the program that wrote them left them: committed
    // rows that are still in the log only.
    void leaveRowsInTheLog()
    {
        auto writer = test::connectTo(target);
        QSqlQuery query(writer->database());
        ASSERT_TRUE(query.exec("PRAGMA journal_mode=WAL"));
        ASSERT_TRUE(query.exec("INSERT INTO MEDECINS (MEDECINS_ID, NOM) VALUES (900, 'Laissé')"));
        const QByteArray file = readBytes(database());
        const QByteArray log = readBytes(database() + "-wal");
        ASSERT_FALSE(log.isEmpty());
        writer->close();
        test::writeTextFile(database(), file);
        test::writeTextFile(database() + "-wal", log);
    }

    static QByteArray readBytes(const QString& path)
    {
        QFile file(path);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }

    // SQLite's index of the log in shared memory, which every program that reads the database
    // rewrites, aside.
    QMap<QString, QByteArray> targetFiles() const
    {
        QMap<QString, QByteArray> files = filesUnder(target.folder);
        files.remove(target.databaseName + "-shm");
        return files;
    }
};

// Whatever journal the database keeps, and whatever an earlier program left in it.
TEST_P(CheckOfASqliteTargetTest, ChangesNoByteOfTheDatabaseNorOfItsLog)
{
    const struct {
        const char* name;
        std::function<void()> prepare;
        bool logLeft;
    } cases[] = {
        {"a rollback journal", [&] { execute("PRAGMA journal_mode=DELETE"); }, false},
        {"rows left in the log by a crash", [&] { leaveRowsInTheLog(); }, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        c.prepare();
        const QMap<QString, QByteArray> before = targetFiles();
        ASSERT_EQ(before.contains(target.databaseName + "-wal"), c.logLeft);

        const CommandLineOutcome check = import({"--check"}, logs + "check.json");

        EXPECT_EQ(check.status, 3) << check.err.toStdString();
        EXPECT_EQ(targetFiles(), before);
    }
    auto connection = test::connectTo(target);
    EXPECT_EQ(test::countRows(*connection, "MEDECINS"), 1);
}

INSTANTIATE_TEST_SUITE_P(Engines, CheckBeforeImportTest, test::testEngines(), test::engineTestName);
INSTANTIATE_TEST_SUITE_P(Engines, CheckOfASqliteTargetTest, ::testing::Values(TargetEngine::Sqlite),
                         test::engineTestName);
INSTANTIATE_TEST_SUITE_P(Engines, CheckFindingsTest, test::testEngines(), test::engineTestName);

} // namespace
} // namespace p1
