#include "common/date_time.h"
#include "common/errors.h"
#include "targetdb/target_sql.h"
#include "tests/support/target_databases.h"

#include <gtest/gtest.h>

#include <QElapsedTimer>

using namespace p1;
using namespace p1::test;

// The production engine reaches SQL Server through ODBC. No SQL Server runs here, but the same
// code path runs against the SQLite ODBC driver, and FreeTDS can at least be refused.
namespace {

QString connectionStringTo(const QString& dataSource, const QString& catalog, const QString& password)
{
    return "Provider=SQLOLEDB.1;Integrated Security=SSPI;Persist Security Info=False;Data Source="
           + dataSource + ";Initial Catalog=" + catalog + ";User ID=sa;Password=" + password + ";";
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
        connection = std::make_unique<TargetConnection>(TargetEngine::SqlServer);
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
    search.setCommandText("SELECT * FROM MOTCONSU WHERE PATIENTS_ID=:patients_id AND DATE_CONSULTATION=:date_consultation");
    search.setParameter("patients_id", 5);
    search.setParameter("date_consultation", day);
    search.open();
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

} // namespace
