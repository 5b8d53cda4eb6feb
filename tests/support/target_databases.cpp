#include "tests/support/target_databases.h"

#include "targetdb/target_schema.h"

#include <QCoreApplication>
#include <QFile>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QUuid>

#include <stdexcept>

namespace p1::test {

namespace {

const QString sqliteFileName = QStringLiteral("Tessaris.db");

QString systemConnectionString(const QString& dataSource, const QString& catalog,
                               const QString& user)
{
    return QStringLiteral("Provider=SQLOLEDB.1;Integrated Security=SSPI;Persist Security Info=False;"
                          "Data Source=%1;Initial Catalog=%2;User ID=%3;Password=;")
        .arg(dataSource, catalog, user);
}

std::shared_ptr<QTemporaryDir> temporaryFolder()
{
    auto folder = std::make_shared<QTemporaryDir>();
    if (!folder->isValid())
        throw std::runtime_error("dossier temporaire impossible à créer");
    return folder;
}

void createPostgresDatabase(const QString& name)
{
    const QString connectionName = "p1test-admin-" + name;
    {
        QSqlDatabase admin = QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), connectionName);
        admin.setHostName(qEnvironmentVariable("P1_PG_HOST"));
        admin.setPort(qEnvironmentVariableIntValue("P1_PG_PORT"));
        admin.setUserName(qEnvironmentVariable("P1_PG_USER"));
        admin.setDatabaseName(QStringLiteral("postgres"));
        if (!admin.open())
            throw std::runtime_error(admin.lastError().text().toStdString());
        QSqlQuery create(admin);
        if (!create.exec("CREATE DATABASE " + name))
            throw std::runtime_error(create.lastError().text().toStdString());
    }
    QSqlDatabase::removeDatabase(connectionName);
}

void addSchema(const TestTarget& target)
{
    const auto connection = connectTo(target);
    createTargetSchema(*connection);
}

} // namespace

void ensureQtApplication()
{
    static int argc = 1;
    static char name[] = "p1import-tests";
    static char* argv[] = {name, nullptr};
    if (!QCoreApplication::instance())
        new QCoreApplication(argc, argv);
}

bool postgresAvailable()
{
    return !qEnvironmentVariable("P1_PG_HOST").isEmpty();
}

QString postgresDataSource()
{
    return qEnvironmentVariable("P1_PG_HOST") + ':' + qEnvironmentVariable("P1_PG_PORT", "5432");
}

bool runningUnderCi()
{
    return qEnvironmentVariable("CI") == "true";
}

TestTarget makeSqliteTarget(bool withSchema)
{
    ensureQtApplication();
    TestTarget target;
    target.engine = TargetEngine::Sqlite;
    target.temporaryFolder = temporaryFolder();
    target.folder = target.temporaryFolder->path() + '/';
    target.databaseName = sqliteFileName;
    createSqliteDatabase(target.folder + sqliteFileName);
    target.connectionString = systemConnectionString("localhost", sqliteFileName, "sa");
    if (withSchema)
        addSchema(target);
    return target;
}

TestTarget makePostgresTarget(bool withSchema)
{
    if (!postgresAvailable())
        throw std::runtime_error("P1_PG_HOST manquant : lancer le test sous scripts/with-postgres.sh");
    ensureQtApplication();
    TestTarget target;
    target.engine = TargetEngine::Postgres;
    target.temporaryFolder = temporaryFolder();
    target.folder = target.temporaryFolder->path() + '/';
    target.databaseName = "p1_" + QUuid::createUuid().toString(QUuid::Id128);
    createPostgresDatabase(target.databaseName);
    target.connectionString =
        systemConnectionString(postgresDataSource(), target.databaseName, qEnvironmentVariable("P1_PG_USER"));
    if (withSchema)
        addSchema(target);
    return target;
}

TargetConfiguration postgresThroughOdbc()
{
    return {TargetEngine::Postgres, "PostgreSQL Unicode"};
}

TargetConfiguration sqliteThroughOdbc()
{
    return {TargetEngine::Sqlite, "SQLite3"};
}

// The schema is made through the configured driver too: its statements are the engine's.
TestTarget makeTarget(const TargetConfiguration& configuration, bool withSchema)
{
    TestTarget target;
    switch (configuration.engine) {
    case TargetEngine::Sqlite:
        target = makeSqliteTarget(false);
        break;
    case TargetEngine::Postgres:
        target = makePostgresTarget(false);
        break;
    case TargetEngine::SqlServer:
        throw std::runtime_error("pas de serveur SQL Server pour les tests");
    }
    target.odbcDriver = QString::fromUtf8(configuration.odbcDriver);
    if (withSchema)
        addSchema(target);
    return target;
}

