#pragma once

#include "targetdb/target_engine.h"

#include <QHash>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QSqlError>
#include <QSet>
#include <QStringList>
#include <QVariant>

#include <functional>
#include <memory>
#include <optional>

namespace p1 {

// A text longer than the size its target column declares: SQL Server and PostgreSQL refuse it, a
// SQLite column without a check of its own keeps it whole.
struct OversizedText {
    QString table;
    QString column;
    int size = 0;
    QString value;
};

ConnectionStringParts parseConnectionString(const QString& connectionString);
// The DSN-less ODBC connection string for SQL Server through the given ODBC driver:
// "DRIVER={FreeTDS};SERVER=host;PORT=1433;DATABASE=...;UID=...;PWD=...;TDS_Version=7.4".
// Data Source may be "host", "host,port" or "host\instance".
QString odbcConnectionString(const ConnectionStringParts& parts, const QString& driver = "FreeTDS");

// How the statements of a run reach the target. Every mode gives each statement the same outcome:
// one that fails undoes itself alone, the statements around it keep their effect.
enum class CommitMode {
    EachRow,    // each statement is committed on its own, as it runs
    Grouped,    // statements gather in an open group, committed by commitGroup()
    RolledBack, // one group holds everything until endGroup() rolls it back: the target is left
                // exactly as it was, and nothing (makeDurable() included) commits meanwhile
};

// Grouped, or EachRow when the environment variable P1IMPORT_COMMIT_EACH_ROW is 1.
CommitMode defaultCommitMode();

// The engine refused one of the rows sent ahead of their outcome (or a statement whose refusal
// dooms the group they belong to), and the group was rolled back. Not a std::exception: no
// handler of a row's or of a statement's errors may take it for one of them; the stage runs the
// group again, row by row (stages/row_groups.h).
struct RowsAheadRefused {};

// Whether a statement counts among the statements of a run that a test's fault can hit: those
// the import's logic runs (a dataset's open, insert or update, an ID_VALUES or purge statement),
// in the same order whatever the commit mode. Preparations, commits, replays, reads again and the
// counters kept for durability are the mechanism's own and never count.
enum class Counting { Counted, Uncounted };

// ADOConnectionTessaris. The password lives only in the connection string: it appears in no
// error text. A closed connection is reopened on demand by the statements and datasets.
// UI thread only.
class TargetConnection {
public:
    explicit TargetConnection(TargetEngine engine = defaultTargetEngine());
    ~TargetConnection();
    TargetConnection(const TargetConnection&) = delete;
    TargetConnection& operator=(const TargetConnection&) = delete;

    TargetEngine engine() const;
    // What the engine does differently, as this connection reaches it.
    const TargetEngineUnit& unit() const;
    void setConnectionString(const QString& connectionString);
    // Folder against which a relative SQLite Initial Catalog is resolved.
    void setBaseFolder(const QString& folder);
    // The ODBC driver through which the engine is reached, as odbcinst.ini names it: SQL Server
    // through FreeTDS when empty, the other engines through their own Qt driver.
    void setOdbcDriver(const QString& driver);

    void open();       // throws TargetError
    void close();
    bool isOpen() const;
    // Opens with the last settings when closed; a connection lost (not closed by the program) is
    // opened again once per run step, then TargetUnavailable is thrown.
    void ensureOpen();
    // A run step (the purge, a stage) begins: it may open a lost connection again once.
    void startRunStep();

    // Names of the tables and views, system tables excluded, as the engine lists them. Throws
    // TargetError when the target cannot be read: an empty list means an empty target.
    QStringList tableAndViewNames();

    // What the run that begins may change in the target's files, for this opening and the next.
    void allowFileChanges(FileChanges changes);

    // Ends an open group as endGroup() does. EachRow unless set: an import run sets its own.
    void setCommitMode(CommitMode mode);
    CommitMode commitMode() const;
    // Grouped: commits the open group; true when what it held is now in the target, false when
    // the engine had dropped it (a target failure closed the connection): none of it was kept.
    // Throws TargetError when the commit fails. RolledBack: a new group begins, never committed;
    // false likewise when the engine dropped the last one. EachRow: true, nothing done.
    bool commitGroup();
    // A group has been open for a second or more, or was run again after a failed statement:
    // commitGroup() is due at the next row boundary.
    bool groupDue() const;
    // Rolls back whatever group is open (Grouped: only reads follow the last commitGroup()).
    // Never throws: a group the engine could not roll back was dropped with the connection.
    void endGroup();

