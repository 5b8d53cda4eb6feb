#pragma once

#include <QDateTime>

namespace p1 {

// Date-times are wall-clock values: a QDateTime in UTC stands for the time as written, with no
// zone and no daylight saving. The source stores them as Jet does: days since 30 December 1899,
// the whole part signed and the time of day counted forward from that day.
QDateTime zeroDay();
QDateTime fromJetDays(double days);
QDateTime wallClock(const QDate& date, const QTime& time = QTime(0, 0));
QDateTime currentWallClock();
// Names the local time zone in TZ when the environment does not, as the C library's default
// file: otherwise the library reads that file again at every local time conversion Qt makes,
// and a target's dates are converted by the hundred thousand when a stage reads its tables.
void nameLocalTimeZone();

} // namespace p1
