#pragma once

#include "targetdb/target_sql.h"

#include <gtest/gtest.h>

#include <QList>
#include <QMap>
#include <QString>
#include <QTemporaryDir>

#include <memory>
#include <ostream>
#include <string>
#include <vector>

namespace p1::test {

// An engine as a test reaches it: through the engine's own Qt driver, or through Qt's ODBC driver
// and the named ODBC driver, as production reaches SQL Server. Converts to and from the engine,
// so that a test that cares only for the engine's SQL asks for it as before.
struct TargetConfiguration {
    TargetConfiguration(TargetEngine engine = TargetEngine::Sqlite, const char* odbcDriver = "")
        : engine(engine), odbcDriver(odbcDriver)
    {
    }
    operator TargetEngine() const { return engine; }

    TargetEngine engine;
    const char* odbcDriver;
};

// The ODBC configurations: psqlODBC against the throwaway server, the SQLite ODBC driver against
// SQLite files (odbcinst.ini's names of Debian's odbc-postgresql and libsqliteodbc).
TargetConfiguration postgresThroughOdbc();
TargetConfiguration sqliteThroughOdbc();

// A fresh target database for one test. The folder is the target base folder (the SQLite file
// lives there); it is a temporary folder, removed with the last copy of the TestTarget.
// A PostgreSQL database is created on the throwaway server of scripts/with-postgres.sh and left
// there: the server goes away with the script.
struct TestTarget {
    TargetEngine engine = TargetEngine::Sqlite;
    QString odbcDriver;       // empty: the engine's own Qt driver
    QString folder;           // ends with "/"
    QString connectionString; // the system's own form: "Provider=SQLOLEDB.1;...;Password=;"
    QString databaseName;     // SQLite: the file name inside folder; PostgreSQL: the database
    std::shared_ptr<QTemporaryDir> temporaryFolder;
};

// The Qt SQL drivers are plugins and need an application object; makes a QCoreApplication when
// the test program has none yet (create your QApplication before, if a test needs widgets).
void ensureQtApplication();

bool postgresAvailable(); // P1_PG_HOST is set
// The throwaway server as a Data Source (ServerName) names it: "socket folder:port".
QString postgresDataSource();
bool runningUnderCi();    // CI=true

TestTarget makeSqliteTarget(bool withSchema = true);
// Throws std::runtime_error without P1_PG_HOST: use P1_REQUIRE_POSTGRES() (or TargetEngineTest)
// so that the test is skipped, or fails under CI.
TestTarget makePostgresTarget(bool withSchema = true);
TestTarget makeTarget(const TargetConfiguration& configuration, bool withSchema = true);

// An open connection to the test target, with the base folder set, reaching it as configured.
std::unique_ptr<TargetConnection> connectTo(const TestTarget& target);

// A whole table read back for assertions: one map per row, keyed by the column name in upper
// case (PostgreSQL gives lower-case names), in the order given (the engine's order when empty).
using TableRow = QMap<QString, TargetField>;
QList<TableRow> readTable(TargetConnection& connection, const QString& table,
                          const QString& orderBy = {});
int countRows(TargetConnection& connection, const QString& table);
// The rows of a table by their integer identifier column.
QMap<qint64, TableRow> rowsById(TargetConnection& connection, const QString& table, const QString& idColumn);

// Makes the target itself refuse, for its data, every row inserted into the table for which the
// condition holds (a condition on NEW, such as "NEW.PATIENTS_ID = 7"), as a practice database's
// own trigger would: SQLite answers SQLITE_CONSTRAINT, PostgreSQL an exception of its own.
void refuseInserts(TargetConnection& target, const QString& table, const QString& condition);

// Writes the bytes to the file, replacing it; throws when it cannot.
void writeTextFile(const QString& path, const QByteArray& content);
// The target's own settings files beside its database, as a practice's target holds them:
// Kelvanor.ver naming the server, the database and the user, and EDITOR.INI.
void writeTargetSettings(const TestTarget& target,
                         const QByteArray& editorIni = "[DataBases]\r\nDATAPRESCR=Prescriptions\r\n");

// Runs the same test bodies on each engine that can run here:
//   class MyTest : public p1::test::TargetEngineTest {};
//   TEST_P(MyTest, Something) { ... target, *connection ... }
//   INSTANTIATE_TEST_SUITE_P(Engines, MyTest, p1::test::testEngines(), p1::test::engineTestName);
// Each test gets a fresh target with the schema; PostgreSQL tests skip without a server (fail
// under CI).
class TargetEngineTest : public ::testing::TestWithParam<TargetConfiguration> {
protected:
    void SetUp() override;

    TestTarget target;
    std::unique_ptr<TargetConnection> connection;
};

::testing::internal::ParamGenerator<TargetConfiguration> testEngines();
// The same, and each engine through its ODBC driver.
::testing::internal::ParamGenerator<TargetConfiguration> testEnginesWithOdbc();
std::string engineTestName(const ::testing::TestParamInfo<TargetConfiguration>& info);

} // namespace p1::test

namespace p1 {
// Lets GoogleTest name the engine of a parameterised test ("sqlite", "postgres").
void PrintTo(TargetEngine engine, std::ostream* out);
namespace test {
void PrintTo(const TargetConfiguration& configuration, std::ostream* out);
}
} // namespace p1

// In a test body or SetUp: skips the test when no PostgreSQL server is at hand, or fails it
// when the run is a CI run (CI=true).
#define P1_REQUIRE_POSTGRES()                                                                  \
    do {                                                                                       \
        if (!::p1::test::postgresAvailable()) {                                                \
            if (::p1::test::runningUnderCi())                                                  \
                FAIL() << "P1_PG_HOST manquant : lancer le test sous scripts/with-postgres.sh"; \
            GTEST_SKIP() << "pas de serveur PostgreSQL (P1_PG_HOST)";                           \
        }                                                                                      \
    } while (false)
