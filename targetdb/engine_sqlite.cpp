#include "targetdb/engine_units.h"

#include "targetdb/sqlite_batch.h"
#include "targetdb/sqlite_files.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSqlQuery>

#include <sqlite3.h>

namespace p1 {

namespace {

const QByteArray sqliteHeader("SQLite format 3\0", 16);
// A rolled-back run on SQLite holds every page it changes in memory (up to about this many KiB)
// rather than spilling it into the log file before the rollback.
constexpr int rolledBackCacheKibibytes = 4 * 1024 * 1024;

// The primary result code is the low byte of an extended one (SQLITE_IOERR_WRITE, ...). Through
// ODBC the code is the driver's SQLSTATE (S1000 for every error) and SQLite's own code.
FailureCode sqliteFailureKind(const QString& code)
{
    bool numeric = false;
    int result = 0;
    for (const QString& part : codeParts(code)) {
        result = part.toInt(&numeric);
        if (numeric)
            break;
    }
    if (!numeric)
        return FailureCode::Unknown;
    switch (result & 0xff) {
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

class SqliteUnit final : public TargetEngineUnit {
public:
    explicit SqliteUnit(const QString& odbcDriver) : TargetEngineUnit(odbcDriver) {}

    TargetEngine engine() const override { return TargetEngine::Sqlite; }
    QString commandLineName() const override { return QStringLiteral("sqlite"); }

    QSqlDatabase addDatabase(const QString& connectionName, const ConnectionStringParts& parts,
                             const QString& baseFolder) const override
    {
        const QString file = databaseFile(parts, baseFolder);
        if (throughOdbc())
            return addOdbcDatabase(connectionName, QStringLiteral("DRIVER={%1};Database=%2;Timeout=%3")
                                                       .arg(odbcDriver(), odbcValue(file))
                                                       .arg(lockWaitSeconds * 1000));
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), connectionName);
        db.setDatabaseName(file);
        db.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=%1").arg(lockWaitSeconds * 1000));
        return db;
    }

    QString databaseFile(const ConnectionStringParts& parts, const QString& baseFolder) const override
    {
        if (QDir::isAbsolutePath(parts.initialCatalog) || baseFolder.isEmpty())
            return parts.initialCatalog;
        return QDir(baseFolder).filePath(parts.initialCatalog);
    }

    // SQLite takes an empty or missing file for an empty database, and would write its header
    // into whatever file it is given: only a file that already holds a database is opened.
    QString openingProblem(const ConnectionStringParts& parts, const QString& baseFolder) const override
    {
        const QString file = databaseFile(parts, baseFolder);
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

    // SQLite reads nothing before the first statement.
    QString probeStatement() const override { return QStringLiteral("SELECT count(*) FROM sqlite_master"); }

    // Rows may be committed one at a time (and are, outside import runs): in the default rollback
    // journal every commit would wait for two disk syncs. The write-ahead log (which an import
    // switches to) with NORMAL synchronisation syncs at checkpoints only and still survives a
    // crash of the program; makeCommittedDurable() checkpoints, or syncs the log.
    void tuneSession(QSqlDatabase& session) const override
    {
        QSqlQuery pragma(session);
        pragma.exec(QStringLiteral("PRAGMA synchronous=NORMAL"));
    }

    bool isEngineTable(const QString& name) const override
    {
        return name.startsWith(QStringLiteral("sqlite_"), Qt::CaseInsensitive);
    }

    void letFilesChange(QSqlDatabase& session, FileChanges changes, bool logFoundAtOpening) const override
    {
        letSqliteFilesChange(session, changes, logFoundAtOpening);
    }

    bool logLeftBeside(const QString& databaseFile) const override
    {
        return QFileInfo::exists(sqliteLogFile(databaseFile));
    }

    FailureCode failureKind(const QString& code) const override { return sqliteFailureKind(code); }

    QString faultCode(StatementFault kind) const override
    {
        return kind == StatementFault::TargetFailed ? QStringLiteral("10") : QStringLiteral("19");
    }

    FailedStatementUndo failedStatementUndo() const override { return FailedStatementUndo::Alone; }

    // SQLite writes a changed page into the log file as soon as its cache is full; a rolled-back
    // run must leave the files as they were, so every page stays in memory until the rollback.
    void holdChangesInMemory(QSqlDatabase& session, bool held) const override
    {
        QSqlQuery pragma(session);
        pragma.exec(held ? QStringLiteral("PRAGMA cache_spill=OFF") : QStringLiteral("PRAGMA cache_spill=ON"));
        pragma.exec(held ? QStringLiteral("PRAGMA cache_size=-%1").arg(rolledBackCacheKibibytes)
                         : QStringLiteral("PRAGMA cache_size=-2000"));
    }

    // The thread runs SQLite's own statements on the connection's handle, which only Qt's own
    // driver gives.
    std::unique_ptr<RowsAheadBatch> rowsAheadBatch() const override
    {
        if (throughOdbc())
            return nullptr;
        return std::make_unique<SqliteBatch>();
    }

    // A checkpoint syncs the log before it copies it into the database file, and syncs that file
    // after. It passes no page another program still reads (a database browser left open), and
    // does not wait for it: what it could not copy is made durable in the log itself, by a commit
    // under full synchronisation, which syncs the log and so every commit before it. That commit
    // rewrites the database's user version as it stands, the one change it can make that changes
    // nothing.
    std::optional<QSqlError> makeCommittedDurable(QSqlDatabase& session) const override
    {
        QSqlQuery statement(session);
        if (!statement.exec(QStringLiteral("PRAGMA wal_checkpoint(PASSIVE)")) || !statement.next())
            return errorOf(statement);
        const bool wholeLogCopied = statement.value(1).toInt() == statement.value(2).toInt();
        statement.finish();
        if (wholeLogCopied)
            return std::nullopt;
        if (!statement.exec(QStringLiteral("PRAGMA user_version")) || !statement.next())
            return errorOf(statement);
        const qint64 version = statement.value(0).toLongLong();
        statement.finish();
        const bool committed = statement.exec(QStringLiteral("PRAGMA synchronous=FULL"))
                               && statement.exec(QStringLiteral("PRAGMA user_version=%1").arg(version));
        const QSqlError error = errorOf(statement);
        statement.exec(QStringLiteral("PRAGMA synchronous=NORMAL"));
        if (!committed)
            return error;
        return std::nullopt;
    }

    // SQLite keeps only the declared types, which Qt does not pass on for date-times.
    TableFacts tableFacts() const override { return TableFacts::DeclaredTypes; }

    QVariant booleanParameter(bool value) const override { return value ? 1 : 0; }

    QString columnType(SchemaType type, int size, const QString& column) const override
    {
        switch (type) {
        case SchemaType::Key: return QStringLiteral("INTEGER NOT NULL PRIMARY KEY");
        case SchemaType::Integer: return QStringLiteral("INTEGER");
        case SchemaType::Boolean: return QStringLiteral("BOOLEAN");
        case SchemaType::DateTime: return QStringLiteral("DATETIME");
        // SQLite keeps any length: the check refuses an over-long text as the servers do.
        case SchemaType::Text: return QStringLiteral("VARCHAR(%1) CHECK (length(%2) <= %1)").arg(size).arg(column);
        case SchemaType::Memo: return QStringLiteral("TEXT");
        }
        return {};
    }

    QString quotedName(const QString& name) const override
    {
        return u'"' + QString(name).replace(u'"', QStringLiteral("\"\"")) + u'"';
    }

    QString claimStatement() const override { return {}; }

    TargetCreation creation() const override { return TargetCreation::EmbeddedFile; }
};

} // namespace

std::shared_ptr<const TargetEngineUnit> makeSqliteUnit(const QString& odbcDriver)
{
    return std::make_shared<SqliteUnit>(odbcDriver);
}

} // namespace p1
