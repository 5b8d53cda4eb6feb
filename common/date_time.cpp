#include "common/date_time.h"

#include <QtGlobal>

#include <cmath>
#include <ctime>

namespace p1 {

namespace {
constexpr qint64 millisecondsPerDay = 86'400'000;
}

QDateTime zeroDay()
{
    return wallClock(QDate(1899, 12, 30));
}

QDateTime wallClock(const QDate& date, const QTime& time)
{
    return QDateTime(date, time, Qt::UTC);
}

QDateTime currentWallClock()
{
    const QDateTime local = QDateTime::currentDateTime();
    return wallClock(local.date(), local.time());
}

QDateTime fromJetDays(double days)
{
    const double whole = std::trunc(days);
    const double fraction = std::fabs(days - whole);
    const qint64 timeMs = std::llround(fraction * millisecondsPerDay);
    return zeroDay().addDays(static_cast<qint64>(whole)).addMSecs(timeMs);
}

void nameLocalTimeZone()
{
    if (qEnvironmentVariableIsSet("TZ"))
        return;
    qputenv("TZ", ":/etc/localtime");
    tzset();
}

} // namespace p1
