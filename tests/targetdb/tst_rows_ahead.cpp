#include "common/errors.h"
#include "targetdb/postgres_batch.h"
#include "targetdb/sqlite_batch.h"
#include "targetdb/target_sql.h"
#include "tests/support/target_databases.h"

#include <QSqlDriver>
#include <QSqlField>
#include <QSqlQuery>

#include <gtest/gtest.h>

using namespace p1;
using namespace p1::test;

namespace {

void sendRowsAhead(TargetConnection& connection)
{
    connection.setCommitMode(CommitMode::Grouped);
    connection.setRowsAhead(true);
    ASSERT_TRUE(connection.sendsRowsAhead());
}

std::unique_ptr<TargetDataset> openTable(TargetConnection& connection, const QString& table)
{
    auto dataset = std::make_unique<TargetDataset>(connection);
    dataset->setCommandText("SELECT * FROM " + table);
    dataset->open();
    return dataset;
}

void storeHistory(TargetDataset& history, int id, const QVariant& text)
{
    history.append();
    history.setValue("ANTECED_ID", id);
    history.setValue("PATIENTS_ID", id % 100);
    history.setValue("ANTECEDENTS_MEDICAUX", text);
    history.setValue("PROFESSION_ACTUELLE", text);
    history.post();
}

// Rows sent ahead of their outcome, in groups, as an import's stages send them.
class RowsAheadTest : public TargetEngineTest {
protected:
    void SetUp() override
    {
        TargetEngineTest::SetUp();
        if (!IsSkipped())
            sendRowsAhead(*connection);
    }
};

INSTANTIATE_TEST_SUITE_P(Engines, RowsAheadTest, testEngines(), engineTestName);

class PostgresRowsAheadTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        P1_REQUIRE_POSTGRES();
        target = makePostgresTarget();
        connection = connectTo(target);
        sendRowsAhead(*connection);
    }

    TestTarget target;
    std::unique_ptr<TargetConnection> connection;
};

// The values go as PostgreSQL literals or SQLite bindings, not as the driver's own parameters:
// each must come back as a statement of its own would have stored it.
TEST_P(RowsAheadTest, StoreEveryValueAsAStatementOfItsOwnWould)
{
    const QVariantList values = {QStringLiteral("O'Brien \\ \"guillemets\" ; -- % ?"),
                                 QStringLiteral("Ligne 1\rLigne 2\r\nLigne 3\tfin"),
                                 QStringLiteral("Œuvre éàç ß 日本 😀"),
                                 QStringLiteral("  blancs  "),
                                 QString(""),
                                 QVariant()};
    auto history = openTable(*connection, "ANTECED");
    for (bool ahead : {true, false}) {
        connection->setRowsAhead(ahead);
        for (int at = 0; at < values.size(); ++at)
            storeHistory(*history, (ahead ? 100 : 200) + at, values[at]);
        // An update by key, ahead or not.
        ASSERT_TRUE(history->locate({"ANTECED_ID"}, {(ahead ? 100 : 200)}));
        history->edit();
        history->setValue("ANTECEDENTS_MEDICAUX", QStringLiteral("modifié ' \\"));
        history->post();
        ASSERT_TRUE(connection->commitGroup());
    }
    const QMap<qint64, TableRow> rows = rowsById(*connection, "ANTECED", "ANTECED_ID");
    ASSERT_EQ(rows.size(), 2 * values.size());
    for (int at = 0; at < values.size(); ++at) {
        for (const char* column : {"ANTECEDENTS_MEDICAUX", "PROFESSION_ACTUELLE", "PATIENTS_ID"}) {
            const TargetField ahead = rows.value(100 + at).value(column);
            const TargetField alone = rows.value(200 + at).value(column);
            EXPECT_EQ(ahead.isNull(), alone.isNull()) << at << column;
            EXPECT_EQ(ahead.asText(), alone.asText()) << at << column;
        }
    }
    EXPECT_EQ(rows.value(100).value("ANTECEDENTS_MEDICAUX").asText(), QStringLiteral("modifié ' \\"));
}

// The literals written without the driver are the driver's own.
TEST_F(PostgresRowsAheadTest, LiteralsAreWrittenAsTheDriverWritesThem)
{
    const QSqlDriver& driver = *connection->database().driver();
    const QVariantList values = {QVariant(qint64(-9007199254740993)), QVariant(42), QVariant(0),
                                 QStringLiteral("O'Brien ''x'' ; -- ? %"), QStringLiteral("anti\\slash'"),
                                 QStringLiteral("Œuvre 日本 😀\r\n\t"), QStringLiteral("  blancs  "), QString(""),
                                 QVariant(QMetaType::fromType<QString>()), QVariant(QMetaType::fromType<qint64>()),
                                 QVariant(QMetaType::fromType<bool>()), QVariant(true), QVariant(2.5),
                                 QVariant(QDateTime(QDate(2024, 2, 29), QTime(13, 5, 7, 250), Qt::UTC)), QVariant()};
    for (const QVariant& value : values) {
        QSqlField field;
        field.setMetaType(value.metaType());
        if (value.isNull())
            field.clear();
        else
            field.setValue(value);
        QByteArray written;
        appendLiteral(written, value, driver);
        EXPECT_EQ(written, driver.formatValue(field).toUtf8()) << value.toString().toStdString();
    }
}

