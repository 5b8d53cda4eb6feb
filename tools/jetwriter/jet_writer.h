#pragma once

#include <QDateTime>
#include <QList>
#include <QString>

#include <initializer_list>
#include <memory>
#include <variant>
#include <vector>

namespace p1::jet {

// Writes Access 2000 (Jet 4) files for tests, benchmarks and the demo practice.
// Rows are encoded into pages as they are added, so a table of a million rows costs its pages in
// memory, not a million value lists. Single-threaded.

enum class ColumnType { Boolean, Byte, Integer, Long, Double, DateTime, Text, Memo };

struct ColumnDefinition {
    QString name;
    ColumnType type;
    int textLength = 255; // characters, Text columns only
};

// NULL (monostate), integer (Byte, Integer, Long; also accepted for Double), double, Yes/No,
// date-time (wall clock in Qt::UTC, see platform/date_time.h), text or memo.
// A NULL Yes/No is written as No: Jet cannot store a NULL there.
using Value = std::variant<std::monostate, qint64, double, bool, QDateTime, QString>;

namespace writing {
class PageStore;
}

class TableBuilder {
public:
    TableBuilder(const TableBuilder&) = delete;
    TableBuilder& operator=(const TableBuilder&) = delete;
    ~TableBuilder();

    // Columns come first: adding one after the first row throws std::logic_error.
    // At most 255 columns.
    TableBuilder& column(const QString& name, ColumnType type, int textLength = 255);
    TableBuilder& column(const ColumnDefinition& column);

    // One value per column, in column order. Throws std::invalid_argument when the count, a
    // type or a range is wrong, or a text is longer than its column.
    TableBuilder& row(std::initializer_list<Value> values);
    TableBuilder& row(const QList<Value>& values);

    const QString& name() const;
    const QList<ColumnDefinition>& columns() const;
    qint64 rowCount() const;

private:
    friend class DatabaseBuilder;
    TableBuilder(writing::PageStore& pages, QString name);

    struct Impl;
    std::unique_ptr<Impl> impl_;
};

class DatabaseBuilder {
public:
    DatabaseBuilder();
    ~DatabaseBuilder();
    DatabaseBuilder(const DatabaseBuilder&) = delete;
    DatabaseBuilder& operator=(const DatabaseBuilder&) = delete;

    // A new table, listed in the catalog in creation order. The reference stays valid for the
    // builder's life. Throws std::invalid_argument for a name already used (any letter case).
    TableBuilder& table(const QString& name);

    // Throws std::runtime_error when the file cannot be written.
    void write(const QString& path) const;

private:
    std::unique_ptr<writing::PageStore> pages_;
    std::vector<std::unique_ptr<TableBuilder>> tables_;
};

} // namespace p1::jet
