#pragma once

#include <QDateTime>
#include <QLocale>
#include <QString>

namespace p1 {

// Date and time texts in the system locale's short date and long time formats, as the
// operator's Windows would write them. A C/POSIX system locale gets French conventions.
// Tests pin the locale with setTextLocale.
void setTextLocale(const QLocale& locale);
QLocale textLocale();

QString shortDateFormat();  // for example dd/MM/yyyy
QString longTimeFormat();   // hours, minutes, seconds, no time zone

// The short date, then one blank and the long time unless the time is exactly midnight.
QString dateTimeText(const QDateTime& dateTime);
QString currentDateTimeText();
// A time of day in the long time format (the elapsed-time label).
QString timeText(const QTime& time);
// The text read as a date in the short date format; invalid when it does not convert
// (a text carrying a time of day included).
QDate dateFromShortDateText(const QString& text);

// Every "/" and ":" replaced by "-".
QString MakeFileNameSafe(const QString& text);

} // namespace p1