TEST_P(RowsAheadTest, ARefusalIsKnownAtTheNextUseOfTheSessionAndTakesItsGroupBack)
{
    auto history = openTable(*connection, "ANTECED");
    storeHistory(*history, 1, "un");
    storeHistory(*history, 2, "deux");
    EXPECT_NO_THROW(storeHistory(*history, 1, "doublon")); // sent, not answered yet
    EXPECT_THROW(connection->commitGroup(), RowsAheadRefused);
    EXPECT_EQ(countRows(*connection, "ANTECED"), 0);

    // The session goes on: the next group is stored.
    storeHistory(*history, 3, "trois");
    EXPECT_TRUE(connection->commitGroup());
    EXPECT_EQ(countRows(*connection, "ANTECED"), 1);

    // Any other statement settles first; an update that changes no row is a refusal too.
    ASSERT_TRUE(history->locate({"ANTECED_ID"}, {3}));
    TargetStatement(*connection, {"DELETE FROM ANTECED"}).execute();
    ASSERT_TRUE(connection->commitGroup());
    history->edit();
    history->setValue("ANTECEDENTS_MEDICAUX", "parti");
    EXPECT_NO_THROW(history->post());
    EXPECT_THROW(TargetStatement(*connection, {"SELECT * FROM ANTECED"}).open(), RowsAheadRefused);
}

// Rows run one at a time after a refusal: each refused statement is undone alone, in the group,
// whose rows sent ahead and statements stored stay; the next group begins without the last one's
// savepoint.
TEST_P(RowsAheadTest, AGuardedRefusalIsUndoneAloneAndSparesItsGroup)
{
    connection->setGroupMilliseconds(60000);
    auto history = openTable(*connection, "ANTECED");
    storeHistory(*history, 1, "devant");
    connection->setRowsAhead(false);
    connection->setStatementsGuarded(true);
    for (int group = 1; group <= 2; ++group) {
        for (int row = 0; row < 2; ++row) {
            EXPECT_THROW(storeHistory(*history, 1, "doublon"), TargetError) << group;
            history->cancel();
            storeHistory(*history, 10 * group + row, "gardé");
        }
        EXPECT_FALSE(connection->groupDue());
        ASSERT_TRUE(connection->commitGroup());
    }
    EXPECT_EQ(rowsById(*connection, "ANTECED", "ANTECED_ID").keys(), (QList<qint64>{1, 10, 11, 20, 21}));
}

// A refusal runs the group again; a session that is gone must end the run instead.
TEST_F(PostgresRowsAheadTest, ALostSessionEndsTheRunInsteadOfRunningTheGroupAgain)
{
    QSqlQuery pid(connection->database());
    ASSERT_TRUE(pid.exec("SELECT pg_backend_pid()") && pid.next());
    const qint64 session = pid.value(0).toLongLong();
    pid.finish();
    auto history = openTable(*connection, "ANTECED");
    storeHistory(*history, 1, "un");
    {
        auto other = connectTo(target);
        QSqlQuery end(other->database());
        ASSERT_TRUE(end.exec(QStringLiteral("SELECT pg_terminate_backend(%1)").arg(session)));
    }
    // Found out when a request fails, or at the commit at the latest.
    EXPECT_THROW(
        {
            for (int id = 2; id < 600; ++id)
                storeHistory(*history, id, "suite");
            connection->commitGroup();
        },
        TargetUnavailable);
}

// A command sent without waiting has its answer read at the next settle, a failure included; a
// query of the driver's own still being answered keeps the session, and the command is left to
// the caller.
TEST_F(PostgresRowsAheadTest, ACommandSentWithoutWaitingIsAnsweredAtTheNextSettle)
{
    QSqlDatabase session = connection->database();
    ASSERT_TRUE(session.transaction());
    PostgresBatch batch;
    batch.attach(session);
    ASSERT_TRUE(batch.sendWithoutWaiting("SAVEPOINT p1_test; RELEASE SAVEPOINT p1_test"));
    EXPECT_EQ(batch.settle(), std::nullopt);
    ASSERT_TRUE(batch.sendWithoutWaiting("ROLLBACK TO SAVEPOINT p1_nowhere"));
    const std::optional<QSqlError> failure = batch.settle();
    ASSERT_TRUE(failure.has_value());
    EXPECT_EQ(failure->nativeErrorCode(), "3B001");
    session.rollback();

    QSqlQuery rows(session);
    rows.setForwardOnly(true);
    ASSERT_TRUE(rows.exec("SELECT generate_series(1, 100000)") && rows.next());
    const bool sent = batch.sendWithoutWaiting("SELECT 1");
    EXPECT_TRUE(rows.next());
    EXPECT_EQ(rows.value(0).toInt(), 2);
    if (sent) {
        EXPECT_EQ(batch.settle(), std::nullopt);
    }
    batch.detach();
}