    // While wanted, in Grouped mode, the datasets' inserts and updates are sent ahead of their
    // outcome (sendAhead()): to PostgreSQL hundreds to a round trip, to SQLite onto a thread of
    // their own, so that the engine works while the next rows are prepared. Any other use of the
    // session settles them first, whether still wanted or not: a refusal among them rolls the
    // group back and throws RowsAheadRefused. SQL Server waits for each row's answer.
    void setRowsAhead(bool wanted);
    // While wanted, in Grouped mode on an engine where a refusal dooms the transaction, a savepoint
    // precedes each statement run directly, so that a refusal is undone alone (back to that
    // savepoint) instead of by the group's rollback and the run again of its statements, and
    // dooms neither the group nor the rows it sent ahead. A round trip more for each statement
    // stored: wanted where refusals are seen, not for every row.
    void setStatementsGuarded(bool wanted);
    // PostgreSQL or SQLite in Grouped mode: rows would go ahead if wanted.
    bool rowsAheadPossible() const;
    bool sendsRowsAhead() const;
    // A statement with "?" placeholders and its values; changesARow: it fails unless it changes
    // a row. Throws TargetError when the session cannot take it.
    void sendAhead(const QString& statement, const QVariantList& values, bool changesARow);
    // Waits for the outcome of every statement sent ahead; throws RowsAheadRefused when the
    // engine refused one for its data, TargetUnavailable when the target failed.
    void settleRowsAhead();
    // The group is taken back as if the engine had refused one of its rows, for a reason of the
    // program's own (a file it went with could not be made): rolled back, RowsAheadRefused thrown.
    [[noreturn]] void takeBackRowsAhead();

    // Runs one attempt at a statement (its prepare or its exec, whose result it returns), so that
    // inside a group a failure undoes that statement alone; a failure is thrown as throwFailure()
    // throws it. On PostgreSQL a refusal inside a group that holds rows sent ahead takes the group
    // back (RowsAheadRefused): the failed statement doomed them too.
    void runStatement(QSqlQuery& query, const std::function<bool()>& attempt,
                      Counting counting = Counting::Counted);
    // A statement with "?" placeholders that need not run before the group's commit: while rows go
    // ahead it is kept and written just before the commit, a later one of the same key taking its
    // place (a counter raised many times costs one update); a refusal then takes the group back.
    // Otherwise it runs at once, as runStatement() runs a statement.
    void writeBeforeCommit(const QString& key, const QString& statement, const QVariantList& values,
                           Counting counting);

    // Test only: the statement numbered `ordinal` among the counted statements from now on fails
    // as `kind` says, every time it runs (a group run again runs it again); nullopt: none fails.
    // A group taken back counts its statements again.
    void failStatement(std::optional<qint64> ordinal, StatementFault kind = StatementFault::Refused);
    qint64 statementsCounted() const;
    // Test only: the text of every statement run from now on is added to `texts` (nullptr: no
    // longer), so that what a run sends can be read by another engine's parser.
    void recordStatementTexts(QSet<QString>* texts);
    // Test only: how long a group stays open before its commit is due (a second); 0 makes every
    // row a group of its own.
    void setGroupMilliseconds(qint64 milliseconds);

    // Everything committed so far survives a crash of the engine or of the machine once this
    // returns (rows may be committed asynchronously before). Commits an open Grouped group first;
    // does nothing in RolledBack mode. Throws TargetError.
    void makeDurable();

    QSqlDatabase database(); // ensures it is open
    // A statement on the open session that the connection lets go of before it closes: the server
    // frees a prepared statement only while its session is open.
    std::shared_ptr<QSqlQuery> preparedQuery();
    // The engine's own text of an error (databaseText, else text), the password blanked out.
    QString engineMessage(const QSqlError& error) const;
    // Throws the error of a failed statement with the engine's message: TargetUnavailable when
    // the engine's code says that the target itself failed, or when it gave no code and the
    // connection no longer answers; TargetError for a statement refused for its data. A failed
    // target is closed as lost, so that the next run step reconnects once.
    [[noreturn]] void throwFailure(const QSqlError& error);
    // The same for the statement that failed, with the code its engine gives.
    [[noreturn]] void throwFailure(const QSqlQuery& failed);

    // While watched, every text a dataset stores is compared with its column's declared size
    // first, and the oversized ones are kept until taken (whether the engine then stores the row
    // or refuses it).
    void watchColumnSizes(bool watched);
    bool columnSizesWatched() const;
    void noteOversizedText(OversizedText text);
    QList<OversizedText> takeOversizedTexts();

