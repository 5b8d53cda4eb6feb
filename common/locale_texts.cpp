#include "common/locale_texts.h"

#include "common/date_time.h"

#include <QList>
#include <QRegularExpression>
#include <QVarLengthArray>

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
    // Made once: every source date read as a text asks for the locale.
    static const QLocale french(QLocale::French, QLocale::France);
    const QLocale locale = pinnedLocale.value_or(QLocale::system());
    return isPosixLocale(locale) ? french : locale;
}

namespace {

// Windows writes four-digit years in its short dates where Qt's short formats keep two, which
// would read 01/02/1985 back as 1885 or 1985 by guesswork.
QString shortDateFormatOf(const QLocale& locale)
{
    static const QRegularExpression twoDigitYear(QStringLiteral("(?<!y)yy(?!y)"));
    return locale.dateFormat(QLocale::ShortFormat).replace(twoDigitYear, QStringLiteral("yyyy"));
}

// A date or time format made of numbers and literal characters only (dd/MM/yyyy, HH:mm:ss),
// written without QLocale going through the format again for every value: each source date
// shown in a status line or a log line is written this way.
class NumericFormat {
public:
    // nullopt for a format this class does not write exactly as QLocale does (names of months or
    // days, AM/PM, fractions of seconds...): QLocale writes those.
    static std::optional<NumericFormat> of(const QString& format, const QLocale& locale);
    QString write(const QDate& date, const QTime& time) const;

private:
    struct Part {
        QChar field; // 0 for literal text
        int width;
        QString literal;
    };
    QList<Part> parts_;
    bool namesTheDate_ = false; // a time format does not
};

// A date or time text is written on the stack and copied into its QString once: appending to
// the QString part by part would cost more than the digits.
using TextBuffer = QVarLengthArray<QChar, 32>;

void append(TextBuffer& text, QStringView part)
{
    text.append(part.data(), part.size());
}

// The digits of a value, at least width of them; from 0 to 9999 (every day and time of a Jet
// file) without a text of their own.
void appendPadded(TextBuffer& text, int value, int width)
{
    if (value < 0 || value > 9999) {
        append(text, QString::number(value).rightJustified(width, u'0'));
        return;
    }
    char16_t digits[4]; // from the right
    int count = 0;
    do {
        digits[3 - count++] = char16_t(u'0' + value % 10);
        value /= 10;
    } while (count < 4 && (value > 0 || count < width));
    append(text, QStringView(digits + 4 - count, count));
}

std::optional<NumericFormat> NumericFormat::of(const QString& format, const QLocale& locale)
{
    static const QString numericFields = QStringLiteral("dMyhHms");
    NumericFormat compiled;
    for (qsizetype at = 0; at < format.size();) {
        const QChar c = format[at];
        qsizetype end = at + 1;
        if (c.isLetter()) {
            while (end < format.size() && format[end] == c)
                ++end;
            const int width = int(end - at);
            if (!numericFields.contains(c) || width > (c == u'y' ? 4 : 2) || (c == u'y' && width != 2 && width != 4))
                return std::nullopt;
            compiled.parts_.append({c, width, {}});
            compiled.namesTheDate_ = compiled.namesTheDate_ || c == u'd' || c == u'M' || c == u'y';
        } else if (c == u'\'') {
            return std::nullopt;
        } else {
            compiled.parts_.append({QChar(), 0, QString(c)});
        }
        at = end;
    }
    // Proof on two moments that every part is written as QLocale writes it.
    for (const QDateTime& moment : {QDateTime(QDate(2024, 1, 2), QTime(3, 4, 5)),
                                    QDateTime(QDate(987, 11, 30), QTime(23, 59, 59))}) {
        if (compiled.write(moment.date(), moment.time()) != locale.toString(moment, format))
            return std::nullopt;
    }
    return compiled;
}

QString NumericFormat::write(const QDate& date, const QTime& time) const
{
    // One conversion from the day number for the three parts: each of day(), month() and year()
    // would make its own.
    int year = 0;
    int month = 0;
    int day = 0;
    if (namesTheDate_)
        date.getDate(&year, &month, &day);
    TextBuffer text;
    for (const Part& part : parts_) {
        int value = 0;
        switch (part.field.unicode()) {
        case 0: append(text, part.literal); continue;
        case u'd': value = day; break;
        case u'M': value = month; break;
        case u'y': value = part.width == 2 ? year % 100 : year; break;
        case u'h':
        case u'H': value = time.hour(); break;
        case u'm': value = time.minute(); break;
        default: value = time.second(); break;
        }
        appendPadded(text, value, part.width);
    }
    return QString(text.constData(), text.size());
}

// The formats are worked out again only when the locale changes: every source date read as a
// text goes through them.
struct LocaleFormats {
    QLocale locale;
    QString shortDate;
    QString longTime;
    std::optional<NumericFormat> numericDate;
    std::optional<NumericFormat> numericTime;
};

const LocaleFormats& localeFormats()
{
    thread_local LocaleFormats formats;
    const QLocale locale = textLocale();
    if (formats.shortDate.isEmpty() || formats.locale != locale) {
        const QString date = shortDateFormatOf(locale);
        const QString time = withoutTimeZone(locale.timeFormat(QLocale::LongFormat));
        formats = {locale, date, time, NumericFormat::of(date, locale), NumericFormat::of(time, locale)};
    }
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
    const LocaleFormats& formats = localeFormats();
    const QDate date = dateTime.date();
    const QTime time = dateTime.time();
    QString text = formats.numericDate ? formats.numericDate->write(date, time)
                                       : formats.locale.toString(date, formats.shortDate);
    if (time.msecsSinceStartOfDay() != 0)
        text += ' ' + (formats.numericTime ? formats.numericTime->write(date, time)
                                           : formats.locale.toString(time, formats.longTime));
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