// SQLite's rows run on a thread of their own, bound as the driver binds them: each value is
// stored with the driver's type and bytes (a column without a type keeps both).
TEST(SqliteRowsAheadTest, ValuesAreBoundAsTheDriverBindsThem)
{
    const TestTarget target = makeSqliteTarget(false);
    const auto connection = connectTo(target);
    QSqlDatabase database = connection->database();
    QSqlQuery statement(database);
    ASSERT_TRUE(statement.exec("CREATE TABLE valeurs (k INTEGER PRIMARY KEY, v)"));
    const QVariantList values = {
        QVariant(), QVariant(QMetaType::fromType<qint64>()), QVariant(QMetaType::fromType<double>()),
        QVariant(QMetaType::fromType<bool>()), QVariant(QMetaType::fromType<QString>()), QVariant(QString()),
        QString(""), QStringLiteral("O'Brien \\ ; -- ? :v"), QStringLiteral("Œuvre 日本 😀\r\n\t"),
        QString(QChar(u'a')) + QChar(u'\0') + QChar(u'b'), QStringLiteral("  blancs  "), QVariant(42), QVariant(-7u),
        QVariant(qint64(-9007199254740993)), QVariant(Q_UINT64_C(18446744073709551615)), QVariant(true),
        QVariant(false), QVariant(2.5), QVariant(1e-300), QVariant(1.5f),
        QVariant(QDateTime(QDate(2024, 2, 29), QTime(13, 5, 7, 250))),
        QVariant(QDateTime(QDate(2024, 2, 29), QTime(13, 5, 7), Qt::UTC)), QVariant(QDateTime()),
        QVariant(QDate(2024, 2, 29)), QVariant(QDate()), QVariant(QTime(8, 30)), QVariant(QByteArray("a\0b", 3)),
        QVariant(QByteArray()), QVariant(QByteArray(""))};
    ASSERT_TRUE(statement.prepare("INSERT INTO valeurs (k, v) VALUES (?, ?)"));
    for (int at = 0; at < values.size(); ++at) {
        statement.addBindValue(at);
        statement.addBindValue(values[at]);
        ASSERT_TRUE(statement.exec()) << at;
    }
    statement.finish();
    SqliteBatch batch;
    batch.attach(database);
    ASSERT_TRUE(batch.isAttached());
    for (int at = 0; at < values.size(); ++at)
        batch.add("INSERT INTO valeurs (k, v) VALUES (?, ?)", {1000 + at, values[at]}, false);
    EXPECT_EQ(batch.settle(), std::nullopt);
    batch.detach();

    ASSERT_TRUE(statement.exec("SELECT a.k, typeof(a.v), quote(a.v), typeof(b.v), quote(b.v) "
                               "FROM valeurs a JOIN valeurs b ON b.k = a.k + 1000"));
    int compared = 0;
    for (; statement.next(); ++compared) {
        for (int column : {1, 2})
            EXPECT_EQ(statement.value(column + 2).toString().toStdString(),
                      statement.value(column).toString().toStdString())
                << "valeur " << statement.value(0).toInt();
    }
    EXPECT_EQ(compared, values.size());
}

// The batch's statements are finalised when it lets go of the connection: else the connection
// could not close.
TEST(SqliteRowsAheadTest, TheConnectionClosesOnceTheBatchLetsGo)
{
    const TestTarget target = makeSqliteTarget(false);
    const auto connection = connectTo(target);
    QSqlDatabase database = connection->database();
    ASSERT_TRUE(QSqlQuery(database).exec("CREATE TABLE valeurs (k INTEGER PRIMARY KEY, v)"));
    {
        SqliteBatch batch;
        batch.attach(database);
        batch.add("INSERT INTO valeurs (k, v) VALUES (?, ?)", {1, "un"}, false);
        batch.add("UPDATE valeurs SET v = ? WHERE k = ?", {"deux", 2}, true);
        batch.add("INSERT INTO valeurs (k, v) VALUES (?, ?)", {3, "trois"}, false);
        const std::optional<QSqlError> refusal = batch.settle();
        ASSERT_TRUE(refusal.has_value()); // no row 2: nothing after it runs
        EXPECT_EQ(failureCodeKind(TargetEngine::Sqlite, refusal->nativeErrorCode()), FailureCode::Row);
    }
    EXPECT_EQ(countRows(*connection, "valeurs"), 1);
    database.close();
    EXPECT_EQ(database.lastError().type(), QSqlError::NoError) << database.lastError().text().toStdString();
}

} // namespace
