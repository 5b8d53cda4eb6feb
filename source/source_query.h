#pragma once

#include "source/source_connection.h"
#include "source/source_database.h"

#include <QHash>
#include <QStringList>
#include <QVariant>

#include <memory>

namespace p1 {

// A field of the current row of an open source query, read by the source value rules:
// text is empty for NULL, integer is 0 for NULL, a date-time rendered as text follows the
// date-time text rule (short date, then the long time unless midnight).
class SourceField {
public:
    SourceField(QString name, SourceType type, SourceValue value);

    const QString& name() const { return name_; }
    bool isNull() const;
    QString asText() const;
    qint64 asInteger() const;      // 0 for an empty text; throws SourceError for a text that is no integer
    QDateTime asDateTime() const;  // the zero day for NULL; throws for a value that is no date
    bool asBoolean() const;        // false for NULL
    const SourceValue& value() const { return value_; }

private:
    QString name_;
    SourceType type_;
    SourceValue value_;
};

// A statement on a source connection, run as written: "SELECT * from [T]" with an optional
// "where [C]=:name" line and an optional "ORDER BY a, b" line, bracketed or plain names, any
// case. Its lines can be set one by one, like the shared three-line query. The result is static:
// its row count is known once it is open.
class SourceQuery {
public:
    explicit SourceQuery(SourceConnection* connection = nullptr, QStringList lines = {});
    ~SourceQuery();

    void setConnection(SourceConnection* connection); // closes the query
    SourceConnection* connection() const;

    QStringList& sql();             // the lines; change them while the query is closed
    const QStringList& sql() const;
    void setParameter(const QString& name, const QVariant& value);

    void open();  // opens the connection on demand; throws SourceError
    void close();
    bool isOpen() const;

    int recordCount() const;
    bool eof() const;
    void next();
    // The current row's place, from 0 (the row count once past the last row), and a move back
    // (or on) to a row by its place.
    int rowNumber() const;
    void moveToRow(int row);
    SourceField field(const QString& name) const; // by name, any case; throws SourceError

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

} // namespace p1
