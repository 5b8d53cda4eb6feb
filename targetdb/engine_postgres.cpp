#include "targetdb/engine_units.h"

#include "targetdb/postgres_batch.h"

#include <QSqlQuery>

namespace p1 {

namespace {

// A silent server (cable pulled, machine gone) is found out within about a minute.
const QStringList clientSideProbes = {
    QStringLiteral("keepalives=1"), QStringLiteral("keepalives_idle=30"), QStringLiteral("keepalives_interval=10"),
    QStringLiteral("keepalives_count=3"), QStringLiteral("tcp_user_timeout=60000")};
const QStringList serverSideProbes = {
    QStringLiteral("tcp_keepalives_idle TO 30"), QStringLiteral("tcp_keepalives_interval TO 10"),
    QStringLiteral("tcp_keepalives_count TO 3"), QStringLiteral("tcp_user_timeout TO 60000"),
    QStringLiteral("client_connection_check_interval TO '10s'")};

// The same number for every run of this program, so that two runs meet on it.
const QString advisoryClaim = QStringLiteral("SELECT pg_try_advisory_lock(7106341520)");
// A transaction that has written holds the lock of its own transaction number until it ends.
const QString otherWriters = QStringLiteral(
    "SELECT a.pid FROM pg_locks l JOIN pg_stat_activity a ON a.pid = l.pid "
    "WHERE l.locktype = 'transactionid' AND l.mode = 'ExclusiveLock' AND l.granted "
    "AND a.datname = current_database() AND a.backend_type = 'client backend' "
    "AND a.pid <> pg_backend_pid() AND a.pid <> %1 ORDER BY a.pid LIMIT 1");

struct HostAndPort {
    QString host;
    QString port;
};

// "host", "host:port", "host,port", or a socket folder (optionally followed by ":port").
HostAndPort splitHostAndPort(const QString& dataSource)
{
    const qsizetype separator = std::max(dataSource.lastIndexOf(u':'), dataSource.lastIndexOf(u','));
    if (separator > 0) {
        bool numeric = false;
        dataSource.mid(separator + 1).toUInt(&numeric);
        if (numeric)
            return {dataSource.left(separator).trimmed(), dataSource.mid(separator + 1).trimmed()};
    }
    return {dataSource.trimmed(), {}};
}

// A program gone without a word (network cut, machine off) would leave its session open, with its
// transaction, its locks and the run's claim: the server probes the client as the client probes
// it, and checks it while a statement runs.
void probeClientFromServer(QSqlDatabase& session)
{
    QSqlQuery setting(session);
    for (const QString& probe : serverSideProbes)
        setting.exec(QStringLiteral("SET ") + probe);
}

// SQLSTATE classes 08 (connection), 53 (resources: disk full, memory), 57 (operator intervention:
// shutdown, statement cancelled by its timeout), 58 (system: I/O), and a lock not obtained in
// time, a read-only server, corrupted data. Through ODBC the SQLSTATE comes before the driver's
// own number, which tells nothing.
FailureCode postgresFailureKind(const QString& code)
{
    static const QStringList targetClasses = {"08", "53", "57", "58"};
    static const QStringList targetStates = {"55P03", "25006", "XX001", "XX002"};
    const QStringList parts = codeParts(code);
    if (parts.isEmpty() || parts.first().size() != 5)
        return FailureCode::Unknown;
    const QString& state = parts.first();
    if (targetClasses.contains(state.left(2)) || targetStates.contains(state))
        return FailureCode::Target;
    return FailureCode::Row;
}

class PostgresUnit final : public TargetEngineUnit {
public:
    explicit PostgresUnit(const QString& odbcDriver) : TargetEngineUnit(odbcDriver) {}

    TargetEngine engine() const override { return TargetEngine::Postgres; }
    QString commandLineName() const override { return QStringLiteral("postgres"); }

    QSqlDatabase addDatabase(const QString& connectionName, const ConnectionStringParts& parts,
                             const QString&) const override
    {
        const HostAndPort server = splitHostAndPort(parts.dataSource);
        const QStringList libpqOptions =
            QStringList{QStringLiteral("connect_timeout=%1").arg(loginTimeoutSeconds)} + clientSideProbes;
        if (throughOdbc())
            return addOdbcDatabase(connectionName, odbcConnectionString(parts, server, libpqOptions));
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), connectionName);
        db.setHostName(server.host);
        if (!server.port.isEmpty())
            db.setPort(server.port.toInt());
        db.setDatabaseName(parts.initialCatalog);
        db.setUserName(parts.userId);
        db.setPassword(parts.password);
        db.setConnectOptions(libpqOptions.join(u';'));
        return db;
    }

