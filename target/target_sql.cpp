#include "target/target_sql.h"

#include "common/errors.h"
#include "target/target_values.h"

#include <QAtomicInteger>
#include <QDir>
#include <QFileInfo>
#include <QSqlQuery>
#include <QStringList>

namespace p1 {

namespace {

constexpr int loginTimeoutSeconds = 5;
const QString defaultSqlServerPort = QStringLiteral("1433");

QString uniqueConnectionName()
{
    static QAtomicInteger<quint64> counter;
    return QStringLiteral("p1target-%1").arg(++counter);
}

QString keyOf(const QString& segment)
{
    return segment.section('=', 0, 0).trimmed().toLower();
}

// The password is the last item the system writes and may hold any character, ";" included:
// it runs to the closing ";" unless another known key follows.
QString passwordValue(const QString& rest)
{
    static const QStringList otherKeys = {"provider", "integrated security", "persist security info",
                                          "data source", "initial catalog", "user id"};
    qsizetype end = rest.endsWith(';') ? rest.size() - 1 : rest.size();
    for (qsizetype at = rest.indexOf(';'); at >= 0 && at < end; at = rest.indexOf(';', at + 1)) {
        const QString segment = rest.mid(at + 1).section(';', 0, 0);
        if (segment.contains('=') && otherKeys.contains(keyOf(segment))) {
            end = at;
            break;
        }
    }
    return rest.left(end);
}

// An ODBC attribute value, braced when it holds a character the connection string syntax uses.
QString odbcValue(const QString& value)
{
    const bool plain = !value.contains(';') && !value.contains('{') && !value.contains('}')
                       && value.trimmed() == value;
    if (plain)
        return value;
    QString escaped = value;
    escaped.replace('}', QStringLiteral("}}"));
    return '{' + escaped + '}';
}

struct HostAndPort {
    QString host;
    QString port;
};

// "host", "host:port", "host,port", or a socket folder (optionally followed by ":port").
HostAndPort splitHostAndPort(const QString& dataSource)
{
    const qsizetype separator = std::max(dataSource.lastIndexOf(':'), dataSource.lastIndexOf(','));
    if (separator > 0) {
        bool numeric = false;
        dataSource.mid(separator + 1).toUInt(&numeric);
        if (numeric)
            return {dataSource.left(separator).trimmed(), dataSource.mid(separator + 1).trimmed()};
    }
    return {dataSource.trimmed(), {}};
}

} // namespace

std::optional<TargetEngine> targetEngineFromName(const QString& name)
{
    const QString key = name.trimmed().toLower();
    if (key == "sqlserver")
        return TargetEngine::SqlServer;
    if (key == "sqlite")
        return TargetEngine::Sqlite;
    if (key == "postgres")
        return TargetEngine::Postgres;
    return std::nullopt;
}

TargetEngine defaultTargetEngine()
{
    return targetEngineFromName(qEnvironmentVariable("P1IMPORT_TARGET_ENGINE"))
        .value_or(TargetEngine::SqlServer);
}

ConnectionStringParts parseConnectionString(const QString& connectionString)
{
    ConnectionStringParts parts;
    qsizetype at = 0;
    while (at < connectionString.size()) {
        qsizetype end = connectionString.indexOf(';', at);
        if (end < 0)
            end = connectionString.size();
        const QString segment = connectionString.mid(at, end - at);
        const QString key = keyOf(segment);
        const QString value = segment.section('=', 1);
        if (key == "password") {
            const QString rest = connectionString.mid(at + segment.indexOf('=') + 1);
            parts.password = passwordValue(rest);
            end = at + segment.indexOf('=') + 1 + parts.password.size();
        } else if (key == "data source") {
            parts.dataSource = value.trimmed();
        } else if (key == "initial catalog") {
            parts.initialCatalog = value.trimmed();
        } else if (key == "user id") {
            parts.userId = value.trimmed();
        }
        at = end + 1;
    }
    return parts;
}

QString odbcConnectionString(const ConnectionStringParts& parts, const QString& driver)
{
    QString server = parts.dataSource;
    QString port;
    const qsizetype comma = server.indexOf(',');
    if (comma >= 0) {
        port = server.mid(comma + 1).trimmed();
        server = server.left(comma).trimmed();
    } else if (!server.contains('\\')) {
        port = defaultSqlServerPort;
    }
    QString text = QStringLiteral("DRIVER={%1};SERVER=%2;").arg(driver, odbcValue(server));
    if (!port.isEmpty())
        text += QStringLiteral("PORT=%1;").arg(odbcValue(port));
    text += QStringLiteral("DATABASE=%1;UID=%2;PWD=%3;TDS_Version=7.4")
                .arg(odbcValue(parts.initialCatalog), odbcValue(parts.userId),
                     odbcValue(parts.password));
    return text;
}

struct TargetConnection::Impl {
    TargetEngine engine;
    QString connectionString;
    QString baseFolder;
    QString odbcDriver = QStringLiteral("FreeTDS");
    // Every opening gets a connection name of its own, so that a dataset can tell that the
    // statements it prepared belong to an earlier opening. All are removed at the end.
    QStringList connectionNames;
    QSqlDatabase database;

