#include "common/date_time.h"
#include "common/locale_texts.h"
#include "tools/jetwriter/row_encoder.h"

#include "tests/support/qt_printers.h"

#include <gtest/gtest.h>

namespace {

struct DateTimeCase {
    QLocale locale;
    QDateTime value;
    const char* expected;
};

TEST(LocaleTexts, DateTimeTextLeavesOutMidnightInFrenchAndUsLocales)
{
    const QLocale french(QLocale::French, QLocale::France);
    const QLocale us(QLocale::English, QLocale::UnitedStates);
    const DateTimeCase cases[] = {
        {french, p1::wallClock(QDate(2026, 12, 7), QTime(14, 15, 0)), "07/12/2026 14:15:00"},
        {french, p1::wallClock(QDate(2003, 5, 12)), "12/05/2003"},
        {french, p1::wallClock(QDate(2003, 5, 12), QTime(0, 0, 1)), "12/05/2003 00:00:01"},
        {french, p1::zeroDay(), "30/12/1899"},
        {french, p1::wallClock(QDate(1850, 3, 1), QTime(6, 0)), "01/03/1850 06:00:00"},
        {french, p1::wallClock(QDate(100, 1, 9), QTime(7, 8, 9)), "09/01/0100 07:08:09"},
        {french, p1::wallClock(QDate(9999, 12, 31), QTime(23, 59, 59)), "31/12/9999 23:59:59"},
        {us, p1::wallClock(QDate(2026, 12, 7), QTime(14, 15, 0)), "12/7/2026 2:15:00 PM"},
        {us, p1::wallClock(QDate(2003, 5, 12)), "5/12/2003"},
        {QLocale(QLocale::German, QLocale::Germany), p1::wallClock(QDate(1985, 2, 1)), "01.02.1985"},
        {QLocale(QLocale::German, QLocale::Germany), p1::wallClock(QDate(987, 2, 1), QTime(9, 5, 7)),
         "01.02.0987 09:05:07"},
        {QLocale(QLocale::Swedish, QLocale::Sweden), p1::wallClock(QDate(2003, 5, 12), QTime(23, 0, 59)),
         "2003-05-12 23:00:59"},
    };
    for (const DateTimeCase& c : cases) {
        p1::setTextLocale(c.locale);
        EXPECT_EQ(p1::dateTimeText(c.value), QString::fromUtf8(c.expected)) << c.expected;
    }
}

TEST(LocaleTexts, PosixLocaleUsesFrenchConventions)
{
    p1::setTextLocale(QLocale::c());
    EXPECT_EQ(p1::shortDateFormat(), "dd/MM/yyyy");
    EXPECT_EQ(p1::longTimeFormat(), "HH:mm:ss");
    EXPECT_EQ(p1::timeText(QTime(0, 1, 15)), "00:01:15");
}

TEST(LocaleTexts, LongTimeFormatNeverNamesATimeZone)
{
    for (const QLocale& locale : {QLocale(QLocale::German, QLocale::Germany), QLocale(QLocale::English, QLocale::UnitedStates)}) {
        p1::setTextLocale(locale);
        EXPECT_FALSE(p1::timeText(QTime(10, 0)).contains("UTC"));
        EXPECT_FALSE(p1::longTimeFormat().contains('t'));
    }
}

TEST(LocaleTexts, ShortDateTextsConvertBackOnlyWithoutATime)
{
    p1::setTextLocale(QLocale(QLocale::French, QLocale::France));
    EXPECT_EQ(p1::dateFromShortDateText("12/05/2003"), QDate(2003, 5, 12));
    EXPECT_FALSE(p1::dateFromShortDateText("12/05/2003 10:00:00").isValid());
    EXPECT_FALSE(p1::dateFromShortDateText("").isValid());
    EXPECT_FALSE(p1::dateFromShortDateText("31/02/2003").isValid());
    p1::setTextLocale(QLocale(QLocale::English, QLocale::UnitedStates));
    EXPECT_EQ(p1::dateFromShortDateText("2/1/1985"), QDate(1985, 2, 1));
    EXPECT_EQ(p1::dateFromShortDateText(p1::dateTimeText(p1::wallClock(QDate(1885, 7, 3)))), QDate(1885, 7, 3));
}

TEST(LocaleTexts, MakeFileNameSafeReplacesOnlySlashesAndColons)
{
    EXPECT_EQ(p1::MakeFileNameSafe("07/12/2026 14:05:09"), "07-12-2026 14-05-09");
    EXPECT_EQ(p1::MakeFileNameSafe("07.12.2026 14:05:09"), "07.12.2026 14-05-09");
}

TEST(DateTime, JetDaysCountTheTimeForwardBeforeTheZeroDay)
{
    EXPECT_EQ(p1::fromJetDays(0), p1::zeroDay());
    EXPECT_EQ(p1::fromJetDays(1.5), p1::wallClock(QDate(1899, 12, 31), QTime(12, 0)));
    EXPECT_EQ(p1::fromJetDays(-1.25), p1::wallClock(QDate(1899, 12, 29), QTime(6, 0)));
    EXPECT_EQ(p1::fromJetDays(-18262.0), p1::wallClock(QDate(1849, 12, 30)));
    for (const double days : {37753.5, -1.25, -700.75, 0.0, 2.0}) {
        EXPECT_DOUBLE_EQ(p1::jet::writing::toJetDays(p1::fromJetDays(days)), days);
    }
}

// Naming the zone changes no local time, and a zone the environment names stays.
TEST(DateTime, NamingTheLocalTimeZoneKeepsEveryLocalTime)
{
    const QByteArray given = qgetenv("TZ");
    const bool wasSet = qEnvironmentVariableIsSet("TZ");
    const QList<QDateTime> moments = {QDateTime(QDate(2024, 1, 15), QTime(12, 0)),
                                      QDateTime(QDate(2024, 7, 15), QTime(12, 0))};
    qunsetenv("TZ");
    QList<int> offsets;
    for (const QDateTime& moment : moments)
        offsets.append(moment.offsetFromUtc());

    p1::nameLocalTimeZone();
    EXPECT_EQ(qgetenv("TZ"), ":/etc/localtime");
    for (int at = 0; at < moments.size(); ++at)
        EXPECT_EQ(moments[at].offsetFromUtc(), offsets[at]);

    qputenv("TZ", "Europe/Paris");
    p1::nameLocalTimeZone();
    EXPECT_EQ(qgetenv("TZ"), "Europe/Paris");
    if (wasSet)
        qputenv("TZ", given);
    else
        qunsetenv("TZ");
}

} // namespace
