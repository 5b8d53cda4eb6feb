#include "common/date_time.h"
#include "common/errors.h"
#include "targetdb/target_sql.h"
#include "tests/support/target_databases.h"

#include <gtest/gtest.h>

#include <QElapsedTimer>

using namespace p1;
using namespace p1::test;

// The production engine reaches SQL Server through ODBC. No SQL Server runs here, but the same
// code path runs against the SQLite ODBC driver, and FreeTDS can at least be refused. The whole
// runs through ODBC are in the run tests (their ODBC configurations).
namespace {

QString connectionStringTo(const QString& dataSource, const QString& catalog, const QString& password)
{
    return "Provider=SQLOLEDB.1;Integrated Security=SSPI;Persist Security Info=False;Data Source="
           + dataSource + ";Initial Catalog=" + catalog + ";User ID=sa;Password=" + password + ";";
}

// The patient's consultations at that date-time, searched by parameters as the stages search them.
void openConsultationsOf(TargetDataset& search, qint64 patient, const QDateTime& when)
{
    search.setCommandText("SELECT * FROM MOTCONSU WHERE PATIENTS_ID=:patients_id AND DATE_CONSULTATION=:date_consultation");
    search.setParameter("patients_id", patient);
    search.setParameter("date_consultation", when);
    search.open();
}

TEST(FreeTdsTarget, ARefusedConnectionIsAClearErrorWithoutThePassword)
{
    ensureQtApplication();
    TargetConnection connection(TargetEngine::SqlServer);
    connection.setConnectionString(connectionStringTo("127.0.0.1,1", "Cabinet", "Pa55;word!"));
    QElapsedTimer timer;
    timer.start();
    try {
        connection.open();
        FAIL() << "connected to a closed port";
    } catch (const TargetError& error) {
        EXPECT_FALSE(error.message().trimmed().isEmpty());
        EXPECT_FALSE(error.message().contains("Pa55")) << error.what();
    }
    EXPECT_FALSE(connection.isOpen());
    EXPECT_LT(timer.elapsed(), 30'000); // the login timeout, not the system's TCP patience
}

class SqliteOdbcTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        target = makeSqliteTarget();
        connection = std::make_unique<TargetConnection>(TargetEngine::Sqlite);
        connection->setOdbcDriver("SQLite3");
        connection->setConnectionString(
            connectionStringTo("localhost", target.folder + target.databaseName, "odbcpw"));
        connection->open();
    }

    TestTarget target;
    std::unique_ptr<TargetConnection> connection;
};

TEST_F(SqliteOdbcTest, BindsNamedParameters)
{
    TargetStatement insert(*connection, {"INSERT INTO ID_VALUES values (:chaine, 0)"});
    insert.setParameter("chaine", "MOTCONSU");
    insert.execute();
    TargetStatement update(*connection, {"UPDATE ID_VALUES SET LAST_VALUE = :last_value WHERE KEY_NAME = :key_name"});
    update.setParameter("key_name", "MOTCONSU");
    update.setParameter("last_value", 103);
    update.execute();
    TargetStatement read(*connection, {"SELECT LAST_VALUE FROM ID_VALUES WHERE KEY_NAME=:chaine OR KEY_NAME=:chaine"});
    read.setParameter("chaine", "MOTCONSU");
    read.open();
    ASSERT_EQ(read.recordCount(), 1);
    EXPECT_EQ(read.field("LAST_VALUE").asInteger(), 103);
}

TEST_F(SqliteOdbcTest, StoresAndLocatesDatasetRows)
{
    TargetDataset patients(*connection);
    patients.setCommandText("SELECT * FROM PATIENTS");
    patients.open();
    patients.append();
    patients.setValue("PATIENTS_ID", 5);
    patients.setValue("NOM", "Durand");
    patients.setValue("PRENOM", QString());
    patients.post();
    EXPECT_TRUE(patients.locate({"PATIENTS_ID"}, {"5"}));
    patients.edit();
    patients.setValue("VILLE", "Lyon");
    patients.post();

    const QList<TableRow> rows = readTable(*connection, "PATIENTS");
    ASSERT_EQ(rows.size(), 1);
    EXPECT_EQ(rows[0]["NOM"].asText(), "Durand");
    EXPECT_FALSE(rows[0]["PRENOM"].isNull());
    EXPECT_EQ(rows[0]["VILLE"].asText(), "Lyon");
    EXPECT_EQ(rows[0]["PAYS"].asText(), "FRANCE");
}

