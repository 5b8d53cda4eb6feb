#include "common/locale_texts.h"

#include "common/date_time.h"

#include <QRegularExpression>

#include <optional>

namespace p1 {

namespace {

std::optional<QLocale> pinnedLocale;

bool isPosixLocale(const QLocale& locale)
{
    return locale.language() == QLocale::C;
}

// Qt's long time format names the time zone ("t"); the Windows one never does.
QString withoutTimeZone(const QString& format)
{
    QString result;
    bool quoted = false;
    for (QChar c : format) {
        if (c == '\'')
            quoted = !quoted;
        if (quoted || c != 't')
            result.append(c);
    }
    return result.simplified();
}

} // namespace

void setTextLocale(const QLocale& locale)
{
    pinnedLocale = locale;
}

QLocale textLocale()
{
    const QLocale locale = pinnedLocale.value_or(QLocale::system());
    return isPosixLocale(locale) ? QLocale(QLocale::French, QLocale::France) : locale;
}

namespace {

// Windows writes four-digit years in its short dates where Qt's short formats keep two, which
// would read 01/02/1985 back as 1885 or 1985 by guesswork.
QString shortDateFormatOf(const QLocale& locale)
{
    static const QRegularExpression twoDigitYear(QStringLiteral("(?<!y)yy(?!y)"));
    return locale.dateFormat(QLocale::ShortFormat).replace(twoDigitYear, QStringLiteral("yyyy"));
}

// The formats are worked out again only when the locale changes: every source date read as a
// text goes through them.
struct LocaleFormats {
    QLocale locale;
    QString shortDate;
    QString longTime;
};

const LocaleFormats& localeFormats()
{
    thread_local LocaleFormats formats;
    const QLocale locale = textLocale();
    if (formats.shortDate.isEmpty() || formats.locale != locale)
        formats = {locale, shortDateFormatOf(locale), withoutTimeZone(locale.timeFormat(QLocale::LongFormat))};
    return formats;
}

} // namespace

QString shortDateFormat()
{
    return localeFormats().shortDate;
}

QString longTimeFormat()
{
    return localeFormats().longTime;
}

QString dateTimeText(const QDateTime& dateTime)
{
    const QLocale locale = textLocale();
    QString text = locale.toString(dateTime.date(), shortDateFormat());
    if (dateTime.time().msecsSinceStartOfDay() != 0)
        text += ' ' + locale.toString(dateTime.time(), longTimeFormat());
    return text;
}

QString currentDateTimeText()
{
    return dateTimeText(currentWallClock());
}

QString timeText(const QTime& time)
{
    return textLocale().toString(time, longTimeFormat());
}

QDate dateFromShortDateText(const QString& text)
{
    return textLocale().toDate(text, shortDateFormat());
}

QString MakeFileNameSafe(const QString& text)
{
    QString safe = text;
    safe.replace('/', '-').replace(':', '-');
    return safe;
}

} // namespace p1
