#pragma once

#include "targetdb/target_sql.h"

#include <QDateTime>
#include <QHash>
#include <QSqlQuery>
#include <QString>
#include <QVariant>

#include <array>
#include <optional>

namespace p1 {

// How the target layer treats a column, whatever the engine calls its type.
enum class ColumnKind { Text, Integer, Real, Boolean, DateTime, Other };

ColumnKind columnKindOf(QMetaType type);
// SQLite keeps the declared type of a column only as text (PRAGMA table_info).
ColumnKind columnKindOfDeclaredType(const QString& declaredType);
// The size a declared character type gives ("VARCHAR(50)" gives 50); nullopt for any other type.
std::optional<int> declaredTextSize(const QString& declaredType);

// A value read from the engine in the layer's own form: QVariant() for NULL, qint64, double,
// bool, wall-clock QDateTime (UTC) or QString.
QVariant valueFromEngine(const QVariant& raw, bool isNull, ColumnKind kind);

// A value given by the caller brought to the column's kind; nullopt when it does not convert.
// A null QVariant stays null; a QString (null or not) for a text column is an empty text, a
// blank text for any other column is null.
std::optional<QVariant> valueForColumn(const QVariant& value, ColumnKind kind);

// The form in which a value in the layer's own form is bound on the engine. Date-times go as
// "yyyy-MM-dd HH:mm:ss" text to SQLite and PostgreSQL (no zone conversion on either side),
// booleans as 0/1 to SQLite; an empty text stays an empty text (never NULL).
QVariant parameterForEngine(const QVariant& value, ColumnKind kind, const TargetEngineUnit& unit);
// A parameter of a statement, whose column is unknown: converted by the value's own type.
QVariant statementParameter(const QVariant& value, const TargetEngineUnit& unit);

// Date-time texts: ISO ("yyyy-MM-dd[ HH:mm:ss[.zzz]]", also with "T"), or the short date
// format of the system, optionally followed by a blank and the long time format. Invalid when
// none applies.
QDateTime dateTimeFromText(const QString& text);
QString dateTimeForEngine(const QDateTime& dateTime);

// How finely a date-time column keeps the time of day: to the millisecond, or to the tick of
// 1/300 s of SQL Server's datetime type.
enum class TimeResolution { Milliseconds, SqlServerTicks };

// The date-time a column of that resolution keeps for the given one. SQL Server rounds to the
// nearest tick, half up (.995 and .998 keep .997, .999 the next second); its drivers read a tick
// back either rounded (.997) or cut (.996) to the millisecond, and both give the tick again here.
QDateTime dateTimeAsKept(const QDateTime& dateTime, TimeResolution resolution);

// What a locate compares, for one or two columns: integers, booleans and date-times as numbers
// (a date-time in milliseconds), texts as they are, so that building a key allocates nothing
// in the common cases.
struct LocateKey {
    std::array<qint64, 2> numbers{};
    std::array<QString, 2> texts;
    std::array<bool, 2> nulls{};
    bool operator==(const LocateKey&) const = default;
};
size_t qHash(const LocateKey& key, size_t seed = 0);
// The narrow hash a dataset's locate index files a row under, so that the index holds no key:
// keys that differ may share it.
quint32 locateHash(const LocateKey& key);

// Puts the value, seen as a value of a column of the given kind, at the place (0 or 1) of the
// key; false when it cannot equal any value of such a column (a text that is no number, for an
// integer column). A date-time is compared as the column keeps it.
bool setLocateKeyPart(LocateKey& key, int place, const QVariant& value, ColumnKind kind,
                      TimeResolution resolution = TimeResolution::Milliseconds);

// The place of a column name in a list, without regard to case; -1 when missing.
qsizetype indexOfName(const QStringList& names, const QString& name);

// The values of a statement's ":name" parameters, by name without regard to case.
class StatementParameters {
public:
    void set(const QString& name, const QVariant& value); // name with or without its ':'
    std::optional<QVariant> value(const QString& name) const;

private:
    QHash<QString, QVariant> values_;
};

// A statement text run with its ":name" parameters bound by their values' own types. A text
// with parameters is prepared once per open of the connection and run again with new values (a
// search or a counter read once per source row); a text without parameters runs as it is:
// PostgreSQL cannot prepare a CREATE TABLE.
class ParameterisedRun {
public:
    // Forward only; throws TargetError with the engine's message, or when a parameter the text
    // uses has no value. The query is valid until the next run.
    QSqlQuery& run(TargetConnection& connection, const QString& text,
                   const StatementParameters& parameters);

private:
    std::shared_ptr<QSqlQuery> query_;
    QString preparedFor_; // the connection's name and the text query_ is prepared for
    QStringList names_;
};

QString withoutPassword(QString message, const QString& password);

} // namespace p1
