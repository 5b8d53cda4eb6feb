#include "targetdb/target_sql.h"

#include "common/connection_strings.h"
#include "common/errors.h"
#include "targetdb/postgres_batch.h"
#include "targetdb/sqlite_files.h"
#include "targetdb/sqlite_batch.h"
#include "targetdb/target_values.h"

#include <QAtomicInteger>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QHash>
#include <QMap>
#include <QSqlQuery>
#include <QStringList>

#include <utility>

#include <sqlite3.h>

namespace p1 {

namespace {

constexpr int loginTimeoutSeconds = 5;
// How long a statement waits for a lock another session holds, on every engine.
constexpr int lockWaitSeconds = 5;
// Well above any statement of an import (the purge of the largest table), yet a server that
// stalls ends the run instead of holding it for ever.
constexpr int statementTimeoutMinutes = 10;
// A silent server (cable pulled, machine gone) is found out within about a minute.
const QString postgresKeepalives = QStringLiteral(
    ";keepalives=1;keepalives_idle=30;keepalives_interval=10;keepalives_count=3;tcp_user_timeout=60000");
const QStringList postgresServerSideProbes = {
    QStringLiteral("tcp_keepalives_idle TO 30"), QStringLiteral("tcp_keepalives_interval TO 10"),
    QStringLiteral("tcp_keepalives_count TO 3"), QStringLiteral("tcp_user_timeout TO 60000"),
    QStringLiteral("client_connection_check_interval TO '10s'")};
const QString defaultSqlServerPort = QStringLiteral("1433");
// A group older than this is committed at the next row boundary: a crash of the program loses at
// most about a second of rows, which the next run's purge clears anyway.
constexpr qint64 defaultGroupMilliseconds = 1000;
// A rolled-back run on SQLite holds every page it changes in memory (up to about this many KiB)
// rather than spilling it into the log file before the rollback.
constexpr int rolledBackCacheKibibytes = 4 * 1024 * 1024;
const QString groupSavepoint = QStringLiteral("p1_group");
const QString lostGroupText = QStringLiteral("La connexion à la base Tessaris a été perdue : "
                                             "les dernières lignes importées n'ont pas été enregistrées.");

// A statement that changed rows, as it ran: its text and its values in the order of its
// placeholders.
struct KeptStatement {
    QString text;
    QVariantList values;
};


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

// A program gone without a word (network cut, machine off) would leave its session open, with its
// transaction, its locks and the run's claim: the server probes the client as the client probes
// it, and checks it while a statement runs.
void probeClientFromServer(const QSqlDatabase& session)
{
    QSqlQuery setting(session);
    for (const QString& probe : postgresServerSideProbes)
        setting.exec(QStringLiteral("SET ") + probe);
}

const QByteArray sqliteHeader("SQLite format 3\0", 16);

// SQLite takes an empty or missing file for an empty database, and would write its header into
// whatever file it is given: only a file that already holds a database is opened. Empty when it
// does, else what is wrong with it.
QString nonSqliteFileProblem(const QString& file)
{
    const QFileInfo info(file);
    if (info.isDir())
        return QStringLiteral("DatabaseName désigne le dossier [%1], pas une base de données SQLite.").arg(file);
    if (!info.exists())
        return QStringLiteral("La base de données %1 n'existe pas.").arg(file);
    QFile database(file);
    if (!database.open(QIODevice::ReadOnly))
        return QStringLiteral("La base de données [%1] ne peut pas être lue : %2").arg(file, database.errorString());
    if (database.read(sqliteHeader.size()) != sqliteHeader)
        return QStringLiteral("DatabaseName désigne le fichier [%1], qui n'est pas une base de données SQLite.")
            .arg(file);
    return {};
}

// A statement that reads the database itself, so that an opening the engine accepted on trust
// (SQLite reads nothing before the first statement) or a connection that died is found out.
QString probeStatement(TargetEngine engine)
{
    return engine == TargetEngine::Sqlite ? QStringLiteral("SELECT count(*) FROM sqlite_master")
                                          : QStringLiteral("SELECT 1");
}

// The primary result code is the low byte of an extended one (SQLITE_IOERR_WRITE, ...).
FailureCode sqliteFailureKind(const QString& code)
{
    switch (code.toInt() & 0xff) {
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
    case SQLITE_NOMEM:
    case SQLITE_READONLY:
    case SQLITE_IOERR:
    case SQLITE_CORRUPT:
    case SQLITE_FULL:
    case SQLITE_CANTOPEN:
    case SQLITE_PROTOCOL:
    case SQLITE_NOTADB:
        return FailureCode::Target;
    default:
        return FailureCode::Row;
    }
}

// SQLSTATE classes 08 (connection), 53 (resources: disk full, memory), 57 (operator intervention:
// shutdown, statement cancelled by its timeout), 58 (system: I/O), and a lock not obtained in
// time, a read-only server, corrupted data.
FailureCode postgresFailureKind(const QString& code)
{
    static const QStringList targetClasses = {"08", "53", "57", "58"};
    static const QStringList targetStates = {"55P03", "25006", "XX001", "XX002"};
    if (targetClasses.contains(code.left(2)) || targetStates.contains(code))
        return FailureCode::Target;
    return FailureCode::Row;
}

// ODBC gives SQLSTATE 08xxx for a lost link and HYT00/HYT01 for a timeout; SQL Server's own
// numbers name a lock timeout (1222), a full file group or log (1105, 9002), a read-only
// database (3906) and I/O errors (823, 824). Other numbers do not tell.
FailureCode sqlServerFailureKind(const QString& code)
{
    static const QStringList targetCodes = {"HYT00", "HYT01", "1222", "1105", "9002", "3906", "823", "824"};
    if (code.startsWith(QStringLiteral("08")) || targetCodes.contains(code))
        return FailureCode::Target;
    return FailureCode::Unknown;
}

} // namespace

FailureCode failureCodeKind(TargetEngine engine, const QString& code)
{
    if (code.trimmed().isEmpty())
        return FailureCode::Unknown;
    switch (engine) {
    case TargetEngine::Sqlite: return sqliteFailureKind(code.trimmed());
    case TargetEngine::Postgres: return postgresFailureKind(code.trimmed());
    case TargetEngine::SqlServer: return sqlServerFailureKind(code.trimmed());
    }
    return FailureCode::Unknown;
}

CommitMode defaultCommitMode()
{
    return qEnvironmentVariable("P1IMPORT_COMMIT_EACH_ROW") == QStringLiteral("1") ? CommitMode::EachRow
                                                                                : CommitMode::Grouped;
}

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
        const qsizetype equals = connectionString.indexOf('=', at);
        if (equals < 0)
            break;
        const QString key = keyOf(connectionString.mid(at, equals - at));
        QString value;
        qsizetype end = 0;
        if (const std::optional<QuotedValue> quoted = readQuotedValue(connectionString, equals + 1)) {
            value = quoted->text;
            end = connectionString.indexOf(';', quoted->end);
        } else if (key == "password") {
            value = passwordValue(connectionString.mid(equals + 1));
            end = equals + 1 + value.size();
        } else {
            end = connectionString.indexOf(';', equals + 1);
            value = connectionString.mid(equals + 1, end < 0 ? -1 : end - equals - 1).trimmed();
        }
        if (key == "password")
            parts.password = value;
        else if (key == "data source")
            parts.dataSource = value;
        else if (key == "initial catalog")
            parts.initialCatalog = value;
        else if (key == "user id")
            parts.userId = value;
        if (end < 0)
            break;
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

void createSqliteDatabase(const QString& path)
{
    if (QFileInfo::exists(path))
        throw TargetError(QStringLiteral("La base de données [%1] existe déjà.").arg(path));
    const QString connectionName = uniqueConnectionName();
    QString failure;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), connectionName);
        db.setDatabaseName(path);
        // An empty file is no database yet: choosing the log's mode writes the header.
        if (!db.open())
            failure = db.lastError().text();
        else if (QSqlQuery header(db); !header.exec(QStringLiteral("PRAGMA journal_mode=WAL")))
            failure = header.lastError().text();
        db.close();
    }
    QSqlDatabase::removeDatabase(connectionName);
    if (!failure.isEmpty()) {
        // A file cut short by a full disk is no database: it would block the next attempt.
        for (const QString& file : {path, path + "-wal", path + "-shm"})
            QFile::remove(file);
        throw TargetError(QStringLiteral("Impossible de créer la base de données [%1] : %2").arg(path, failure));
    }
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
    std::vector<std::weak_ptr<QSqlQuery>> preparedQueries;
    // Open as far as the program knows: a connection found closed meanwhile was lost.
    bool meantOpen = false;
    bool reconnectionSpent = false;
    CommitMode commitMode = CommitMode::EachRow;
    bool groupOpen = false;
    // A group was open when its connection closed: the engine rolled it back.
    bool groupDropped = false;
    QElapsedTimer groupClock;
    qint64 groupMilliseconds = defaultGroupMilliseconds;
    bool columnSizesWatched = false;
    QList<OversizedText> oversizedTexts;
    // PostgreSQL: what the open group changed, and whether it was run again since it began.
    QList<KeptStatement> journal;
    bool replayed = false;
    bool groupSavepointSet = false;
    bool rowsAheadWanted = false;
    std::unique_ptr<RowsAheadBatch> batch; // none for SQL Server
    std::optional<FileChanges> fileChanges;
    bool logFoundAtOpening = false; // SQLite
    // The open group sent rows ahead, or kept statements for its commit: a statement refused
    // meanwhile on PostgreSQL dooms them.
    bool aheadInGroup = false;
    QMap<QString, KeptStatement> keptForCommit; // by key, in key order
    // The same statements run at once, while rows do not go ahead (a counter kept row after row),
    // prepared once per session.
    QHash<QString, std::shared_ptr<QSqlQuery>> writesPrepared;
    QString writesPreparedOn;
    bool keptRefused = false;                   // one of them is refused by a test's fault
    std::optional<QSqlError> refusalAhead;      // a test's fault among the rows sent ahead
    // The counted statements, and their number at the last commit: a group taken back counts
    // its statements again. A test's fault hits the statement numbered faultAt.
    qint64 statementsCounted = 0;
    qint64 statementsAtCommit = 0;
    std::optional<qint64> faultAt;
    StatementFault faultKind = StatementFault::Refused;

    // SQLite undoes a failed statement alone; PostgreSQL dooms the transaction, and SQL Server
    // ends it on some errors: their groups keep what they ran, to run it again.
    bool journaling() const { return groupOpen && engine != TargetEngine::Sqlite; }

    QString password() const { return parseConnectionString(connectionString).password; }
    QSqlDatabase prepared(const QString& connectionName) const;
    QString sqliteFile(const ConnectionStringParts& parts) const;
    void tuneSqlite();
    void tunePostgres();
    void tuneSqlServer();

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
        db.setConnectOptions(QStringLiteral("SQL_ATTR_LOGIN_TIMEOUT=%1;SQL_ATTR_CONNECTION_TIMEOUT=%2")
                                 .arg(loginTimeoutSeconds)
                                 .arg(statementTimeoutMinutes * 60));
        break;
    case TargetEngine::Sqlite:
        db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), connectionName);
        db.setDatabaseName(sqliteFile(parts));
        db.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=%1").arg(lockWaitSeconds * 1000));
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
        db.setConnectOptions(QStringLiteral("connect_timeout=%1").arg(loginTimeoutSeconds) + postgresKeepalives);
        break;
    }
    }
    return db;
}