    // A second session on the same database, opened with the same settings and closed with the
    // connection, for what must outlive a reconnection of the main session (the run's claim).
    QSqlDatabase openSideSession();
    // The SQLite engine's database file (Initial Catalog, against the base folder).
    QString sqliteDatabaseFile() const;

private:
    // Throws TargetError when the database cannot be read.
    void proveUsable();
    bool answers();
    void releasePreparedQueries();
    void dropSession();
    void openGroupWhenWanted();
    void markRolledBackGroup();
    bool guardsStatements() const;
    void guardStatement();
    bool undoneToGuard();
    void passGuard(const QSqlQuery& query);
    void sendGuardCommand(const QString& command);
    void keepForReplay(const QSqlQuery& query);
    void undoStatement(const QSqlError& failure);
    void undoByTransactionCount();
    void runKeptStatementsAgain();
    std::optional<StatementFault> countStatement();
    QSqlError faultError(StatementFault kind) const;
    [[noreturn]] void statementFailed(const QSqlError& error);
    void writeKeptStatements();
    QSqlQuery& preparedWrite(const QString& statement);
    void forgetWorkAhead();
    [[noreturn]] void loseGroup(const QSqlError& error);
    void forgetGroup();

    struct Impl;
    std::unique_ptr<Impl> impl_;
};

// A new, empty SQLite database at the path; the connection opens existing databases only.
// Throws TargetError when the file exists or cannot be written.
void createSqliteDatabase(const QString& path);

// A value read from the target: text, integer, date-time, boolean, with the source's null rules.
class TargetField {
public:
    explicit TargetField(QVariant value = {}) : value_(std::move(value)) {}
    bool isNull() const;
    QString asText() const;
    qint64 asInteger() const;
    QDateTime asDateTime() const;
    bool asBoolean() const;
    const QVariant& value() const { return value_; }

private:
    QVariant value_;
};

// A statement with ":name" parameters (Qry1 and the ID_VALUES statements).
class TargetStatement {
public:
    explicit TargetStatement(TargetConnection& connection, QStringList lines = {});
    ~TargetStatement();

    QStringList& sql();
    const QStringList& sql() const;
    void setParameter(const QString& name, const QVariant& value);

    void execute(); // no result; throws TargetError with the engine's message
    void open();    // with result; throws TargetError
    void close();
    int recordCount() const;
    bool eof() const;
    void next();
    TargetField field(const QString& name) const;

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

// A whole-table dataset ("SELECT * FROM T", optionally with ORDER BY, or a WHERE with ":name"
// parameters, bound as a statement binds them). Rows can be walked, appended and edited; an
// insert writes only the columns that were set, so the others keep the target's defaults.
// locate() is a hash look-up over the loaded rows and the rows appended or stored since. A
// refused post() throws TargetError with the engine's own text and leaves the row pending, so
// that cancel() makes the dataset usable again. Long texts no locate compares are not held for
// every row: field() and edit() read them again by the row's key, and throw TargetError when the
// row is no longer in the target.
class TargetDataset {
public:
    explicit TargetDataset(TargetConnection& connection);
    ~TargetDataset();

    void setCommandText(const QString& text);
    void setParameter(const QString& name, const QVariant& value); // used at the next open()
    QString commandText() const;
    void open();  // throws TargetError
    void close();
    bool isOpen() const;

    int recordCount() const;
    bool eof() const;
    void first();
    void next();

    // Exact match on one or two columns (names without regard to case); moves to the first
    // matching row in dataset order and returns true, or returns false and stays put.
    bool locate(const QStringList& columns, const QVariantList& values);

    void append(); // starts a pending new row
    void edit();   // starts a pending change of the current row
    // A null QVariant stores NULL. Text, integers, bool, QDate and QDateTime are converted to the
    // column's type by the engine. Throws TargetError for an unknown column.
    void setValue(const QString& column, const QVariant& value);
    void post();   // stores the pending row
    void cancel(); // drops the pending row
    bool isPending() const;

    // Remembers the rows as they are; backToMark() puts them back: the rows appended since are
    // dropped, the rows changed since get their values back, a pending row is dropped. For rows
    // stored ahead of their outcome, in a group the engine then refused.
    void mark();
    void backToMark();

    TargetField field(const QString& column) const; // current row, pending values included
    QStringList fieldNames() const;                  // as the engine names the columns
    // The highest value of an integer column among the rows held, those stored since opening
    // included; 0 when none is above 0. Kept up to date once asked for, not read again.
    qint64 highestValue(const QString& column);

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

} // namespace p1
