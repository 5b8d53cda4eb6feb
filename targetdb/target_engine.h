#pragma once

#include <QSqlDatabase>
#include <QSqlError>
#include <QString>
#include <QVariant>

#include <memory>
#include <optional>

class QSqlQuery;

namespace p1 {

// The target engine behind the system's SQL Server connection string. SQL Server over ODBC
// (FreeTDS) in production; SQLite (Initial Catalog = database file, relative to the target base
// folder) and PostgreSQL (Data Source = host[:port] or socket folder) run the same code.
enum class TargetEngine { SqlServer, Sqlite, Postgres };

struct ConnectionStringParts {
    QString dataSource;
    QString initialCatalog;
    QString userId;
    QString password;
};

// What an engine's error code says of a failed statement: the target refused the statement for
// its data, the target itself failed, or the code does not tell.
enum class FailureCode { Row, Target, Unknown };

// Test only: how the statement a fault hits fails. Refused: as the engine refuses a statement for
// its data (a key already there); TargetFailed: as a target that fails (disk full, I/O error).
enum class StatementFault { Refused, TargetFailed };

// What a run may do to the target's files besides storing its rows (SQLite only: a server keeps
// its files to itself). Until a run says, an opening changes nothing of them.
enum class FileChanges {
    // An import: a SQLite database goes over to its write-ahead log, for good, as the file's
    // header then records.
    Allowed,
    // A check: every byte stays as it was. A rollback journal is kept in memory, and a log an
    // earlier program left (after a crash) is not copied into the database at the close. SQLite's
    // index of the log in shared memory (-shm), which every program reading the database
    // rewrites, is the one file this does not cover.
    None,
};

// How the engine treats a statement that failed inside an open transaction.
enum class FailedStatementUndo {
    Alone,              // the engine undoes that statement only
    Replayed,           // the transaction is doomed: it is rolled back and its statements run again
    ByTransactionCount, // most failures undo the statement alone, some end the transaction: the
                        // engine's count of open transactions tells which
};

// Where a dataset learns its table's column types and key.
enum class TableFacts { DeclaredTypes, ServerCatalogue };

// How --init-target makes an empty target on the engine.
enum class TargetCreation { EmbeddedFile, ServerDatabase, None };

// The types of the target schema's columns, each engine spelling them its own way.
enum class SchemaType { Key, Integer, Boolean, DateTime, Text, Memo };

enum class ColumnKind;
class RowsAheadBatch;

// Everything one engine does differently, so that no code above it asks which engine it talks
// to: the SQL it speaks (schema, quoting, session settings, catalogue, claim, durability) and,
// chosen apart, how the program reaches it: the engine's own Qt driver, or Qt's ODBC driver
// through an ODBC driver named as odbcinst.ini names it (SQL Server is reached no other way).
// The ODBC path changes what the engine's errors and values look like to the program, and the
// unit hides that too. Immutable once made: any thread may ask it.
class TargetEngineUnit {
public:
    virtual ~TargetEngineUnit() = default;

    virtual TargetEngine engine() const = 0;
    // The word of --target-engine and P1IMPORT_TARGET_ENGINE.
    virtual QString commandLineName() const = 0;
    // Empty when the engine's own Qt driver is used.
    const QString& odbcDriver() const { return odbcDriver_; }
    bool throughOdbc() const { return !odbcDriver_.isEmpty(); }

    // A Qt connection of that name, set up (not opened) to reach the database the parts name.
    virtual QSqlDatabase addDatabase(const QString& connectionName, const ConnectionStringParts& parts,
                                     const QString& baseFolder) const = 0;
    // The database file of an embedded engine (Initial Catalog against the base folder); empty
    // for a server.
    virtual QString databaseFile(const ConnectionStringParts& parts, const QString& baseFolder) const;
    // What makes the database unfit to be opened, told before any attempt; empty when nothing.
    virtual QString openingProblem(const ConnectionStringParts& parts, const QString& baseFolder) const;
    // A statement that reads the database itself, so that an opening the engine accepted on
    // trust or a connection that died is found out.
    virtual QString probeStatement() const;
    // The settings of the run's session once it is open, and of a side session.
    virtual void tuneSession(QSqlDatabase& session) const = 0;
    virtual void tuneSideSession(QSqlDatabase& session) const;
    // A table the engine lists that belongs to the engine (or another schema), not the target.
    virtual bool isEngineTable(const QString& name) const;