// Rows may be committed one at a time (and are, outside import runs): in the default rollback
// journal every commit would wait for two disk syncs. The write-ahead log (which an import
// switches to) with NORMAL synchronisation syncs at checkpoints only and still survives a crash
// of the program; makeDurable() checkpoints, or syncs the log.
void TargetConnection::Impl::tuneSqlite()
{
    QSqlQuery pragma(database);
    pragma.exec(QStringLiteral("PRAGMA synchronous=NORMAL"));
    if (fileChanges)
        letSqliteFilesChange(database, *fileChanges, logFoundAtOpening);
}

// The same choice for PostgreSQL, for this session only: a commit does not wait for its log
// record to reach the disk (the server writes it within a fraction of a second); a crash of the
// server can lose the last rows stored, never corrupt the database; makeDurable() waits.
// Waits are bounded as SQLite's are: a lock held elsewhere or a statement that never ends fails
// with a code that ends the run.
void TargetConnection::Impl::tunePostgres()
{
    QSqlQuery setting(database);
    setting.exec(QStringLiteral("SET synchronous_commit TO off"));
    setting.exec(QStringLiteral("SET lock_timeout TO '%1s'").arg(lockWaitSeconds));
    setting.exec(QStringLiteral("SET statement_timeout TO '%1min'").arg(statementTimeoutMinutes));
    probeClientFromServer(database);
    // Nor does a transaction left idle outlive the longest statement: its program is gone.
    setting.exec(QStringLiteral("SET idle_in_transaction_session_timeout TO '%1min'").arg(statementTimeoutMinutes));
}

