#pragma once

#include <QString>

#include <optional>

namespace p1 {

// Connection strings are "key=value;" pairs. A value is written as it is, or between double
// quotes (inner quotes doubled) when it holds a ";", a quote, or blanks at either end: a path or
// a password can then never end early or add a key of its own.
QString connectionStringValue(const QString& value);

// A quoted value beginning at `from` (blanks before it skipped): its text, and the index just
// past its closing quote. Nullopt when the value there is not quoted.
struct QuotedValue {
    QString text;
    qsizetype end;
};
std::optional<QuotedValue> readQuotedValue(const QString& connectionString, qsizetype from);

// The value of a key (without regard to case), unquoted; empty when the key is missing.
QString connectionStringValueOf(const QString& connectionString, const QString& key);

} // namespace p1