    QString password() const { return parseConnectionString(connectionString).password; }
    QSqlDatabase prepared(const QString& connectionName) const;
    QString sqliteFile(const ConnectionStringParts& parts) const;
    void tuneSqlite();
    void tunePostgres();
};

QString TargetConnection::Impl::sqliteFile(const ConnectionStringParts& parts) const
{
    if (QDir::isAbsolutePath(parts.initialCatalog) || baseFolder.isEmpty())
        return parts.initialCatalog;
    return QDir(baseFolder).filePath(parts.initialCatalog);
}

QSqlDatabase TargetConnection::Impl::prepared(const QString& connectionName) const
{
    const ConnectionStringParts parts = parseConnectionString(connectionString);
    QSqlDatabase db;
    switch (engine) {
    case TargetEngine::SqlServer:
        db = QSqlDatabase::addDatabase(QStringLiteral("QODBC"), connectionName);
        db.setDatabaseName(odbcConnectionString(parts, odbcDriver));
        db.setConnectOptions(QStringLiteral("SQL_ATTR_LOGIN_TIMEOUT=%1").arg(loginTimeoutSeconds));
        break;
    case TargetEngine::Sqlite:
        db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), connectionName);
        db.setDatabaseName(sqliteFile(parts));
        db.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=5000"));
        break;
    case TargetEngine::Postgres: {
        db = QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), connectionName);
        const HostAndPort server = splitHostAndPort(parts.dataSource);
        db.setHostName(server.host);
        if (!server.port.isEmpty())
            db.setPort(server.port.toInt());
        db.setDatabaseName(parts.initialCatalog);
        db.setUserName(parts.userId);
        db.setPassword(parts.password);
        db.setConnectOptions(QStringLiteral("connect_timeout=%1").arg(loginTimeoutSeconds));
        break;
    }
    }
    return db;
}

// Rows are stored one at a time without a transaction: in the default rollback journal every
// store would wait for two disk syncs. The write-ahead log with NORMAL synchronisation syncs at
// checkpoints only and still survives a crash of the program.
void TargetConnection::Impl::tuneSqlite()
{
    QSqlQuery pragma(database);
    pragma.exec(QStringLiteral("PRAGMA journal_mode=WAL"));
    pragma.exec(QStringLiteral("PRAGMA synchronous=NORMAL"));
}

// The same choice for PostgreSQL, for this session only: a commit does not wait for its log
// record to reach the disk (the server writes it within a fraction of a second); a crash of the
// server can lose the last rows stored, never corrupt the database.
void TargetConnection::Impl::tunePostgres()
{
    QSqlQuery setting(database);
    setting.exec(QStringLiteral("SET synchronous_commit TO off"));
}

TargetConnection::TargetConnection(TargetEngine engine) : impl_(std::make_unique<Impl>())
{
    impl_->engine = engine;
}

TargetConnection::~TargetConnection()
{
    close();
    impl_->database = QSqlDatabase();
    for (const QString& name : std::as_const(impl_->connectionNames))
        QSqlDatabase::removeDatabase(name);
}

TargetEngine TargetConnection::engine() const
{
    return impl_->engine;
}

void TargetConnection::setConnectionString(const QString& connectionString)
{
    close();
    impl_->connectionString = connectionString;
}

void TargetConnection::setBaseFolder(const QString& folder)
{
    close();
    impl_->baseFolder = folder;
}

void TargetConnection::setOdbcDriver(const QString& driver)
{
    close();
    impl_->odbcDriver = driver;
}

void TargetConnection::open()
{
    close();
    if (impl_->engine == TargetEngine::Sqlite) {
        const QString file = impl_->sqliteFile(parseConnectionString(impl_->connectionString));
        // SQLite would make an empty database of a mistyped name.
        if (!QFileInfo(file).isFile())
            throw TargetError(withoutPassword(
                QStringLiteral("La base de données %1 n'existe pas.").arg(file), impl_->password()));
    }
    impl_->connectionNames.append(uniqueConnectionName());
    impl_->database = impl_->prepared(impl_->connectionNames.last());
    if (!impl_->database.open())
        throw TargetError(engineMessage(impl_->database.lastError()));
    if (impl_->engine == TargetEngine::Sqlite)
        impl_->tuneSqlite();
    if (impl_->engine == TargetEngine::Postgres)
        impl_->tunePostgres();
}

QSqlDatabase TargetConnection::openSideSession()
{
    impl_->connectionNames.append(uniqueConnectionName());
    QSqlDatabase side = impl_->prepared(impl_->connectionNames.last());
    if (!side.open())
        throw TargetError(engineMessage(side.lastError()));
    return side;
}

QString TargetConnection::sqliteDatabaseFile() const
{
    return impl_->sqliteFile(parseConnectionString(impl_->connectionString));
}

void TargetConnection::close()
{
    if (impl_->database.isOpen())
        impl_->database.close();
}

bool TargetConnection::isOpen() const
{
    return impl_->database.isOpen();
}

void TargetConnection::ensureOpen()
{
    if (!isOpen())
        open();
}

QStringList TargetConnection::tableAndViewNames()
{
    QSqlDatabase db = database();
    QStringList names = db.tables(QSql::Tables) + db.tables(QSql::Views);
    QStringList userNames;
    for (const QString& name : names) {
        if (impl_->engine == TargetEngine::Sqlite && name.startsWith("sqlite_", Qt::CaseInsensitive))
            continue;
        // PostgreSQL qualifies the names of schemas other than public.
        if (impl_->engine == TargetEngine::Postgres && name.contains('.'))
            continue;
        userNames.append(name);
    }
    return userNames;
}

QSqlDatabase TargetConnection::database()
{
    ensureOpen();
    return impl_->database;
}

QString TargetConnection::engineMessage(const QSqlError& error) const
{
    QString message = error.databaseText().trimmed();
    if (message.isEmpty())
        message = error.text().trimmed();
    if (message.isEmpty())
        message = error.driverText().trimmed();
    return withoutPassword(message, impl_->password());
}

} // namespace p1
