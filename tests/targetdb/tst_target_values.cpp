#include "common/date_time.h"
#include "targetdb/target_values.h"

#include <gtest/gtest.h>

#include <string>

using namespace p1;

namespace {

QDateTime at(int hour, int minute, int second, int millisecond, QDate day = QDate(2020, 3, 12))
{
    return wallClock(day, QTime(hour, minute, second, millisecond));
}

struct KeptCase {
    int given;    // milliseconds of 10:15:30
    int expected; // milliseconds SQL Server's datetime keeps, 1000 for the next second
};

class SqlServerTickTest : public ::testing::TestWithParam<KeptCase> {};

TEST_P(SqlServerTickTest, RoundsToTheNearestTickHalfUp)
{
    const KeptCase& kept = GetParam();
    EXPECT_EQ(dateTimeAsKept(at(10, 15, 30, kept.given), TimeResolution::SqlServerTicks),
              at(10, 15, 30, 0).addMSecs(kept.expected));
}

// The engine's own examples (.990 .991 -> .990, .992 to .994 -> .993, .995 to .998 -> .997,
// .999 -> next second), the first ticks, and the cut readings of a tick (.996, .006) that a
// driver may give back.
INSTANTIATE_TEST_SUITE_P(Milliseconds, SqlServerTickTest,
                         ::testing::Values(KeptCase{0, 0}, KeptCase{1, 0}, KeptCase{2, 3}, KeptCase{3, 3},
                                           KeptCase{4, 3}, KeptCase{5, 7}, KeptCase{6, 7}, KeptCase{7, 7},
                                           KeptCase{8, 7}, KeptCase{9, 10}, KeptCase{250, 250},
                                           KeptCase{990, 990}, KeptCase{991, 990}, KeptCase{992, 993},
                                           KeptCase{994, 993}, KeptCase{995, 997}, KeptCase{996, 997},
                                           KeptCase{998, 997}, KeptCase{999, 1000}),
                         [](const ::testing::TestParamInfo<KeptCase>& info) {
                             return "ms" + std::to_string(info.param.given);
                         });

TEST(DateTimeAsKept, TheLastTickOfADayRoundsIntoTheNextAndMillisecondsStayAsGiven)
{
    EXPECT_EQ(dateTimeAsKept(at(23, 59, 59, 999), TimeResolution::SqlServerTicks),
              wallClock(QDate(2020, 3, 13)));
    EXPECT_EQ(dateTimeAsKept(at(10, 15, 30, 1), TimeResolution::Milliseconds), at(10, 15, 30, 1));
}

TEST(LocateKeys, ADateTimeIsComparedAsItsColumnKeepsIt)
{
    const auto keyOf = [](const QVariant& value, TimeResolution resolution) {
        LocateKey key;
        EXPECT_TRUE(setLocateKeyPart(key, 1, value, ColumnKind::DateTime, resolution));
        return key;
    };
    const TimeResolution ticks = TimeResolution::SqlServerTicks;
    EXPECT_EQ(keyOf(at(10, 15, 30, 995), ticks), keyOf(at(10, 15, 30, 996), ticks));
    EXPECT_EQ(keyOf(at(10, 15, 30, 997), ticks), keyOf(QStringLiteral("2020-03-12 10:15:30.996"), ticks));
    EXPECT_NE(keyOf(at(10, 15, 30, 993), ticks), keyOf(at(10, 15, 30, 997), ticks));
    EXPECT_NE(keyOf(at(10, 15, 30, 1), TimeResolution::Milliseconds),
              keyOf(at(10, 15, 30, 0), TimeResolution::Milliseconds));
}

TEST(DateTimeForEngine, WritesEveryPartWithItsZerosAndMillisecondsOnlyWhenThere)
{
    const struct {
        QDateTime given;
        QString expected;
    } cases[] = {
        {at(0, 0, 0, 0, QDate(1899, 12, 30)), "1899-12-30 00:00:00"},
        {at(9, 5, 7, 0, QDate(2024, 1, 2)), "2024-01-02 09:05:07"},
        {at(23, 59, 59, 7, QDate(987, 11, 30)), "0987-11-30 23:59:59.007"},
        {at(12, 30, 0, 250), "2020-03-12 12:30:00.250"},
        {at(8, 0, 0, 0, QDate(9999, 12, 31)), "9999-12-31 08:00:00"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(dateTimeForEngine(c.given), c.expected) << qPrintable(c.expected);
}

} // namespace
