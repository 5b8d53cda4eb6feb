#include "targetdb/dataset_rows.h"

#include <QDateTime>

#include <bit>

namespace p1 {

const QVariant& textLeftInTarget()
{
    static const QVariant marker = QVariant::fromValue(TextLeftInTarget{});
    return marker;
}

bool isLeftInTarget(const QVariant& value)
{
    return value.metaType() == QMetaType::fromType<TextLeftInTarget>();
}

void DatasetRows::reset(const QList<ColumnKind>& kinds)
{
    columns_.clear();
    columns_.reserve(kinds.size());
    for (ColumnKind kind : kinds)
        columns_.push_back(Column{kind, {}, {}, {}, {}});
    rows_ = 0;
    apart_.clear();
}

quint64 DatasetRows::placeOf(int row, int column) const
{
    return quint64(row) * quint64(columns_.size()) + quint64(column);
}

void DatasetRows::append(const Row& row)
{
    for (Column& column : columns_) {
        column.cells.push_back(Cell::Null);
        switch (column.kind) {
        case ColumnKind::Text:
            column.texts.emplace_back();
            break;
        case ColumnKind::Other:
            column.others.emplace_back();
            break;
        default:
            column.numbers.push_back(0);
        }
    }
    ++rows_;
    set(rows_ - 1, row);
}

void DatasetRows::set(int row, const Row& values)
{
    for (int column = 0; column < columnCount(); ++column)
        put(row, column, values.at(column));
}

// Only a value of the column's own kind, in the form the layer gives it, is held in place: any
// other would not come back as it was.
bool DatasetRows::putHeld(Column& column, int row, const QVariant& value)
{
    const int type = value.typeId();
    switch (column.kind) {
    case ColumnKind::Integer:
        if (type != QMetaType::LongLong)
            return false;
        column.numbers[row] = value.toLongLong();
        return true;
    case ColumnKind::Boolean:
        if (type != QMetaType::Bool)
            return false;
        column.numbers[row] = value.toBool() ? 1 : 0;
        return true;
    case ColumnKind::Real:
        if (type != QMetaType::Double)
            return false;
        column.numbers[row] = std::bit_cast<qint64>(value.toDouble());
        return true;
    case ColumnKind::DateTime: {
        if (type != QMetaType::QDateTime)
            return false;
        const QDateTime dateTime = value.toDateTime();
        if (!dateTime.isValid() || dateTime.timeSpec() != Qt::UTC)
            return false;
        column.numbers[row] = dateTime.toMSecsSinceEpoch();
        return true;
    }
    case ColumnKind::Text:
        if (type != QMetaType::QString)
            return false;
        column.texts[row] = value.toString();
        return true;
    case ColumnKind::Other:
        column.others[row] = value;
        return true;
    }
    return false;
}

void DatasetRows::put(int row, int column, const QVariant& value)
{
    Column& cells = columns_[column];
    Cell& cell = cells.cells[row];
    if (cell == Cell::Apart)
        apart_.remove(placeOf(row, column));
    if (cells.kind == ColumnKind::Text)
        cells.texts[row] = QString();
    else if (cells.kind == ColumnKind::Other)
        cells.others[row] = QVariant();
    if (!value.isValid()) {
        cell = Cell::Null;
    } else if (p1::isLeftInTarget(value)) {
        cell = Cell::LeftInTarget;
    } else if (putHeld(cells, row, value)) {
        cell = Cell::Held;
    } else {
        cell = Cell::Apart;
        apart_.insert(placeOf(row, column), value);
    }
}

void DatasetRows::truncate(int rows)
{
    if (rows >= rows_)
        return;
    for (Column& column : columns_) {
        column.cells.resize(rows);
        if (column.kind == ColumnKind::Text)
            column.texts.resize(rows);
        else if (column.kind == ColumnKind::Other)
            column.others.resize(rows);
        else
            column.numbers.resize(rows);
    }
    const quint64 firstDropped = placeOf(rows, 0);
    apart_.removeIf([firstDropped](const auto& entry) { return entry.key() >= firstDropped; });
    rows_ = rows;
}

QVariant DatasetRows::value(int row, int column) const
{
    const Column& cells = columns_[column];
    switch (cells.cells[row]) {
    case Cell::Null:
        return {};
    case Cell::LeftInTarget:
        return textLeftInTarget();
    case Cell::Apart:
        return apart_.value(placeOf(row, column));
    case Cell::Held:
        break;
    }
    switch (cells.kind) {
    case ColumnKind::Integer:
        return cells.numbers[row];
    case ColumnKind::Boolean:
        return cells.numbers[row] != 0;
    case ColumnKind::Real:
        return std::bit_cast<double>(cells.numbers[row]);
    case ColumnKind::DateTime:
        return QDateTime::fromMSecsSinceEpoch(cells.numbers[row], Qt::UTC);
    case ColumnKind::Text:
        return cells.texts[row];
    case ColumnKind::Other:
        return cells.others[row];
    }
    return {};
}

bool DatasetRows::isLeftInTarget(int row, int column) const
{
    return columns_[column].cells[row] == Cell::LeftInTarget;
}

bool DatasetRows::holdsLeftInTarget(int row) const
{
    for (int column = 0; column < columnCount(); ++column) {
        if (isLeftInTarget(row, column))
            return true;
    }
    return false;
}

DatasetRows::Row DatasetRows::row(int row) const
{
    Row values;
    values.reserve(columnCount());
    for (int column = 0; column < columnCount(); ++column)
        values.append(value(row, column));
    return values;
}

} // namespace p1