TEST_F(SqliteOdbcTest, OpensADatasetOnADateTimeParameter)
{
    const QDateTime day = wallClock(QDate(2026, 3, 5));
    TargetDataset consultations(*connection);
    consultations.setCommandText("SELECT * FROM MOTCONSU");
    consultations.open();
    for (const auto& [id, date] : {std::pair{1, day}, std::pair{2, day.addSecs(37800)}}) {
        consultations.append();
        consultations.setValue("MOTCONSU_ID", id);
        consultations.setValue("PATIENTS_ID", 5);
        consultations.setValue("DATE_CONSULTATION", date);
        consultations.post();
    }

    TargetDataset search(*connection);
    openConsultationsOf(search, 5, day);
    ASSERT_EQ(search.recordCount(), 1);
    EXPECT_EQ(search.field("MOTCONSU_ID").asInteger(), 1);
}

TEST_F(SqliteOdbcTest, ListsTablesAndReportsTheEnginesErrors)
{
    const QStringList names = connection->tableAndViewNames();
    EXPECT_TRUE(names.contains("PATIENTS", Qt::CaseInsensitive));
    EXPECT_TRUE(names.contains("ID_VALUES", Qt::CaseInsensitive));
    TargetStatement statement(*connection, {"DELETE FROM NO_SUCH_TABLE"});
    try {
        statement.execute();
        FAIL() << "deleted from a missing table";
    } catch (const TargetError& error) {
        EXPECT_TRUE(error.message().contains("no such table", Qt::CaseInsensitive)) << error.what();
        EXPECT_FALSE(error.message().contains("odbcpw")) << error.what();
    }
}

// The SQL Server unit reads from the catalogue which date-time columns keep 1/300 s; an engine
// that cannot answer (here SQLite, which has no catalogue views, posing as SQL Server) ends the
// run with the reason instead of letting the datasets compare date-times as they were given.
TEST(SqlServerCatalogue, ACatalogueThatCannotBeReadStopsTheDatasetWithTheReason)
{
    const TestTarget target = makeSqliteTarget();
    TargetConnection connection(TargetEngine::SqlServer);
    connection.setOdbcDriver("SQLite3");
    connection.setConnectionString(connectionStringTo("localhost", target.folder + target.databaseName, "odbcpw"));
    connection.open();
    TargetDataset consultations(connection);
    consultations.setCommandText("SELECT * FROM MOTCONSU");
    try {
        consultations.open();
        FAIL() << "opened without the catalogue";
    } catch (const TargetUnavailable& error) {
        EXPECT_TRUE(error.message().startsWith("Le catalogue de la base Tessaris ne dit pas comment la table MOTCONSU"))
            << error.what();
        EXPECT_TRUE(error.message().contains("INFORMATION_SCHEMA", Qt::CaseInsensitive)) << error.what();
        EXPECT_FALSE(error.message().contains("odbcpw")) << error.what();
    }
}

// What Qt's ODBC driver does differently from the engines' own drivers, each put right by the
// engine's unit: a failure classed by the SQLSTATE the ODBC driver recorded (psqlODBC gives every
// error the native number 1), booleans read as booleans, a refused statement undoing itself alone
// inside a group, long texts, Unicode and date-times stored and found again as given.
class OdbcDifferencesTest : public TargetEngineTest {};

