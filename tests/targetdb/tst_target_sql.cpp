#include "common/errors.h"
#include "targetdb/target_sql.h"
#include "targetdb/target_values.h"
#include "tests/support/qt_printers.h"
#include "tests/support/target_databases.h"

#include <gtest/gtest.h>

#include <functional>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMap>
#include <QSqlQuery>

using namespace p1;
using namespace p1::test;

namespace {

const QString systemPrefix =
    "Provider=SQLOLEDB.1;Integrated Security=SSPI;Persist Security Info=False;";

struct ParseCase {
    const char* name;
    QString connectionString;
    ConnectionStringParts expected;
};

class ConnectionStringTest : public ::testing::TestWithParam<ParseCase> {};

TEST_P(ConnectionStringTest, GivesItsParts)
{
    const ConnectionStringParts parts = parseConnectionString(GetParam().connectionString);
    EXPECT_EQ(parts.dataSource, GetParam().expected.dataSource);
    EXPECT_EQ(parts.initialCatalog, GetParam().expected.initialCatalog);
    EXPECT_EQ(parts.userId, GetParam().expected.userId);
    EXPECT_EQ(parts.password, GetParam().expected.password);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ConnectionStringTest,
    ::testing::Values(
        ParseCase{"System", systemPrefix + "Data Source=SRV\\SQL;Initial Catalog=Cabinet;User ID=sa;Password=pw;",
                  {"SRV\\SQL", "Cabinet", "sa", "pw"}},
        ParseCase{"EmptyPassword", systemPrefix + "Data Source=h;Initial Catalog=c;User ID=sa;Password=;",
                  {"h", "c", "sa", ""}},
        ParseCase{"PasswordWithSeparators", systemPrefix + "Data Source=h;Initial Catalog=c;User ID=u;Password=a;b=c;",
                  {"h", "c", "u", "a;b=c"}},
        ParseCase{"UnscrambleFailure", systemPrefix + "Data Source=h;Initial Catalog=c;User ID=u;Password=_;",
                  {"h", "c", "u", "_"}},
        ParseCase{"PasswordWithAKeyWord", systemPrefix + "Data Source=h;Initial Catalog=c;User ID=u;Password=x;data source;",
                  {"h", "c", "u", "x;data source"}},
        ParseCase{"PasswordNotLast", "Password=x;y;Data Source=h;Initial Catalog=c",
                  {"h", "c", "", "x;y"}},
        ParseCase{"KeysInAnyCase", "data source = h,1500 ;INITIAL CATALOG=c;user id=u;password=p",
                  {"h,1500", "c", "u", "p"}},
        ParseCase{"QuotedPasswordAddsNoKey",
                  systemPrefix + "Data Source=srv;Initial Catalog=c;User ID=u;Password=\";Data Source=evil;\";",
                  {"srv", "c", "u", ";Data Source=evil;"}},
        ParseCase{"QuotedValuesKeepTheirQuotesAndBlanks",
                  systemPrefix + "Data Source=\"a;b\"\"c\";Initial Catalog=\" d \";User ID=u;Password=\"\"\"\";",
                  {"a;b\"c", " d ", "u", "\""}}),
    [](const auto& info) { return std::string(info.param.name); });

struct OdbcCase {
    const char* name;
    ConnectionStringParts parts;
    QString expected;
};

class OdbcConnectionStringTest : public ::testing::TestWithParam<OdbcCase> {};

TEST_P(OdbcConnectionStringTest, IsTheFreeTdsForm)
{
    EXPECT_EQ(odbcConnectionString(GetParam().parts), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    DataSources, OdbcConnectionStringTest,
    ::testing::Values(
        OdbcCase{"Host", {"srv", "Cabinet", "sa", "pw"},
                 "DRIVER={FreeTDS};SERVER=srv;PORT=1433;DATABASE=Cabinet;UID=sa;PWD=pw;TDS_Version=7.4"},
        OdbcCase{"HostAndPort", {"10.0.0.5,1500", "Cabinet", "sa", "pw"},
                 "DRIVER={FreeTDS};SERVER=10.0.0.5;PORT=1500;DATABASE=Cabinet;UID=sa;PWD=pw;TDS_Version=7.4"},
        OdbcCase{"NamedInstance", {"srv\\SQLEXPRESS", "Cabinet", "sa", "pw"},
                 "DRIVER={FreeTDS};SERVER=srv\\SQLEXPRESS;DATABASE=Cabinet;UID=sa;PWD=pw;TDS_Version=7.4"},
        OdbcCase{"BracedValues", {"srv", "Cab;inet", "sa", "p}w;x"},
                 "DRIVER={FreeTDS};SERVER=srv;PORT=1433;DATABASE={Cab;inet};UID=sa;PWD={p}}w;x};TDS_Version=7.4"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(TargetEngineNames, AreTheCommandLineWords)
{
    EXPECT_EQ(targetEngineFromName("sqlserver"), TargetEngine::SqlServer);
    EXPECT_EQ(targetEngineFromName("SQLite"), TargetEngine::Sqlite);
    EXPECT_EQ(targetEngineFromName(" postgres "), TargetEngine::Postgres);
    EXPECT_EQ(targetEngineFromName("mysql"), std::nullopt);
    EXPECT_EQ(targetEngineFromName(""), std::nullopt);
}

TEST(TargetEngineNames, TheEnvironmentChoosesTheDefault)
{
    const QByteArray saved = qgetenv("P1IMPORT_TARGET_ENGINE");
    qputenv("P1IMPORT_TARGET_ENGINE", "sqlite");
    EXPECT_EQ(defaultTargetEngine(), TargetEngine::Sqlite);
    qputenv("P1IMPORT_TARGET_ENGINE", "nonsense");
    EXPECT_EQ(defaultTargetEngine(), TargetEngine::SqlServer);
    qunsetenv("P1IMPORT_TARGET_ENGINE");
    EXPECT_EQ(defaultTargetEngine(), TargetEngine::SqlServer);
    if (!saved.isNull())
        qputenv("P1IMPORT_TARGET_ENGINE", saved);
}

TEST(EngineMessages, ThePasswordIsMaskedInEveryFormADriverCouldEchoIt)
{
    const struct {
        const char* message;
        const char* password;
        const char* expected;
    } cases[] = {
        {"login failed for DRIVER={FreeTDS};PWD=s3cret;UID=sa", "s3cret", "login failed for DRIVER={FreeTDS};PWD=****;UID=sa"},
        {"bad PWD={ab}}c;d};UID=sa", "ab}c;d", "bad PWD=****;UID=sa"},
        {"Server=h;password=xyz12;UID=sa", "xyz12", "Server=h;password=****;UID=sa"},
        {"database s3cret does not exist", "s3cret", "database **** does not exist"},
        {"user {ab}}cd} unknown", "ab}cd", "user {****} unknown"},
        {"no such table: ID_VALUES", "_", "no such table: ID_VALUES"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(withoutPassword(c.message, c.password), QString::fromUtf8(c.expected)) << c.message;
}

// Codes the engines here cannot be brought to give in a test (a full disk, an I/O error, a lost
// SQL Server link), and the extended SQLite codes, which keep their primary code in the low byte.
TEST(FailureCodes, TellAFailedTargetFromARefusedRow)
{
    const struct {
        TargetEngine engine;
        const char* code;
        FailureCode kind;
    } cases[] = {
        {TargetEngine::Sqlite, "13", FailureCode::Target},   // SQLITE_FULL
        {TargetEngine::Sqlite, "778", FailureCode::Target},  // SQLITE_IOERR_WRITE
        {TargetEngine::Sqlite, "1032", FailureCode::Target}, // SQLITE_READONLY_DBMOVED
        {TargetEngine::Sqlite, "19", FailureCode::Row},      // SQLITE_CONSTRAINT
        {TargetEngine::Sqlite, "2067", FailureCode::Row},    // SQLITE_CONSTRAINT_UNIQUE
        {TargetEngine::Sqlite, "1", FailureCode::Row},       // no such table
        {TargetEngine::Postgres, "53100", FailureCode::Target}, // disk full
        {TargetEngine::Postgres, "08006", FailureCode::Target},
        {TargetEngine::Postgres, "57014", FailureCode::Target}, // statement timeout
        {TargetEngine::Postgres, "58030", FailureCode::Target}, // I/O error
        {TargetEngine::Postgres, "23505", FailureCode::Row},
        {TargetEngine::Postgres, "22001", FailureCode::Row}, // value too long
        {TargetEngine::Postgres, "", FailureCode::Unknown},
        {TargetEngine::SqlServer, "08S01", FailureCode::Target},
        {TargetEngine::SqlServer, "HYT00", FailureCode::Target},
        {TargetEngine::SqlServer, "1222", FailureCode::Target}, // lock request timeout
        {TargetEngine::SqlServer, "9002", FailureCode::Target}, // log full
        {TargetEngine::SqlServer, "2627", FailureCode::Unknown},
    };
    for (const auto& c : cases)
        EXPECT_EQ(failureCodeKind(c.engine, c.code), c.kind) << int(c.engine) << ' ' << c.code;
}

TEST(SqliteTarget, AMissingDatabaseFileIsAnErrorWithoutThePasswordAndIsNotCreated)
{
    const TestTarget target = makeSqliteTarget(false);
    TargetConnection connection(TargetEngine::Sqlite);
    connection.setBaseFolder(target.folder);
    connection.setConnectionString(systemPrefix
                                   + "Data Source=h;Initial Catalog=s3cret.db;User ID=sa;Password=s3cret;");
    try {
        connection.open();
        FAIL() << "opened a missing database";
    } catch (const TargetError& error) {
        EXPECT_TRUE(error.message().contains("n'existe pas")) << error.what();
        EXPECT_FALSE(error.message().contains("s3cret")) << error.what();
    }
    EXPECT_FALSE(QFileInfo::exists(target.folder + "s3cret.db"));
    EXPECT_FALSE(connection.isOpen());
}

TEST(SqliteTarget, OnlyAFileHoldingADatabaseIsOpenedAndNoOtherFileIsWritten)
{
    const TestTarget target = makeSqliteTarget(false);
    struct Case {
        const char* name;
        std::function<void(const QString&)> make;
        QString message; // %1: the file
    };
    const auto writeFile = [](const QByteArray& content) {
        return [content](const QString& path) {
            QFile file(path);
            ASSERT_TRUE(file.open(QIODevice::WriteOnly));
            file.write(content);
        };
    };
    const QString notADatabase = "DatabaseName désigne le fichier [%1], qui n'est pas une base de données SQLite.";
    const QList<Case> cases = {
        {"vide", writeFile({}), notADatabase},
        {"texte", writeFile("[DBKERNEL]\r\nDatabaseName=x\r\n"), notADatabase},
        {"binaire", writeFile(QByteArray(5000, '\xff')), notADatabase},
        {"dossier", [](const QString& path) { ASSERT_TRUE(QDir().mkpath(path)); },
         "DatabaseName désigne le dossier [%1], pas une base de données SQLite."},
        {"absent", [](const QString&) {}, "La base de données %1 n'existe pas."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const QString path = target.folder + c.name + ".db";
        c.make(path);
        const qint64 size = QFileInfo(path).size();
        TargetConnection connection(TargetEngine::Sqlite);
        connection.setBaseFolder(target.folder);
        connection.setConnectionString(systemPrefix + "Data Source=h;Initial Catalog=" + c.name
                                       + ".db;User ID=sa;Password=;");
        try {
            connection.open();
            ADD_FAILURE() << "opened";
        } catch (const TargetError& error) {
            EXPECT_EQ(error.message(), c.message.arg(path));
        }
        EXPECT_FALSE(connection.isOpen());
        EXPECT_EQ(QFileInfo(path).size(), size);
        EXPECT_FALSE(QFileInfo::exists(path + "-wal"));
    }
}

TEST(SqliteTarget, StoresDoNotWaitForADiskSync)
{
    const TestTarget target = makeSqliteTarget(false);
    auto connection = connectTo(target);
    QSqlQuery pragma(connection->database());
    ASSERT_TRUE(pragma.exec("PRAGMA journal_mode"));
    ASSERT_TRUE(pragma.next());
    EXPECT_EQ(pragma.value(0).toString(), "wal");
    ASSERT_TRUE(pragma.exec("PRAGMA synchronous"));
    ASSERT_TRUE(pragma.next());
    EXPECT_EQ(pragma.value(0).toInt(), 1); // NORMAL
}

TEST(SqliteTarget, EachConnectionHasItsOwnQtConnectionRemovedAtTheEnd)
{
    const TestTarget target = makeSqliteTarget();
    const QStringList before = QSqlDatabase::connectionNames();
    {
        auto first = connectTo(target);
        auto second = connectTo(target);
        TargetStatement insert(*first, {"INSERT INTO ID_VALUES values (:chaine, 0)"});
        insert.setParameter("chaine", "PATIENTS");
        insert.execute();
        second->close();
        EXPECT_TRUE(first->isOpen());
        EXPECT_EQ(countRows(*second, "ID_VALUES"), 1);
        EXPECT_GT(QSqlDatabase::connectionNames().size(), before.size());
    }
    EXPECT_EQ(QSqlDatabase::connectionNames(), before);
}

TEST(PostgresTarget, StoresDoNotWaitForTheLogFlush)
{
    P1_REQUIRE_POSTGRES();
    const TestTarget target = makePostgresTarget(false);
    auto connection = connectTo(target);
    connection->close();
    QSqlQuery setting(connection->database()); // reopened: the setting is made at every opening
    ASSERT_TRUE(setting.exec("SHOW synchronous_commit"));
    ASSERT_TRUE(setting.next());
    EXPECT_EQ(setting.value(0).toString(), "off");
}

// A program that vanished mid-run (network cut, machine gone) leaves a session holding its locks
// until the server ends it: the server is told to probe the client and to end a transaction left
// idle, on this session. A socket connection ignores the probes, yet takes them.
TEST(PostgresTarget, TheServerEndsASessionWhoseProgramIsGone)
{
    P1_REQUIRE_POSTGRES();
    const TestTarget target = makePostgresTarget(false);
    auto connection = connectTo(target);
    QSqlQuery setting(connection->database());
    ASSERT_TRUE(setting.exec("SELECT name, setting FROM pg_settings WHERE source = 'session' ORDER BY name"));
    QMap<QString, QString> settings;
    while (setting.next())
        settings.insert(setting.value(0).toString(), setting.value(1).toString());
    EXPECT_EQ(settings.value("idle_in_transaction_session_timeout"), "600000");
    EXPECT_EQ(settings.value("client_connection_check_interval"), "10000");
    for (const char* probe : {"tcp_keepalives_idle", "tcp_keepalives_interval", "tcp_keepalives_count",
                              "tcp_user_timeout"})
        EXPECT_TRUE(settings.contains(probe)) << probe;
}

// The test server trusts its users: the password is not checked, so the connection opens unless a
// value of the connection options was read as options of its own.
TEST(PostgresTarget, AValueOfTheConnectionOptionsAddsNoOption)
{
    P1_REQUIRE_POSTGRES();
    const TestTarget target = makePostgresTarget(false);
    const ConnectionStringParts parts = parseConnectionString(target.connectionString);
    for (const QString& password : {QStringLiteral("x' host=nowhere.invalid port=1 '"),
                                    QStringLiteral("x\\' dbname=absente")}) {
        TargetConnection connection(TargetEngine::Postgres);
        connection.setConnectionString(systemPrefix + "Data Source=" + parts.dataSource + ";Initial Catalog="
                                       + parts.initialCatalog + ";User ID=" + parts.userId + ";Password=\""
                                       + QString(password).replace("\"", "\"\"") + "\";");
        EXPECT_NO_THROW(connection.open()) << password.toStdString();
        EXPECT_TRUE(connection.isOpen());
    }
}

TEST(PostgresTarget, ThePasswordNeverAppearsInAConnectionError)
{
    P1_REQUIRE_POSTGRES();
    ensureQtApplication();
    // The server repeats the database name in its refusal: name it after the password.
    TargetConnection connection(TargetEngine::Postgres);
    connection.setConnectionString(
        systemPrefix + "Data Source=" + qEnvironmentVariable("P1_PG_HOST") + ':'
        + qEnvironmentVariable("P1_PG_PORT") + ";Initial Catalog=hunter2db;User ID="
        + qEnvironmentVariable("P1_PG_USER") + ";Password=hunter2db;");
    try {
        connection.open();
        FAIL() << "opened a missing database";
    } catch (const TargetError& error) {
        EXPECT_TRUE(error.message().contains("does not exist")) << error.what();
        EXPECT_FALSE(error.message().contains("hunter2db")) << error.what();
    }
}

class TargetStatementTest : public TargetEngineTest {};

TEST_P(TargetStatementTest, RunsTheCounterStatementsWithNamedParameters)
{
    TargetStatement insert(*connection, {"INSERT INTO ID_VALUES values (:chaine, 0)"});
    insert.setParameter("chaine", "LETTERS");
    insert.execute();
    insert.execute(); // the counters table takes a key twice
    TargetStatement update(*connection, {"UPDATE ID_VALUES SET LAST_VALUE = :last_value WHERE KEY_NAME = :key_name"});
    update.setParameter("last_value", 57);
    update.setParameter("key_name", "LETTERS");
    update.execute();

    TargetStatement read(*connection, {"SELECT LAST_VALUE FROM ID_VALUES WHERE KEY_NAME=:chaine"});
    read.setParameter("chaine", "LETTERS");
    read.open();
    EXPECT_EQ(read.recordCount(), 2);
    EXPECT_FALSE(read.eof());
    EXPECT_EQ(read.field("last_value").asInteger(), 57);
    read.next();
    read.next();
    EXPECT_TRUE(read.eof());
    read.setParameter("chaine", "PATIENTS");
    read.open();
    EXPECT_EQ(read.recordCount(), 0);
    EXPECT_TRUE(read.eof());
}

TEST_P(TargetStatementTest, ARepeatedParameterTakesItsValueEverywhere)
{
    TargetStatement insert(*connection, {"INSERT INTO ID_VALUES values (:k, :v)"});
    for (const auto& [key, value] : {std::pair{"A", 1}, {"B", 2}, {"C", 3}}) {
        insert.setParameter("k", key);
        insert.setParameter("v", value);
        insert.execute();
    }
    TargetStatement read(*connection, {"SELECT KEY_NAME FROM ID_VALUES",
                                       "WHERE (KEY_NAME = :k OR LAST_VALUE = :n) AND KEY_NAME <> :k_2",
                                       "   OR (LAST_VALUE = :n AND KEY_NAME = :k)"});
    read.setParameter("k", "A");
    read.setParameter("n", 2);
    read.setParameter("k_2", "C");
    read.open();
    QStringList keys;
    for (; !read.eof(); read.next())
        keys.append(read.field("KEY_NAME").asText());
    keys.sort();
    EXPECT_EQ(keys, QStringList({"A", "B"}));
}

TEST_P(TargetStatementTest, AnUnsetParameterIsAnErrorAndNamesIgnoreCase)
{
    TargetStatement update(*connection, {"UPDATE ID_VALUES SET LAST_VALUE = :last_value WHERE KEY_NAME = :key_name"});
    update.setParameter("LAST_VALUE", 5);
    try {
        update.execute();
        FAIL() << "ran with :key_name unset";
    } catch (const TargetError& error) {
        EXPECT_TRUE(error.message().startsWith("Le paramètre :key_name de la requête")) << error.what();
    }
    update.setParameter("Key_Name", QVariant()); // a NULL set on purpose is a value
    EXPECT_NO_THROW(update.execute());
}

TEST_P(TargetStatementTest, AFailingStatementGivesTheEnginesText)
{
    TargetStatement statement(*connection, {"DELETE FROM NO_SUCH_TABLE"});
    try {
        statement.execute();
        FAIL() << "deleted from a missing table";
    } catch (const TargetError& error) {
        EXPECT_TRUE(error.message().contains("no_such_table", Qt::CaseInsensitive)) << error.what();
    }
    statement.sql() = QStringList{"DELETE FROM PATIENTS"};
    EXPECT_NO_THROW(statement.execute());
}

TEST_P(TargetStatementTest, ListsTheTablesAndViewsWithoutSystemTables)
{
    TargetStatement view(*connection, {"CREATE VIEW DATA_VIEW AS SELECT * FROM PATIENTS"});
    view.execute();
    QStringList names = connection->tableAndViewNames();
    for (QString& name : names)
        name = name.toUpper();
    for (const char* table : {"PATIENTS", "ID_VALUES", "DATA_PRESCR_BLANKS", "MEDECINS", "DATA_VIEW"})
        EXPECT_TRUE(names.contains(table)) << table;
    for (const QString& name : names) {
        EXPECT_FALSE(name.startsWith("SQLITE_")) << name.toStdString();
        EXPECT_FALSE(name.startsWith("PG_")) << name.toStdString();
    }
    EXPECT_EQ(names.size(), 38); // the 37 tables of the schema and the view
}

TEST_P(TargetStatementTest, MakeDurablePutsEveryCommitOnTheDisk)
{
    TargetStatement insert(*connection, {"INSERT INTO ID_VALUES values (:chaine, 0)"});
    insert.setParameter("chaine", "PATIENTS");
    insert.execute();
    if (GetParam() == TargetEngine::Postgres) {
        QSqlQuery log(connection->database());
        ASSERT_TRUE(log.exec("SELECT pg_current_wal_insert_lsn()::text"));
        ASSERT_TRUE(log.next());
        const QString written = log.value(0).toString();
        connection->makeDurable();
        ASSERT_TRUE(log.exec("SELECT pg_current_wal_flush_lsn() >= '" + written + "'::pg_lsn"));
        ASSERT_TRUE(log.next());
        EXPECT_TRUE(log.value(0).toBool());
        return;
    }
    connection->makeDurable();
    // The database file alone, as a crash that lost the unsynced log would leave it.
    const QString alone = target.folder + "seul.db";
    ASSERT_TRUE(QFile::copy(target.folder + target.databaseName, alone));
    TargetConnection copy(TargetEngine::Sqlite);
    copy.setBaseFolder(target.folder);
    copy.setConnectionString(systemPrefix + "Data Source=h;Initial Catalog=seul.db;User ID=sa;Password=;");
    copy.open();
    EXPECT_EQ(countRows(copy, "ID_VALUES"), 1);
}

INSTANTIATE_TEST_SUITE_P(Engines, TargetStatementTest, testEngines(), engineTestName);

} // namespace

namespace {
QStringList warningsSeen;
void keepWarning(QtMsgType type, const QMessageLogContext&, const QString& message)
{
    if (type == QtWarningMsg)
        warningsSeen.append(message);
}
} // namespace

// A statement and a dataset prepared on a session, closed after it: the server frees what they
// prepared while the session is open, and no warning reaches the operator's terminal.
TEST(PostgresTarget, StatementsPreparedOnASessionAreFreedBeforeItCloses)
{
    P1_REQUIRE_POSTGRES();
    const TestTarget target = makePostgresTarget(true);
    auto connection = connectTo(target);
    warningsSeen.clear();
    const QtMessageHandler previous = qInstallMessageHandler(keepWarning);
    {
        TargetStatement read(*connection, {"SELECT LAST_VALUE FROM ID_VALUES WHERE KEY_NAME=:chaine"});
        TargetDataset physicians(*connection);
        physicians.setCommandText("SELECT * FROM MEDECINS");
        for (int round = 0; round < 2; ++round) {
            read.setParameter("chaine", "MEDECINS");
            read.open();
            read.close();
            physicians.open();
            physicians.append();
            physicians.setValue("MEDECINS_ID", 10 + round);
            physicians.post();
            physicians.close();
            connection->close();
        }
    }
    qInstallMessageHandler(previous);
    EXPECT_EQ(warningsSeen, QStringList());
    EXPECT_EQ(countRows(*connection, "MEDECINS"), 2);
}