// SQL Server waits for a lock without limit unless told otherwise; the connection timeout bounds
// the driver's other requests (catalogue, transactions) against a silent server.
void TargetConnection::Impl::tuneSqlServer()
{
    QSqlQuery setting(database);
    setting.exec(QStringLiteral("SET LOCK_TIMEOUT %1").arg(lockWaitSeconds * 1000));
}

TargetConnection::TargetConnection(TargetEngine engine) : impl_(std::make_unique<Impl>())
{
    impl_->engine = engine;
    if (engine == TargetEngine::Postgres)
        impl_->batch = std::make_unique<PostgresBatch>();
    else if (engine == TargetEngine::Sqlite)
        impl_->batch = std::make_unique<SqliteBatch>();
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
        const QString problem = nonSqliteFileProblem(file);
        if (!problem.isEmpty())
            throw TargetError(withoutPassword(problem, impl_->password()));
        impl_->logFoundAtOpening = QFileInfo::exists(sqliteLogFile(file));
    }
    impl_->connectionNames.append(uniqueConnectionName());
    impl_->database = impl_->prepared(impl_->connectionNames.last());
    if (!impl_->database.open())
        throw TargetUnavailable(engineMessage(impl_->database.lastError()));
    try {
        proveUsable();
    } catch (const TargetError&) {
        close();
        throw;
    }
    impl_->meantOpen = true;
    switch (impl_->engine) {
    case TargetEngine::Sqlite: impl_->tuneSqlite(); break;
    case TargetEngine::Postgres: impl_->tunePostgres(); break;
    case TargetEngine::SqlServer: impl_->tuneSqlServer(); break;
    }
}

