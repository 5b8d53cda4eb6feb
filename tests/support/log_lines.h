#pragma once

#include <QRegularExpression>
#include <QStringList>

namespace p1::test {

// The stamp that opens a failure line: the short date, then the time unless it is midnight.
inline const QRegularExpression& stampPattern()
{
    static const QRegularExpression stamp(QStringLiteral(R"(^\d\d/\d\d/\d{4}( \d\d:\d\d:\d\d)?(?= : ))"));
    return stamp;
}

// The log with each stamp cut off: a failure line then starts with " : ".
inline QStringList withoutStamps(QStringList lines)
{
    for (QString& line : lines)
        line.remove(stampPattern());
    return lines;
}

// Stamps and the run's duration differ from one run to the next; the rest of a log must be the
// same. Each stamp becomes "<stamp>", the duration "<durée>".
inline QStringList comparableLog(QStringList lines)
{
    static const QRegularExpression duration(QStringLiteral("Durée : .*$"));
    for (QString& line : lines)
        line.replace(stampPattern(), QStringLiteral("<stamp>")).replace(duration, QStringLiteral("Durée : <durée>"));
    return lines;
}

} // namespace p1::test
