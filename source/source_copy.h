#pragma once

#include "source/source_database.h"
#include "source/source_statement.h"

#include <QSet>
#include <QString>

#include <condition_variable>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <thread>

struct sqlite3;
struct sqlite3_stmt;

namespace p1 {

struct DatabaseCloser {
    void operator()(sqlite3* database) const;
};
using DatabasePointer = std::unique_ptr<sqlite3, DatabaseCloser>;

// A source table copied once into an in-memory database of its own, so that its memory can be
// given back on its own: its rows in physical order (the row id), its columns with their source
// types, and the indexes made on it.
struct CopiedTable {
    QString name;        // as the file's catalog writes it
    QString quotedName;  // for SQL texts
    QList<SourceColumn> columns;
    QSet<QString> indexes; // the columns of each index, case-folded, one per line
    DatabasePointer database;
    bool writtenOut = false; // the database waits in a temporary file, out of memory

    int columnIndex(const QString& name) const; // without regard to case; -1 when absent
};

// The in-memory SQLite copies in which a source connection runs its statements, each of which
// reads one table. Text columns compare without regard to case, as Jet's do; date-times are
// stored as milliseconds from the zero day, so that they order chronologically before 1899 too.
// UI thread only, but for the indexes made ahead: those are made on a thread of their own, each
// on a copy that nothing else uses meanwhile: no statement is prepared on a table whose indexes
// are made ahead, and the calls below on a table wait for them.
// A copy whose indexes are made ahead waits in a temporary file until a statement or an index
// wants it, so that the copies of the later stages' tables take no memory from the earlier ones;
// it is then read back into memory whole, as it was.
class MemoryCopy {
public:
    explicit MemoryCopy(const SourceDatabase& database);
    ~MemoryCopy(); // an index being made ahead is interrupted, those not begun are not made
    MemoryCopy(const MemoryCopy&) = delete;
    MemoryCopy& operator=(const MemoryCopy&) = delete;

    const SourceDatabase& database() const { return database_; }

    // Copies the table on first use. Throws SourceError for a missing or unreadable table.
    const CopiedTable& table(const QString& name);
    // The table's exact name and columns, for translating a statement; copies it on first use.
    StatementTable statementTable(const QString& name);
    void ensureIndex(const QString& table, const QStringList& columns);
    // The indexes statements on the table will want, made while the program goes on with other
    // tables: a whole table's sort then costs a stage nothing. One that cannot be made ahead is
    // made, or fails with its error, when a statement wants it; none is made ahead on a table a
    // statement is prepared on (it is read meanwhile).
    void makeIndexesAhead(const QString& table, const QList<QStringList>& indexes);
    // Gives the memory of the table's copy back; a later statement on it copies it again. A copy
    // that a statement is still prepared on stays.
    void release(const QString& name);
    bool holds(const QString& name) const { return tables_.contains(name.toCaseFolded()); }
    // Whether the table's copy waits in its temporary file.
    bool writtenOut(const QString& name);

private:
    struct IndexAhead {
        CopiedTable* table;
        QStringList columns;
    };
    DatabasePointer openDatabase(const char* path = ":memory:") const;
    void writeOut(CopiedTable& table, std::unique_lock<std::mutex>& lock);
    void readBack(CopiedTable& table) const;
    bool wantedSoon(const CopiedTable& table) const; // with the lock held
    void copyRows(const CopiedTable& table);
    CopiedTable& copied(const QString& name);
    void makeIndex(CopiedTable& table, const QStringList& columns, std::unique_lock<std::mutex>& lock);
    bool indexedAhead(const CopiedTable& table) const; // with the lock held
    void waitForIndexesAhead(const CopiedTable& table, std::unique_lock<std::mutex>& lock);
    void makeIndexesAheadInTurn();

    const SourceDatabase& database_;
    std::map<QString, CopiedTable> tables_; // by case-folded name; references stay valid

    // The indexes made ahead, in turn; indexes of every table are read and written under the lock.
    std::mutex indexesMutex_;
    std::condition_variable indexesChanged_;
    std::deque<IndexAhead> indexesAhead_;
    const CopiedTable* indexedAhead_ = nullptr; // the table whose index is being made ahead
    const CopiedTable* awaited_ = nullptr;      // the table the UI thread waits for
    bool stopping_ = false;
    std::thread indexer_;
};

// The indexes a statement reads through: rows in an order come from an index in that order
// instead of being sorted at every reading, the rows a filter finds (a consultation's lines, read
// once per consultation) or a whole table (a stage's rows), whose sort would go through temporary
// files. That index begins with the filter's columns, so it serves the filter too: a second index
// on them alone would cost the table's sort once more.
QList<QStringList> indexesFor(const CopyStatement& statement);

// Throws SourceError with what failed and SQLite's message.
[[noreturn]] void failOn(sqlite3* database, const QString& what);

QString quotedIdentifier(const QString& name);

struct StatementFinalizer {
    void operator()(sqlite3_stmt* statement) const;
};
using StatementPointer = std::unique_ptr<sqlite3_stmt, StatementFinalizer>;

// The in-memory copy's storage of a source value, and back.
void bindSourceValue(sqlite3_stmt* statement, int index, const SourceValue& value);
SourceValue columnSourceValue(sqlite3_stmt* statement, int index, SourceType type);

} // namespace p1