    // The same choice as SQLite's, for this session only: a commit does not wait for its log
    // record to reach the disk (the server writes it within a fraction of a second); a crash of
    // the server can lose the last rows stored, never corrupt the database; makeCommittedDurable()
    // waits. Waits are bounded as SQLite's are: a lock held elsewhere or a statement that never
    // ends fails with a code that ends the run.
    void tuneSession(QSqlDatabase& session) const override
    {
        QSqlQuery setting(session);
        setting.exec(QStringLiteral("SET synchronous_commit TO off"));
        setting.exec(QStringLiteral("SET lock_timeout TO '%1s'").arg(lockWaitSeconds));
        setting.exec(QStringLiteral("SET statement_timeout TO '%1min'").arg(statementTimeoutMinutes));
        probeClientFromServer(session);
        // Nor does a transaction left idle outlive the longest statement: its program is gone.
        setting.exec(QStringLiteral("SET idle_in_transaction_session_timeout TO '%1min'").arg(statementTimeoutMinutes));
    }

    void tuneSideSession(QSqlDatabase& session) const override { probeClientFromServer(session); }

    // PostgreSQL qualifies the names of schemas other than public.
    bool isEngineTable(const QString& name) const override { return name.contains(u'.'); }

    FailureCode failureKind(const QString& code) const override { return postgresFailureKind(code); }

    QString faultCode(StatementFault kind) const override
    {
        return kind == StatementFault::TargetFailed ? QStringLiteral("58030") : QStringLiteral("23514");
    }

    // A failed statement dooms a PostgreSQL transaction. Rather than a savepoint before every
    // statement (a round trip each), the group keeps its statements that changed rows: after a
    // failure, it goes back to its start and runs them again, so that the failed statement alone
    // is undone. Groups are short, failures rare, and the group is committed right after.
    FailedStatementUndo failedStatementUndo() const override { return FailedStatementUndo::Replayed; }
    bool refusalDoomsRowsAhead() const override { return true; }
    bool rolledBackGroupsAreSavepoints() const override { return true; }

    // The batch writes to libpq's connection, which only Qt's own driver gives.
    std::unique_ptr<RowsAheadBatch> rowsAheadBatch() const override
    {
        if (throughOdbc())
            return nullptr;
        return std::make_unique<PostgresBatch>();
    }

    // A synchronous commit waits for the log up to its own record, so for every commit before
    // it. The server waits only for a transaction that wrote to the log: a message in the log,
    // which changes no table, is that write.
    std::optional<QSqlError> makeCommittedDurable(QSqlDatabase& session) const override
    {
        if (!session.transaction())
            return errorOf(session);
        QSqlQuery statement(session);
        if (!statement.exec(QStringLiteral("SET LOCAL synchronous_commit TO on"))
            || !statement.exec(QStringLiteral("SELECT pg_logical_emit_message(true, 'p1import', 'durable')"))) {
            const QSqlError error = errorOf(statement);
            session.rollback();
            return error;
        }
        statement.finish();
        if (!session.commit())
            return errorOf(session);
        return std::nullopt;
    }

    QString columnType(SchemaType type, int size, const QString&) const override
    {
        switch (type) {
        case SchemaType::Key: return QStringLiteral("integer NOT NULL PRIMARY KEY");
        case SchemaType::Integer: return QStringLiteral("integer");
        case SchemaType::Boolean: return QStringLiteral("boolean");
        case SchemaType::DateTime: return QStringLiteral("timestamp(3)");
        case SchemaType::Text: return QStringLiteral("varchar(%1)").arg(size);
        case SchemaType::Memo: return QStringLiteral("text");
        }
        return {};
    }

    QString defaultValue(SchemaType type, const QString& value) const override
    {
        return type == SchemaType::Boolean ? value : TargetEngineUnit::defaultValue(type, value);
    }

    // PostgreSQL folds unquoted names to lower case, as the tables were created.
    QString quotedName(const QString& name) const override
    {
        return u'"' + name.toLower().replace(u'"', QStringLiteral("\"\"")) + u'"';
    }

    QString claimStatement() const override { return advisoryClaim; }
    QString sessionIdentifierStatement() const override { return QStringLiteral("SELECT pg_backend_pid()"); }
    QString otherWritersStatement() const override { return otherWriters; }

    TargetCreation creation() const override { return TargetCreation::ServerDatabase; }

private:
    // psqlODBC reads booleans as characters and, after a failed statement, rolls back to a
    // savepoint of its own that it sets before every statement, unless told otherwise: booleans
    // are read as such, and a failed statement dooms the transaction as it does through libpq,
    // so that one replay policy serves both paths. libpq's own options go through as they are.
    QString odbcConnectionString(const ConnectionStringParts& parts, const HostAndPort& server,
                                 const QStringList& libpqOptions) const
    {
        QString text = QStringLiteral("DRIVER={%1};Servername=%2;").arg(odbcDriver(), odbcValue(server.host));
        if (!server.port.isEmpty())
            text += QStringLiteral("Port=%1;").arg(odbcValue(server.port));
        return text
               + QStringLiteral("Database=%1;UID=%2;PWD=%3;BoolsAsChar=0;Protocol=7.4-0;pqopt={%4}")
                     .arg(odbcValue(parts.initialCatalog), odbcValue(parts.userId), odbcValue(parts.password),
                          libpqOptions.join(u' '));
    }
};

} // namespace

std::shared_ptr<const TargetEngineUnit> makePostgresUnit(const QString& odbcDriver)
{
    return std::make_shared<PostgresUnit>(odbcDriver);
}

} // namespace p1
