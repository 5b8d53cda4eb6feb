#pragma once

#include <QDateTime>
#include <QList>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>
#include <variant>

namespace p1 {

// One Access (Jet 4) file opened read-only through libmdb.
// Values are read from the rows themselves (null flags and raw bytes), never through libmdb's
// bound strings: those turn an empty text into NULL and misprint dates before 30 December 1899.
enum class SourceType { Boolean, Byte, Integer, Long, Double, DateTime, Text, Memo, Other };

struct SourceColumn {
    QString name;
    SourceType type;
};

// NULL (monostate), integer, double, Yes/No, date-time (wall clock, see date_time.h), text/memo.
using SourceValue = std::variant<std::monostate, qint64, double, bool, QDateTime, QString>;

class SourceDatabase {
public:
    // Throws SourceError with a clear French message: missing file, not an Access file, damaged.
    explicit SourceDatabase(const QString& path);
    ~SourceDatabase();
    SourceDatabase(const SourceDatabase&) = delete;
    SourceDatabase& operator=(const SourceDatabase&) = delete;

    QString path() const;
    QStringList userTables() const;
    // Table names are matched without regard to case. Throws SourceError for a missing table.
    QList<SourceColumn> columns(const QString& table) const;
    // Calls onRow once per row, in physical order, with one value per column of columns().
    void readRows(const QString& table,
                  const std::function<void(const QList<SourceValue>&)>& onRow) const;

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

} // namespace p1