QSqlDatabase TargetConnection::openSideSession()
{
    impl_->connectionNames.append(uniqueConnectionName());
    QSqlDatabase side = impl_->prepared(impl_->connectionNames.last());
    if (!side.open())
        throw TargetError(engineMessage(side.lastError()));
    if (impl_->engine == TargetEngine::Postgres)
        probeClientFromServer(side);
    return side;
}

QString TargetConnection::sqliteDatabaseFile() const
{
    return impl_->sqliteFile(parseConnectionString(impl_->connectionString));
}

void TargetConnection::proveUsable()
{
    QSqlQuery probe(impl_->database);
    if (!probe.exec(probeStatement(impl_->engine)))
        throwFailure(probe.lastError());
}

bool TargetConnection::answers()
{
    QSqlQuery probe(impl_->database);
    return probe.exec(probeStatement(impl_->engine));
}

void TargetConnection::throwFailure(const QSqlError& error)
{
    const QString message = engineMessage(error);
    const FailureCode kind = failureCodeKind(impl_->engine, error.nativeErrorCode());
    if (kind == FailureCode::Row || (kind == FailureCode::Unknown && answers()))
        throw TargetError(message);
    forgetGroup();
    impl_->database.close();
    throw TargetUnavailable(message);
}

void TargetConnection::makeDurable()
{
    if (impl_->commitMode == CommitMode::RolledBack)
        return;
    if (!commitGroup())
        throw TargetUnavailable(lostGroupText);
    ensureOpen();
    switch (impl_->engine) {
    case TargetEngine::Sqlite: checkpointSqlite(); break;
    case TargetEngine::Postgres: commitPostgresSynchronously(); break;
    // SQL Server commits are durable unless the database was set to delayed durability.
    case TargetEngine::SqlServer: break;
    }
}

void TargetConnection::failStatement(std::optional<qint64> ordinal, StatementFault kind)
{
    impl_->faultAt = ordinal;
    impl_->faultKind = kind;
    impl_->statementsCounted = 0;
    impl_->statementsAtCommit = 0;
}

void TargetConnection::setGroupMilliseconds(qint64 milliseconds)
{
    impl_->groupMilliseconds = milliseconds;
}

qint64 TargetConnection::statementsCounted() const
{
    return impl_->statementsCounted;
}

std::optional<StatementFault> TargetConnection::countStatement()
{
    ++impl_->statementsCounted;
    if (impl_->faultAt && *impl_->faultAt == impl_->statementsCounted)
        return impl_->faultKind;
    return std::nullopt;
}

// The error a test's fault gives, with a code the engine's own refusals or failures bear.
QSqlError TargetConnection::faultError(StatementFault kind) const
{
    const bool target = kind == StatementFault::TargetFailed;
    QString code;
    switch (impl_->engine) {
    case TargetEngine::Sqlite: code = target ? QStringLiteral("10") : QStringLiteral("19"); break;
    case TargetEngine::Postgres: code = target ? QStringLiteral("58030") : QStringLiteral("23514"); break;
    case TargetEngine::SqlServer: code = target ? QStringLiteral("823") : QStringLiteral("547"); break;
    }
    const QString text = target ? QStringLiteral("Panne simulée de la base Tessaris à l'instruction n°%1")
                                : QStringLiteral("Refus simulé de l'instruction n°%1");
    return QSqlError(QString(), text.arg(impl_->statementsCounted), QSqlError::StatementError, code);
}

