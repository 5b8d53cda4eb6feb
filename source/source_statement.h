#pragma once

#include <QString>
#include <QStringList>

#include <functional>

namespace p1 {

// A source statement ("SELECT * from [T]", an optional where part, an optional ORDER BY part)
// rewritten for the in-memory copy: the table and column names, bracketed or plain and in any case,
// become the copy's exact quoted names.
struct CopyStatement {
    QString table;              // the name written after FROM
    QString sql;                // the text for the in-memory copy
    QString unorderedSql;       // the same without its ORDER BY part: what a count needs
    QStringList filterColumns;  // the columns named in the where part, as the table writes them
    QStringList orderColumns;   // the columns named in the order by part, in their order
};

// Gives the table's exact name and column names; throws SourceError for a missing table.
struct StatementTable {
    QString name;
    QStringList columns;
};
using TableLookup = std::function<StatementTable(const QString& table)>;

// Throws SourceError for a statement of another shape, a missing table or a missing column.
CopyStatement translateStatement(const QString& text, const TableLookup& lookup);

} // namespace p1
