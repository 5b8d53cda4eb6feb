#pragma once

#include "targetdb/target_values.h"

#include <QHash>
#include <QList>
#include <QVariant>

#include <deque>
#include <vector>

namespace p1 {

// A long text a dataset row does not hold: it stays in the target and is read again by the
// row's key.
struct TextLeftInTarget {};
const QVariant& textLeftInTarget();
bool isLeftInTarget(const QVariant& value);

// The rows a dataset holds, column by column, so that a stage can keep every row of a large
// table: an integer, a flag, a real or a date-time takes 8 bytes and a state byte, a text its
// QString, a null or a text left in the target its state byte alone. A value of another type
// than its column's (SQLite keeps what it is given) is held as it is, apart. What is read back
// is exactly what was kept: its type, its null and, for a date-time, its millisecond.
// Not thread-safe: the dataset's thread only.
class DatasetRows {
public:
    using Row = QList<QVariant>;

    void reset(const QList<ColumnKind>& kinds); // no rows, the given columns
    int size() const { return rows_; }
    int columnCount() const { return int(columns_.size()); }

    void append(const Row& row);
    void set(int row, const Row& values);
    void truncate(int rows);

    QVariant value(int row, int column) const;
    bool isLeftInTarget(int row, int column) const;
    bool holdsLeftInTarget(int row) const;
    Row row(int row) const;

private:
    enum class Cell : quint8 { Null, Held, LeftInTarget, Apart };

    // In blocks that never move: a stage appends rows one by one up to hundreds of thousands,
    // and a vector would copy every column whole each time it grows.
    struct Column {
        ColumnKind kind;
        std::deque<Cell> cells;
        std::deque<qint64> numbers;  // integers, flags, reals' bits, date-times in milliseconds
        std::deque<QString> texts;   // text columns
        std::deque<QVariant> others; // columns of no kind the layer knows
    };

    void put(int row, int column, const QVariant& value);
    bool putHeld(Column& column, int row, const QVariant& value);
    quint64 placeOf(int row, int column) const;

    std::vector<Column> columns_;
    int rows_ = 0;
    QHash<quint64, QVariant> apart_; // by placeOf()
};

} // namespace p1