void TargetConnection::close()
{
    impl_->meantOpen = false;
    forgetGroup();
    releasePreparedQueries();
    if (impl_->database.isOpen())
        impl_->database.close();
}

std::shared_ptr<QSqlQuery> TargetConnection::preparedQuery()
{
    auto query = std::make_shared<QSqlQuery>(database());
    std::erase_if(impl_->preparedQueries, [](const std::weak_ptr<QSqlQuery>& kept) { return kept.expired(); });
    impl_->preparedQueries.push_back(query);
    return query;
}

// Their holders find them empty and prepare them again on the next opening, which has a name of
// its own.
void TargetConnection::releasePreparedQueries()
{
    for (const std::weak_ptr<QSqlQuery>& kept : std::as_const(impl_->preparedQueries))
        if (const std::shared_ptr<QSqlQuery> query = kept.lock())
            *query = QSqlQuery();
    impl_->preparedQueries.clear();
}

bool TargetConnection::isOpen() const
{
    return impl_->database.isOpen();
}

// A lost connection is opened again once per run step: a server that keeps dropping it, or no
// longer answers, would otherwise cost a connection timeout at every statement.
void TargetConnection::ensureOpen()
{
    if (isOpen())
        return;
    // The rows of a group the engine dropped with the connection are gone: going on after a
    // reconnection would leave them counted as stored.
    forgetGroup();
    if (impl_->groupDropped)
        throw TargetUnavailable(lostGroupText);
    if (impl_->meantOpen) {
        if (impl_->reconnectionSpent)
            throw TargetUnavailable(
                QStringLiteral("La connexion à la base Tessaris a été perdue une deuxième fois au cours de la même étape."));
        impl_->reconnectionSpent = true;
    }
    open();
}

void TargetConnection::startRunStep()
{
    impl_->reconnectionSpent = false;
}

QStringList TargetConnection::tableAndViewNames()
{
    QSqlDatabase db = database();
    QStringList names = db.tables(QSql::Tables) + db.tables(QSql::Views);
    // The engine's listing reads as empty when it fails.
    proveUsable();
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
    settleRowsAhead();
    return impl_->database;
}

// A checkpoint syncs the log before it copies it into the database file, and syncs that file
// after. It passes no page another program still reads (a database browser left open), and does
// not wait for it: what it could not copy is made durable in the log itself, by a commit under
// full synchronisation, which syncs the log and so every commit before it. That commit rewrites
// the database's user version as it stands, the one change it can make that changes nothing.
void TargetConnection::checkpointSqlite()
{
    QSqlQuery statement(impl_->database);
    if (!statement.exec(QStringLiteral("PRAGMA wal_checkpoint(PASSIVE)")) || !statement.next())
        throwFailure(statement.lastError());
    const bool wholeLogCopied = statement.value(1).toInt() == statement.value(2).toInt();
    statement.finish();
    if (wholeLogCopied)
        return;
    if (!statement.exec(QStringLiteral("PRAGMA user_version")) || !statement.next())
        throwFailure(statement.lastError());
    const qint64 version = statement.value(0).toLongLong();
    statement.finish();
    const bool committed = statement.exec(QStringLiteral("PRAGMA synchronous=FULL"))
                           && statement.exec(QStringLiteral("PRAGMA user_version=%1").arg(version));
    const QSqlError error = statement.lastError();
    statement.exec(QStringLiteral("PRAGMA synchronous=NORMAL"));
    if (!committed)
        throwFailure(error);
}

// A synchronous commit waits for the log up to its own record, so for every commit before it.
// The server waits only for a transaction that wrote to the log: a message in the log, which
// changes no table, is that write.
void TargetConnection::commitPostgresSynchronously()
{
    if (!impl_->database.transaction())
        throwFailure(impl_->database.lastError());
    QSqlQuery statement(impl_->database);
    if (!statement.exec(QStringLiteral("SET LOCAL synchronous_commit TO on"))
        || !statement.exec(QStringLiteral("SELECT pg_logical_emit_message(true, 'p1import', 'durable')"))) {
        const QSqlError error = statement.lastError();
        impl_->database.rollback();
        throwFailure(error);
    }
    statement.finish();
    if (!impl_->database.commit())
        throwFailure(impl_->database.lastError());
}

void TargetConnection::watchColumnSizes(bool watched)
{
    impl_->columnSizesWatched = watched;
    impl_->oversizedTexts.clear();
}

bool TargetConnection::columnSizesWatched() const
{
    return impl_->columnSizesWatched;
}