    // The engine's own files (SQLite): what the run may change of them, and whether the log of an
    // earlier program lay beside the database before this opening.
    virtual void letFilesChange(QSqlDatabase& session, FileChanges changes, bool logFoundAtOpening) const;
    virtual bool logLeftBeside(const QString& databaseFile) const;

    // The error of a failed statement or of a failed request of the session, with the code
    // failureKind() reads (through ODBC, the driver's SQLSTATE beside its native code).
    QSqlError errorOf(const QSqlQuery& query) const;
    QSqlError errorOf(const QSqlDatabase& session) const;
    virtual FailureCode failureKind(const QString& code) const = 0;
    // The code of a test's fault, one the engine's own refusals or failures bear.
    virtual QString faultCode(StatementFault kind) const = 0;

    virtual FailedStatementUndo failedStatementUndo() const = 0;
    // The statement that counts the session's open transactions (ByTransactionCount).
    virtual QString transactionCountStatement() const;
    // A refusal inside a transaction that holds rows sent ahead dooms those rows too.
    virtual bool refusalDoomsRowsAhead() const;
    // A rolled-back run's groups are savepoints, so that a failed statement goes back to the last.
    virtual bool rolledBackGroupsAreSavepoints() const;
    // A rolled-back run keeps every change in memory until its rollback (held) or no longer.
    virtual void holdChangesInMemory(QSqlDatabase& session, bool held) const;
    // Statements sent ahead of their outcome, on a session of the engine's own driver; none when
    // each statement waits for its answer.
    virtual std::unique_ptr<RowsAheadBatch> rowsAheadBatch() const;
    // Makes everything committed survive a crash of the engine or the machine; the error of the
    // request that failed, if one did.
    virtual std::optional<QSqlError> makeCommittedDurable(QSqlDatabase& session) const = 0;

    // Catalogue facts read by the datasets.
    virtual TableFacts tableFacts() const;
    // The columns of a table (its name bound) that keep date-times to 1/300 s; empty when the
    // engine has none.
    virtual QString coarseDateTimeColumnsStatement() const;

    // How a value in the layer's own form is bound: a typed null of the column's kind, a
    // date-time, a boolean.
    virtual QVariant nullParameter(ColumnKind kind) const;
    virtual QVariant dateTimeParameter(const QDateTime& dateTime) const;
    virtual QVariant booleanParameter(bool value) const;

    // The schema's column types and defaults in the engine's dialect.
    virtual QString columnType(SchemaType type, int size, const QString& column) const = 0;
    virtual QString defaultValue(SchemaType type, const QString& value) const;
    // A table name that is not a plain word, quoted as the engine reads it.
    virtual QString quotedName(const QString& name) const = 0;

    // The claim of one run per target: a statement a side session runs, answering 1 when the
    // claim is now held; empty for a lock file beside the database.
    virtual QString claimStatement() const = 0;
    // The statements that tell another session keeping a written transaction open: the own
    // session's identifier, then the other session's (%1: the own one); empty when not told.
    virtual QString sessionIdentifierStatement() const;
    virtual QString otherWritersStatement() const;

    virtual TargetCreation creation() const;

protected:
    explicit TargetEngineUnit(QString odbcDriver) : odbcDriver_(std::move(odbcDriver)) {}

private:
    QString odbcDriver_;
};

// The engine's unit, reached through the given ODBC driver or, when it is empty, through the
// engine's own Qt driver (SQL Server: FreeTDS).
std::shared_ptr<const TargetEngineUnit> makeEngineUnit(TargetEngine engine, const QString& odbcDriver = {});
// The unit of the engine's default transport, made once.
const TargetEngineUnit& defaultEngineUnit(TargetEngine engine);

// "sqlserver", "sqlite", "postgres" (the units' words); nullopt for anything else.
std::optional<TargetEngine> targetEngineFromName(const QString& name);
// P1IMPORT_TARGET_ENGINE when set to a known name, else SQL Server.
TargetEngine defaultTargetEngine();
// The engine whose unit makes an empty target that way.
std::optional<TargetEngine> engineCreating(TargetCreation creation);
// What the code says of a failed statement on the engine reached its default way.
FailureCode failureCodeKind(TargetEngine engine, const QString& code);

} // namespace p1
