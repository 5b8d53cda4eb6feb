#pragma once

#include "source/source_database.h"

#include <QSet>
#include <QString>

#include <map>
#include <memory>

struct sqlite3;
struct sqlite3_stmt;

namespace p1 {

// A source table copied once into the in-memory database: its rows in physical order (the row id), its
// columns with their source types, and the indexes made on it.
struct CopiedTable {
    QString name;        // as the file's catalog writes it
    QString quotedName;  // for SQL texts
    QList<SourceColumn> columns;
    QSet<QString> indexes; // the columns of each index, case-folded, one per line

    int columnIndex(const QString& name) const; // without regard to case; -1 when absent
};

// The in-memory SQLite database in which a source connection runs its statements. Text columns
// compare without regard to case, as Jet's do; date-times are stored as milliseconds from the
// zero day, so that they order chronologically before 1899 too. UI thread only.
class MemoryCopy {
public:
    explicit MemoryCopy(const SourceDatabase& database);
    ~MemoryCopy();
    MemoryCopy(const MemoryCopy&) = delete;
    MemoryCopy& operator=(const MemoryCopy&) = delete;

    const SourceDatabase& database() const { return database_; }
    sqlite3* handle() const { return db_; }

    // Copies the table on first use. Throws SourceError for a missing or unreadable table.
    const CopiedTable& table(const QString& name);
    void ensureIndex(const QString& table, const QStringList& columns);

    [[noreturn]] void fail(const QString& what) const; // with SQLite's message

private:
    void execute(const QString& sql);
    void copyRows(const CopiedTable& table);

    const SourceDatabase& database_;
    sqlite3* db_ = nullptr;
    std::map<QString, CopiedTable> tables_; // by case-folded name; references stay valid
    int indexCount_ = 0;
};

QString quotedIdentifier(const QString& name);

struct StatementFinalizer {
    void operator()(sqlite3_stmt* statement) const;
};
using StatementPointer = std::unique_ptr<sqlite3_stmt, StatementFinalizer>;

// The in-memory copy's storage of a source value, and back.
void bindSourceValue(sqlite3_stmt* statement, int index, const SourceValue& value);
SourceValue columnSourceValue(sqlite3_stmt* statement, int index, SourceType type);

} // namespace p1