void TargetConnection::noteOversizedText(OversizedText text)
{
    impl_->oversizedTexts.append(std::move(text));
}

QList<OversizedText> TargetConnection::takeOversizedTexts()
{
    return std::exchange(impl_->oversizedTexts, {});
}

void TargetConnection::allowFileChanges(FileChanges changes)
{
    impl_->fileChanges = changes;
    if (impl_->engine == TargetEngine::Sqlite && isOpen())
        letSqliteFilesChange(impl_->database, changes, impl_->logFoundAtOpening);
}

void TargetConnection::setCommitMode(CommitMode mode)
{
    endGroup();
    impl_->commitMode = mode;
}

CommitMode TargetConnection::commitMode() const
{
    return impl_->commitMode;
}

bool TargetConnection::commitGroup()
{
    const bool kept = !impl_->groupDropped;
    impl_->groupDropped = false;
    if (impl_->commitMode == CommitMode::RolledBack) {
        impl_->groupClock.start();
        markRolledBackGroup();
        return kept;
    }
    if (impl_->commitMode != CommitMode::Grouped || !impl_->groupOpen) {
        impl_->statementsAtCommit = impl_->statementsCounted;
        return kept;
    }
    settleRowsAhead();
    writeKeptStatements();
    impl_->groupOpen = false;
    impl_->aheadInGroup = false;
    impl_->journal.clear();
    if (!impl_->database.commit()) {
        const QSqlError error = impl_->database.lastError();
        // A commit that failed leaves no transaction behind on any engine but SQLite.
        impl_->database.rollback();
        throwFailure(error);
    }
    impl_->statementsAtCommit = impl_->statementsCounted;
    return kept;
}

// The statements kept for the commit, each as the last one of its key left it; one refused takes
// the group back, to be run again row by row, where each runs in its place.
void TargetConnection::writeKeptStatements()
{
    const QMap<QString, KeptStatement> kept = std::exchange(impl_->keptForCommit, {});
    if (std::exchange(impl_->keptRefused, false))
        takeBackRowsAhead();
    for (const KeptStatement& statement : kept) {
        QSqlQuery query(impl_->database);
        bool done = query.prepare(statement.text);
        for (qsizetype place = 0; done && place < statement.values.size(); ++place)
            query.bindValue(int(place), statement.values.at(place));
        if (done && query.exec())
            continue;
        const QSqlError error = query.lastError();
        if (failureCodeKind(impl_->engine, error.nativeErrorCode()) == FailureCode::Target)
            throwFailure(error);
        takeBackRowsAhead();
    }
}

bool TargetConnection::groupDue() const
{
    return impl_->commitMode != CommitMode::EachRow && impl_->groupOpen
           && (impl_->replayed || impl_->groupClock.elapsed() >= impl_->groupMilliseconds);
}

void TargetConnection::endGroup()
{
    const bool wasOpen = impl_->groupOpen;
    impl_->groupOpen = false;
    impl_->groupDropped = false;
    impl_->journal.clear();
    forgetWorkAhead();
    if (impl_->batch)
        impl_->batch->discard();
    if (!wasOpen || !impl_->database.isOpen())
        return;
    impl_->database.rollback();
    if (impl_->engine == TargetEngine::Sqlite && impl_->commitMode == CommitMode::RolledBack) {
        QSqlQuery pragma(impl_->database);
        pragma.exec(QStringLiteral("PRAGMA cache_spill=ON"));
        pragma.exec(QStringLiteral("PRAGMA cache_size=-2000"));
    }
}

void TargetConnection::runStatement(QSqlQuery& query, const std::function<bool()>& attempt, Counting counting)
{
    settleRowsAhead();
    openGroupWhenWanted();
    if (counting == Counting::Counted)
        if (const std::optional<StatementFault> fault = countStatement())
            statementFailed(faultError(*fault));
    if (attempt()) {
        keepForReplay(query);
        return;
    }
    statementFailed(query.lastError());
}

void TargetConnection::statementFailed(const QSqlError& error)
{
    // The statements sent ahead are in the transaction the refusal doomed, and only a run of the
    // group again gives each of them its own outcome.
    if (impl_->aheadInGroup && impl_->engine == TargetEngine::Postgres
        && failureCodeKind(impl_->engine, error.nativeErrorCode()) == FailureCode::Row)
        takeBackRowsAhead();
    undoStatement(error);
    throwFailure(error);
}

