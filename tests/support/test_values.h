#pragma once

#include "common/date_time.h"
#include "source/source_database.h"

#include <QJsonValue>
#include <QString>

namespace p1::test {

// A wall-clock date-time, as the source stores them.
inline QDateTime at(int year, int month, int day, int hour = 0, int minute = 0, int second = 0)
{
    return wallClock(QDate(year, month, day), QTime(hour, minute, second));
}

// The pattern repeated up to the given length: long texts and memos.
inline QString repeated(const QString& pattern, int length)
{
    QString text;
    while (text.size() < length)
        text += pattern;
    return text.left(length);
}

// A source value as the expected files of the independent fixtures write it.
inline QJsonValue asJson(const SourceValue& value)
{
    if (const auto* number = std::get_if<qint64>(&value))
        return *number;
    if (const auto* flag = std::get_if<bool>(&value))
        return *flag;
    if (const auto* text = std::get_if<QString>(&value))
        return *text;
    if (const auto* moment = std::get_if<QDateTime>(&value))
        return moment->toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss"));
    if (const auto* real = std::get_if<double>(&value))
        return *real;
    return QJsonValue::Null;
}

} // namespace p1::test
