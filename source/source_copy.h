#pragma once

#include "source/source_database.h"

#include <QSet>
#include <QString>

#include <map>
#include <memory>

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

    int columnIndex(const QString& name) const; // without regard to case; -1 when absent
};

// The in-memory SQLite copies in which a source connection runs its statements, each of which
// reads one table. Text columns compare without regard to case, as Jet's do; date-times are
// stored as milliseconds from the zero day, so that they order chronologically before 1899 too.
// UI thread only.
class MemoryCopy {
public:
    explicit MemoryCopy(const SourceDatabase& database);
    ~MemoryCopy();
    MemoryCopy(const MemoryCopy&) = delete;
    MemoryCopy& operator=(const MemoryCopy&) = delete;

    const SourceDatabase& database() const { return database_; }

    // Copies the table on first use. Throws SourceError for a missing or unreadable table.
    const CopiedTable& table(const QString& name);
    void ensureIndex(const QString& table, const QStringList& columns);
    // Gives the memory of the table's copy back; a later statement on it copies it again. A copy
    // that a statement is still prepared on stays.
    void release(const QString& name);
    bool holds(const QString& name) const { return tables_.contains(name.toCaseFolded()); }

private:
    DatabasePointer openDatabase() const;
    void copyRows(const CopiedTable& table);

    const SourceDatabase& database_;
    std::map<QString, CopiedTable> tables_; // by case-folded name; references stay valid
    int indexCount_ = 0;
};

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