void TargetConnection::writeBeforeCommit(const QString& key, const QString& statement, const QVariantList& values,
                                         Counting counting)
{
    if (!sendsRowsAhead()) {
        QSqlQuery& query = preparedWrite(statement);
        for (qsizetype place = 0; place < values.size(); ++place)
            query.bindValue(int(place), values.at(place));
        runStatement(query, [&] { return query.exec(); }, counting);
        return;
    }
    ensureOpen();
    openGroupWhenWanted();
    impl_->aheadInGroup = true;
    if (counting == Counting::Counted) {
        if (const std::optional<StatementFault> fault = countStatement()) {
            if (*fault == StatementFault::TargetFailed)
                throwFailure(faultError(*fault));
            impl_->keptRefused = true;
        }
    }
    impl_->keptForCommit.insert(key, {statement, values});
}

QSqlQuery& TargetConnection::preparedWrite(const QString& statement)
{
    const QString session = database().connectionName();
    if (impl_->writesPreparedOn != session) {
        impl_->writesPrepared.clear();
        impl_->writesPreparedOn = session;
    }
    // A query the connection let go of when it closed is empty.
    auto found = impl_->writesPrepared.constFind(statement);
    if (found == impl_->writesPrepared.cend() || (*found)->lastQuery().isEmpty()) {
        std::shared_ptr<QSqlQuery> query = preparedQuery();
        runStatement(*query, [&] { return query->prepare(statement); }, Counting::Uncounted);
        found = impl_->writesPrepared.insert(statement, query);
    }
    return **found;
}

void TargetConnection::setRowsAhead(bool wanted)
{
    impl_->rowsAheadWanted = wanted;
}

bool TargetConnection::rowsAheadPossible() const
{
    return impl_->batch && impl_->commitMode == CommitMode::Grouped;
}

bool TargetConnection::sendsRowsAhead() const
{
    return impl_->rowsAheadWanted && rowsAheadPossible();
}

void TargetConnection::sendAhead(const QString& statement, const QVariantList& values, bool changesARow)
{
    ensureOpen();
    openGroupWhenWanted();
    impl_->batch->attach(impl_->database);
    if (!impl_->batch->isAttached())
        throw TargetError(QStringLiteral("La base cible ne peut pas recevoir de lignes groupées."));
    impl_->aheadInGroup = true;
    if (const std::optional<StatementFault> fault = countStatement()) {
        if (*fault == StatementFault::TargetFailed)
            throwFailure(faultError(*fault));
        // Known, as an engine's refusal of a row ahead is, once the rows ahead are settled.
        if (!impl_->refusalAhead)
            impl_->refusalAhead = faultError(*fault);
        return;
    }
    impl_->batch->add(statement, values, changesARow);
}

// A refusal leaves the transaction unusable: the group is rolled back before anything else is
// asked of the session. A target failure ends the run as any statement's would.
void TargetConnection::settleRowsAhead()
{
    if (!impl_->batch || !impl_->batch->isAttached())
        return;
    std::optional<QSqlError> refusal = impl_->batch->settle();
    std::optional<QSqlError> faulted = std::exchange(impl_->refusalAhead, std::nullopt);
    if (!refusal)
        refusal = std::move(faulted);
    if (!refusal)
        return;
    const FailureCode kind = failureCodeKind(impl_->engine, refusal->nativeErrorCode());
    if (kind == FailureCode::Target)
        throwFailure(*refusal);
    impl_->database.rollback();
    impl_->groupOpen = false;
    if (kind == FailureCode::Unknown && !answers())
        throwFailure(*refusal);
    takeBackRowsAhead();
}

void TargetConnection::takeBackRowsAhead()
{
    if (impl_->batch)
        impl_->batch->discard();
    if (impl_->groupOpen && impl_->database.isOpen())
        impl_->database.rollback();
    impl_->groupOpen = false;
    impl_->journal.clear();
    forgetWorkAhead();
    impl_->statementsCounted = impl_->statementsAtCommit;
    throw RowsAheadRefused();
}

void TargetConnection::forgetWorkAhead()
{
    impl_->aheadInGroup = false;
    impl_->keptForCommit.clear();
    impl_->keptRefused = false;
    impl_->refusalAhead.reset();
}

// SQLite writes a changed page into the log file as soon as its cache is full; a rolled-back run
// must leave the files as they were, so every page stays in memory until the rollback.
void TargetConnection::openGroupWhenWanted()
{
    if (impl_->commitMode == CommitMode::EachRow || impl_->groupOpen)
        return;
    if (impl_->engine == TargetEngine::Sqlite && impl_->commitMode == CommitMode::RolledBack) {
        QSqlQuery pragma(impl_->database);
        pragma.exec(QStringLiteral("PRAGMA cache_spill=OFF"));
        pragma.exec(QStringLiteral("PRAGMA cache_size=-%1").arg(rolledBackCacheKibibytes));
    }
    if (!impl_->database.transaction())
        throwFailure(impl_->database.lastError());
    impl_->groupOpen = true;
    impl_->replayed = false;
    impl_->groupSavepointSet = false;
    impl_->groupClock.start();
    markRolledBackGroup();
}

