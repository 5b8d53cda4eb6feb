#include "targetdb/engine_units.h"

#include "targetdb/target_sql.h"

#include <QSqlQuery>

namespace p1 {

namespace {

const QString defaultDriver = QStringLiteral("FreeTDS");
const QString defaultPort = QStringLiteral("1433");

const QString applicationLockClaim = QStringLiteral(
    "DECLARE @result int; "
    "EXEC @result = sp_getapplock @Resource = 'p1import', @LockMode = 'Exclusive', "
    "@LockOwner = 'Session', @LockTimeout = 0; "
    "SELECT CASE WHEN @result >= 0 THEN 1 ELSE 0 END");

// ODBC gives SQLSTATE 08xxx for a lost link and HYT00/HYT01 for a timeout; SQL Server's own
// numbers name a lock timeout (1222), a full file group or log (1105, 9002), a read-only
// database (3906) and I/O errors (823, 824). Other codes do not tell.
FailureCode sqlServerFailureKind(const QString& code)
{
    static const QStringList targetCodes = {"HYT00", "HYT01", "1222", "1105", "9002", "3906", "823", "824"};
    for (const QString& part : codeParts(code))
        if (part.startsWith(QStringLiteral("08")) || targetCodes.contains(part))
            return FailureCode::Target;
    return FailureCode::Unknown;
}

class SqlServerUnit final : public TargetEngineUnit {
public:
    explicit SqlServerUnit(const QString& odbcDriver) : TargetEngineUnit(odbcDriver) {}

    TargetEngine engine() const override { return TargetEngine::SqlServer; }
    QString commandLineName() const override { return QStringLiteral("sqlserver"); }

    QSqlDatabase addDatabase(const QString& connectionName, const ConnectionStringParts& parts,
                             const QString&) const override
    {
        return addOdbcDatabase(connectionName, odbcConnectionString(parts, odbcDriver()));
    }

    // SQL Server waits for a lock without limit unless told otherwise.
    void tuneSession(QSqlDatabase& session) const override
    {
        QSqlQuery setting(session);
        setting.exec(QStringLiteral("SET LOCK_TIMEOUT %1").arg(lockWaitSeconds * 1000));
    }

    FailureCode failureKind(const QString& code) const override { return sqlServerFailureKind(code); }

    QString faultCode(StatementFault kind) const override
    {
        return kind == StatementFault::TargetFailed ? QStringLiteral("823") : QStringLiteral("547");
    }

    // SQL Server undoes a failed statement alone, except for the errors that end the transaction
    // (a deadlock, an error inside a trigger, some conversions), which undo the whole group.
    FailedStatementUndo failedStatementUndo() const override { return FailedStatementUndo::ByTransactionCount; }
    QString transactionCountStatement() const override { return QStringLiteral("SELECT @@TRANCOUNT"); }

    // Commits are durable unless the database was set to delayed durability.
    std::optional<QSqlError> makeCommittedDurable(QSqlDatabase&) const override { return std::nullopt; }

    // datetime columns keep the time of day to 1/300 s only (datetime2 keeps it exactly).
    QString coarseDateTimeColumnsStatement() const override
    {
        return QStringLiteral("SELECT COLUMN_NAME FROM INFORMATION_SCHEMA.COLUMNS "
                              "WHERE TABLE_NAME = ? AND DATA_TYPE = 'datetime'");
    }

    QString columnType(SchemaType type, int size, const QString&) const override
    {
        switch (type) {
        case SchemaType::Key: return QStringLiteral("int NOT NULL PRIMARY KEY");
        case SchemaType::Integer: return QStringLiteral("int");
        case SchemaType::Boolean: return QStringLiteral("bit");
        case SchemaType::DateTime: return QStringLiteral("datetime2(3)");
        case SchemaType::Text: return QStringLiteral("nvarchar(%1)").arg(size);
        case SchemaType::Memo: return QStringLiteral("nvarchar(max)");
        }
        return {};
    }

    QString quotedName(const QString& name) const override
    {
        return u'[' + QString(name).replace(u']', QStringLiteral("]]")) + u']';
    }

    QString claimStatement() const override { return applicationLockClaim; }
};

} // namespace

std::shared_ptr<const TargetEngineUnit> makeSqlServerUnit(const QString& odbcDriver)
{
    return std::make_shared<SqlServerUnit>(odbcDriver.isEmpty() ? defaultDriver : odbcDriver);
}

QString odbcConnectionString(const ConnectionStringParts& parts, const QString& driver)
{
    QString server = parts.dataSource;
    QString port;
    const qsizetype comma = server.indexOf(u',');
    if (comma >= 0) {
        port = server.mid(comma + 1).trimmed();
        server = server.left(comma).trimmed();
    } else if (!server.contains(u'\\')) {
        port = defaultPort;
    }
    QString text = QStringLiteral("DRIVER={%1};SERVER=%2;").arg(driver, odbcValue(server));
    if (!port.isEmpty())
        text += QStringLiteral("PORT=%1;").arg(odbcValue(port));
    text += QStringLiteral("DATABASE=%1;UID=%2;PWD=%3;TDS_Version=7.4")
                .arg(odbcValue(parts.initialCatalog), odbcValue(parts.userId), odbcValue(parts.password));
    return text;
}

} // namespace p1