std::unique_ptr<TargetConnection> connectTo(const TestTarget& target)
{
    ensureQtApplication();
    auto connection = std::make_unique<TargetConnection>(target.engine);
    connection->setOdbcDriver(target.odbcDriver);
    connection->setBaseFolder(target.folder);
    connection->setConnectionString(target.connectionString);
    connection->open();
    if (!target.odbcDriver.isEmpty() && connection->database().driverName() != QStringLiteral("QODBC"))
        throw std::runtime_error("la cible n'est pas jointe par ODBC");
    return connection;
}

QList<TableRow> readTable(TargetConnection& connection, const QString& table, const QString& orderBy)
{
    TargetDataset dataset(connection);
    dataset.setCommandText("SELECT * FROM " + table + (orderBy.isEmpty() ? "" : " ORDER BY " + orderBy));
    dataset.open();
    QList<TableRow> rows;
    for (dataset.first(); !dataset.eof(); dataset.next()) {
        TableRow row;
        for (const QString& name : dataset.fieldNames())
            row.insert(name.toUpper(), dataset.field(name));
        rows.append(row);
    }
    return rows;
}

int countRows(TargetConnection& connection, const QString& table)
{
    TargetStatement count(connection, {"SELECT COUNT(*) AS ROW_COUNT FROM " + table});
    count.open();
    return int(count.field("ROW_COUNT").asInteger());
}

void TargetEngineTest::SetUp()
{
    if (GetParam() == TargetEngine::Postgres)
        P1_REQUIRE_POSTGRES();
    target = makeTarget(GetParam());
    connection = connectTo(target);
}

::testing::internal::ParamGenerator<TargetConfiguration> testEngines()
{
    return ::testing::Values(TargetConfiguration(TargetEngine::Sqlite), TargetConfiguration(TargetEngine::Postgres));
}

::testing::internal::ParamGenerator<TargetConfiguration> testEnginesWithOdbc()
{
    return ::testing::Values(TargetConfiguration(TargetEngine::Sqlite), TargetConfiguration(TargetEngine::Postgres),
                             sqliteThroughOdbc(), postgresThroughOdbc());
}

std::string engineTestName(const ::testing::TestParamInfo<TargetConfiguration>& info)
{
    const std::string engine = info.param.engine == TargetEngine::Postgres ? "Postgres" : "Sqlite";
    return *info.param.odbcDriver ? engine + "Odbc" : engine;
}

QMap<qint64, TableRow> rowsById(TargetConnection& connection, const QString& table, const QString& idColumn)
{
    QMap<qint64, TableRow> rows;
    for (const TableRow& row : readTable(connection, table))
        rows.insert(row[idColumn].asInteger(), row);
    return rows;
}

void writeTextFile(const QString& path, const QByteArray& content)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        throw std::runtime_error("cannot write " + path.toStdString());
    file.write(content);
}

void writeTargetSettings(const TestTarget& target, const QByteArray& editorIni)
{
    const ConnectionStringParts parts = parseConnectionString(target.connectionString);
    writeTextFile(target.folder + "Kelvanor.ver",
                  "[DBKERNEL]\r\nServerName=" + parts.dataSource.toUtf8() + "\r\nDatabaseName="
                      + parts.initialCatalog.toUtf8() + "\r\nUserName=" + parts.userId.toUtf8() + "\r\n");
    writeTextFile(target.folder + "EDITOR.INI", editorIni);
}

void refuseInserts(TargetConnection& target, const QString& table, const QString& condition)
{
    const QString name = "refuse_" + table.toLower();
    QStringList statements;
    if (target.engine() == TargetEngine::Postgres) {
        statements << "CREATE FUNCTION " + name + "() RETURNS trigger AS $$ BEGIN IF " + condition
                          + " THEN RAISE EXCEPTION 'ligne refusée par la base'; END IF; RETURN NEW; END $$ "
                            "LANGUAGE plpgsql"
                   << "CREATE TRIGGER " + name + " BEFORE INSERT ON " + table + " FOR EACH ROW EXECUTE FUNCTION "
                          + name + "()";
    } else {
        statements << "CREATE TRIGGER " + name + " BEFORE INSERT ON " + table + " WHEN " + condition
                          + " BEGIN SELECT RAISE(ABORT, 'ligne refusée par la base'); END";
    }
    for (const QString& statement : statements) {
        TargetStatement create(target, {statement});
        create.execute();
    }
}

} // namespace p1::test

namespace p1 {

void test::PrintTo(const TargetConfiguration& configuration, std::ostream* out)
{
    p1::PrintTo(configuration.engine, out);
    if (*configuration.odbcDriver)
        *out << " odbc " << configuration.odbcDriver;
}

void PrintTo(TargetEngine engine, std::ostream* out)
{
    switch (engine) {
    case TargetEngine::SqlServer:
        *out << "sqlserver";
        break;
    case TargetEngine::Sqlite:
        *out << "sqlite";
        break;
    case TargetEngine::Postgres:
        *out << "postgres";
        break;
    }
}

} // namespace p1