// A rolled-back run is never committed: on PostgreSQL its groups are savepoints, so that a failed
// statement goes back only to the last one.
void TargetConnection::markRolledBackGroup()
{
    if (!impl_->journaling() || impl_->engine != TargetEngine::Postgres || impl_->commitMode != CommitMode::RolledBack)
        return;
    QSqlQuery savepoint(impl_->database);
    const QString mark = QStringLiteral("SAVEPOINT ") + groupSavepoint;
    if (!savepoint.exec(impl_->groupSavepointSet ? QStringLiteral("RELEASE SAVEPOINT %1; ").arg(groupSavepoint) + mark
                                                 : mark))
        throwFailure(savepoint.lastError());
    impl_->groupSavepointSet = true;
    impl_->journal.clear();
    impl_->replayed = false;
}

// A failed statement dooms a PostgreSQL transaction. Rather than a savepoint before every
// statement (a round trip each), the group keeps its statements that changed rows: after a
// failure, it goes back to its start and runs them again, so that the failed statement alone is
// undone. Groups are short, failures rare, and the group is committed right after.
void TargetConnection::keepForReplay(const QSqlQuery& query)
{
    if (impl_->journaling() && query.isActive() && !query.isSelect())
        impl_->journal.append({query.lastQuery(), query.boundValues()});
}

void TargetConnection::undoStatement(const QSqlError& failure)
{
    if (!impl_->groupOpen || failureCodeKind(impl_->engine, failure.nativeErrorCode()) == FailureCode::Target)
        return;
    if (impl_->engine == TargetEngine::SqlServer) {
        undoSqlServerStatement();
        return;
    }
    if (!impl_->journaling())
        return;
    QSqlQuery statement(impl_->database);
    const bool back = impl_->commitMode == CommitMode::RolledBack
                          ? statement.exec(QStringLiteral("ROLLBACK TO SAVEPOINT ") + groupSavepoint)
                          : impl_->database.rollback() && impl_->database.transaction();
    if (!back)
        loseGroup(impl_->database.lastError().isValid() ? impl_->database.lastError() : statement.lastError());
    runKeptStatementsAgain();
}

// SQL Server undoes a failed statement alone, except for the errors that end the transaction (a
// deadlock, an error inside a trigger, some conversions), which undo the whole group: the driver's
// next statement begins a new transaction, in which the group's statements before the failed one
// run again, as PostgreSQL's do. A check's one transaction cannot be rebuilt so: it ends.
void TargetConnection::undoSqlServerStatement()
{
    QSqlQuery count(impl_->database);
    if (!count.exec(QStringLiteral("SELECT @@TRANCOUNT")) || !count.next())
        loseGroup(count.lastError());
    if (count.value(0).toInt() > 0)
        return;
    if (impl_->commitMode == CommitMode::RolledBack)
        loseGroup(QSqlError());
    runKeptStatementsAgain();
}

void TargetConnection::runKeptStatementsAgain()
{
    QSqlQuery statement(impl_->database);
    for (const KeptStatement& kept : std::as_const(impl_->journal)) {
        const bool done = kept.values.isEmpty() ? statement.exec(kept.text) : statement.prepare(kept.text);
        for (qsizetype place = 0; place < kept.values.size(); ++place)
            statement.bindValue(int(place), kept.values.at(place));
        if (!done || (!kept.values.isEmpty() && !statement.exec()))
            loseGroup(statement.lastError());
    }
    impl_->replayed = true;
}

void TargetConnection::loseGroup(const QSqlError& error)
{
    forgetGroup();
    impl_->database.close();
    const QString reason = engineMessage(error);
    throw TargetUnavailable(reason.isEmpty() ? lostGroupText
                                             : QStringLiteral("Les dernières lignes importées n'ont pas pu être "
                                                              "rétablies après le refus d'une ligne : ")
                                                   + reason);
}

void TargetConnection::forgetGroup()
{
    if (impl_->batch)
        impl_->batch->detach();
    impl_->groupDropped = impl_->groupDropped || impl_->groupOpen;
    impl_->groupOpen = false;
    impl_->groupSavepointSet = false;
    impl_->journal.clear();
    forgetWorkAhead();
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