TEST_P(OdbcDifferencesTest, ARefusedRowAndAFailedTargetAreToldApartThroughTheDriver)
{
    TargetStatement insert(*connection, {"INSERT INTO ID_VALUES values (:chaine, 0)"});
    insert.setParameter("chaine", "MOTCONSU");
    insert.execute();
    TargetStatement duplicate(*connection, {"INSERT INTO PATMEDTR (PATMEDTR_ID) VALUES (1)"});
    duplicate.execute();
    try {
        duplicate.execute();
        FAIL() << "stored a key twice";
    } catch (const TargetUnavailable& error) {
        FAIL() << "a refused row taken for a failed target: " << error.what();
    } catch (const TargetError&) {
    }
    EXPECT_TRUE(connection->isOpen());

    TargetStatement readOnly(*connection, {GetParam() == TargetEngine::Sqlite
                                               ? "PRAGMA query_only = ON"
                                               : "SET default_transaction_read_only TO on"});
    readOnly.execute();
    TargetStatement write(*connection, {"UPDATE ID_VALUES SET LAST_VALUE = 3"});
    EXPECT_THROW(write.execute(), TargetUnavailable);
}

TEST_P(OdbcDifferencesTest, ValuesComeBackAsStored)
{
    const QString longText = QString(9000, u'x') + QStringLiteral("œ € ’\rfin");
    const QDateTime when = wallClock(QDate(2026, 3, 5), QTime(10, 30, 15, 250));
    TargetDataset physicians(*connection);
    physicians.setCommandText("SELECT * FROM MEDECINS");
    physicians.open();
    physicians.append();
    physicians.setValue("MEDECINS_ID", 7);
    physicians.setValue("NOM", QStringLiteral("Lœuvre’s €"));
    physicians.setValue("ACCESSTOSV", true);
    physicians.setValue("DATE_EUROSTART", when);
    physicians.post();
    TargetDataset consultations(*connection);
    consultations.setCommandText("SELECT * FROM MOTCONSU");
    consultations.open();
    consultations.append();
    consultations.setValue("MOTCONSU_ID", 1);
    consultations.setValue("PATIENTS_ID", 5);
    consultations.setValue("DATE_CONSULTATION", when);
    consultations.setValue("MOTIF_DE_CONSULTATION", longText);
    consultations.post();

    const QList<TableRow> stored = readTable(*connection, "MEDECINS");
    ASSERT_EQ(stored.size(), 1);
    EXPECT_EQ(stored[0]["NOM"].asText(), QStringLiteral("Lœuvre’s €"));
    EXPECT_TRUE(stored[0]["ACCESSTOSV"].asBoolean());
    EXPECT_FALSE(stored[0]["N_USE_PLAN"].asBoolean());
    EXPECT_EQ(stored[0]["DATE_EUROSTART"].asDateTime(), when);

    TargetDataset search(*connection);
    openConsultationsOf(search, 5, when);
    ASSERT_EQ(search.recordCount(), 1);
    EXPECT_EQ(search.field("MOTIF_DE_CONSULTATION").asText(), longText);
    EXPECT_TRUE(search.locate({"PATIENTS_ID", "DATE_CONSULTATION"}, {5, when}));

    TargetDataset again(*connection);
    again.setCommandText("SELECT * FROM MEDECINS");
    again.open();
    EXPECT_TRUE(again.locate({"ACCESSTOSV"}, {true}));
}

TEST_P(OdbcDifferencesTest, ARefusedStatementInAGroupUndoesItselfAlone)
{
    connection->setCommitMode(CommitMode::Grouped);
    TargetStatement first(*connection, {"INSERT INTO PATMEDTR (PATMEDTR_ID) VALUES (1)"});
    first.execute();
    EXPECT_THROW(first.execute(), TargetError);
    TargetStatement second(*connection, {"INSERT INTO PATMEDTR (PATMEDTR_ID) VALUES (2)"});
    second.execute();
    EXPECT_TRUE(connection->commitGroup());
    connection->setCommitMode(CommitMode::EachRow);
    EXPECT_EQ(countRows(*connection, "PATMEDTR"), 2);
}

INSTANTIATE_TEST_SUITE_P(Drivers, OdbcDifferencesTest, ::testing::Values(sqliteThroughOdbc(), postgresThroughOdbc()),
                         engineTestName);

} // namespace
