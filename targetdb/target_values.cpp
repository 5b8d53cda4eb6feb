#include "targetdb/target_values.h"

#include "common/date_time.h"
#include "common/locale_texts.h"
#include "common/numbers.h"

#include <QDate>
#include <QRegularExpression>
#include <QTime>

namespace p1 {

namespace {

constexpr qint64 ticksPerSecond = 300; // SQL Server's datetime

bool isTextType(const QVariant& value)
{
    return value.typeId() == QMetaType::QString;
}

// A null, and for a column that holds no text also a blank text: a dataset field set to an
// empty text is cleared, as the data-aware fields of the source's era did.
bool standsForNull(const QVariant& value, ColumnKind kind)
{
    if (!value.isValid())
        return true;
    if (!isTextType(value))
        return value.isNull();
    return kind != ColumnKind::Text && kind != ColumnKind::Other && value.toString().trimmed().isEmpty();
}

std::optional<qint64> integerFrom(const QVariant& value)
{
    // The integers every stored row and every locate gives, read without a conversion.
    switch (value.typeId()) {
    case QMetaType::Int:
        return value.toInt();
    case QMetaType::LongLong:
        return value.toLongLong();
    case QMetaType::Bool:
        return value.toBool() ? 1 : 0;
    case QMetaType::Double:
    case QMetaType::Float: {
        const double number = value.toDouble();
        if (!fitsInteger(number) || number != static_cast<double>(static_cast<qint64>(number)))
            return std::nullopt;
        return static_cast<qint64>(number);
    }
    case QMetaType::QString: {
        bool ok = false;
        const qint64 number = value.toString().trimmed().toLongLong(&ok);
        return ok ? std::optional<qint64>(number) : std::nullopt;
    }
    default: {
        bool ok = false;
        const qint64 number = value.toLongLong(&ok);
        return ok ? std::optional<qint64>(number) : std::nullopt;
    }
    }
}

std::optional<double> realFrom(const QVariant& value)
{
    bool ok = false;
    const double number = isTextType(value) ? value.toString().trimmed().toDouble(&ok)
                                            : value.toDouble(&ok);
    return ok ? std::optional<double>(number) : std::nullopt;
}

std::optional<bool> booleanFrom(const QVariant& value)
{
    if (value.typeId() == QMetaType::Bool)
        return value.toBool();
    if (isTextType(value)) {
        const QString text = value.toString().trimmed().toLower();
        if (text == "1" || text == "true" || text == "t")
            return true;
        if (text == "0" || text == "false" || text == "f")
            return false;
        return std::nullopt;
    }
    if (auto number = integerFrom(value))
        return *number != 0;
    return std::nullopt;
}

// The wall clock a date-time stands for: its own date and time, never shifted to another zone.
QDateTime wallClockOf(const QDateTime& dateTime)
{
    return wallClock(dateTime.date(), dateTime.time());
}

std::optional<QDateTime> dateTimeFrom(const QVariant& value)
{
    QDateTime dateTime;
    switch (value.typeId()) {
    case QMetaType::QDateTime:
        dateTime = value.toDateTime();
        // Taking a date-time apart into its date and time costs a calendar computation, and every
        // date-time of every stored row comes here: one already in the wall-clock form is kept.
        if (dateTime.timeSpec() != Qt::UTC)
            dateTime = wallClockOf(dateTime);
        break;
    case QMetaType::QDate:
        dateTime = wallClock(value.toDate());
        break;
    case QMetaType::QString:
        dateTime = dateTimeFromText(value.toString());
        break;
    default:
        return std::nullopt;
    }
    return dateTime.isValid() ? std::optional<QDateTime>(dateTime) : std::nullopt;
}

QTime timeFromText(const QString& text)
{
    for (const char* format : {"HH:mm:ss.zzz", "HH:mm:ss", "HH:mm"}) {
        const QTime time = QTime::fromString(text, QLatin1String(format));
        if (time.isValid())
            return time;
    }
    return textLocale().toTime(text, longTimeFormat());
}

// The digits of text[from, from + count), or -1 when one of them is not a digit. Written out
// because QDate::fromString parses its format again at every call, for every row read.
int digitsAt(const QString& text, int from, int count)
{
    int value = 0;
    for (int at = from; at < from + count; ++at) {
        const char16_t c = text.at(at).unicode();
        if (c < u'0' || c > u'9')
            return -1;
        value = value * 10 + (c - u'0');
    }
    return value;
}

// "yyyy-MM-dd", then " HH:mm:ss" or "THH:mm:ss", then ".zzz" and "Z".
QDateTime isoDateTimeFromText(QString text)
{
    if (text.endsWith('Z'))
        text.chop(1);
    if (text.size() < 10 || text.at(4) != '-' || text.at(7) != '-')
        return {};
    const QDate date(digitsAt(text, 0, 4), digitsAt(text, 5, 2), digitsAt(text, 8, 2));
    if (!date.isValid())
        return {};
    if (text.size() == 10)
        return wallClock(date);
    if (text.size() < 19 || (text.at(10) != ' ' && text.at(10) != 'T') || text.at(13) != ':'
        || text.at(16) != ':')
        return {};
    int milliseconds = 0;
    if (text.size() > 19) {
        if (text.at(19) != '.' || text.size() > 23)
            return {};
        const QString fraction = text.mid(20).leftJustified(3, '0');
        milliseconds = digitsAt(fraction, 0, 3);
    }
    const QTime time(digitsAt(text, 11, 2), digitsAt(text, 14, 2), digitsAt(text, 17, 2), milliseconds);
    return time.isValid() ? wallClock(date, time) : QDateTime();
}

QDateTime localeDateTimeFromText(const QString& text)
{
    const int blank = text.indexOf(' ');
    const QDate date = dateFromShortDateText(blank < 0 ? text : text.left(blank));
    if (!date.isValid())
        return {};
    if (blank < 0)
        return wallClock(date);
    const QTime time = timeFromText(text.mid(blank + 1).trimmed());
    return time.isValid() ? wallClock(date, time) : QDateTime();
}

} // namespace

ColumnKind columnKindOf(QMetaType type)
{
    switch (type.id()) {
    case QMetaType::QString:
    case QMetaType::QChar:
        return ColumnKind::Text;
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::LongLong:
    case QMetaType::ULongLong:
    case QMetaType::Short:
    case QMetaType::UShort:
    case QMetaType::Char:
    case QMetaType::SChar:
    case QMetaType::UChar:
        return ColumnKind::Integer;
    case QMetaType::Double:
    case QMetaType::Float:
        return ColumnKind::Real;
    case QMetaType::Bool:
        return ColumnKind::Boolean;
    case QMetaType::QDateTime:
    case QMetaType::QDate:
        return ColumnKind::DateTime;
    default:
        return ColumnKind::Other;
    }
}

// The rules SQLite itself applies to a declared type to find a column's affinity, with booleans
// and date-times told apart first.
ColumnKind columnKindOfDeclaredType(const QString& declaredType)
{
    const QString type = declaredType.toUpper();
    if (type.contains("BOOL"))
        return ColumnKind::Boolean;
    if (type.contains("DATE") || type.contains("TIME"))
        return ColumnKind::DateTime;
    if (type.contains("INT"))
        return ColumnKind::Integer;
    if (type.contains("CHAR") || type.contains("CLOB") || type.contains("TEXT"))
        return ColumnKind::Text;
    if (type.contains("REAL") || type.contains("FLOA") || type.contains("DOUB")
        || type.contains("NUMERIC") || type.contains("DECIMAL"))
        return ColumnKind::Real;
    return ColumnKind::Other;
}

std::optional<int> declaredTextSize(const QString& declaredType)
{
    static const QRegularExpression sized(QStringLiteral(R"(^\s*\w*CHAR\w*\s*\(\s*(\d+)\s*\))"),
                                          QRegularExpression::CaseInsensitiveOption);
    const QRegularExpressionMatch match = sized.match(declaredType);
    if (!match.hasMatch())
        return std::nullopt;
    return match.captured(1).toInt();
}

QVariant valueFromEngine(const QVariant& raw, bool isNull, ColumnKind kind)
{
    if (isNull || !raw.isValid())
        return {};
    std::optional<QVariant> value;
    switch (kind) {
    case ColumnKind::Integer:
        if (auto number = integerFrom(raw))
            value = *number;
        break;
    case ColumnKind::Real:
        if (auto number = realFrom(raw))
            value = *number;
        break;
    case ColumnKind::Boolean:
        if (auto flag = booleanFrom(raw))
            value = *flag;
        break;
    case ColumnKind::DateTime:
        if (auto dateTime = dateTimeFrom(raw))
            value = *dateTime;
        break;
    case ColumnKind::Text:
        value = raw.toString();
        break;
    case ColumnKind::Other:
        break;
    }
    return value.value_or(raw);
}

std::optional<QVariant> valueForColumn(const QVariant& value, ColumnKind kind)
{
    if (standsForNull(value, kind))
        return QVariant();
    switch (kind) {
    case ColumnKind::Text:
        if (value.typeId() == QMetaType::QDateTime || value.typeId() == QMetaType::QDate)
            return QVariant(dateTimeText(*dateTimeFrom(value)));
        return QVariant(value.toString().isNull() ? QStringLiteral("") : value.toString());
    case ColumnKind::Integer:
        if (auto number = integerFrom(value))
            return QVariant(*number);
        return std::nullopt;
    case ColumnKind::Real:
        if (auto number = realFrom(value))
            return QVariant(*number);
        return std::nullopt;
    case ColumnKind::Boolean:
        if (auto flag = booleanFrom(value))
            return QVariant(*flag);
        return std::nullopt;
    case ColumnKind::DateTime:
        if (auto dateTime = dateTimeFrom(value))
            return QVariant(*dateTime);
        return std::nullopt;
    case ColumnKind::Other:
        return value;
    }
    return std::nullopt;
}

QVariant parameterForEngine(const QVariant& value, ColumnKind kind, const TargetEngineUnit& unit)
{
    if (!value.isValid())
        return unit.nullParameter(kind);
    return statementParameter(value, unit);
}

QVariant statementParameter(const QVariant& value, const TargetEngineUnit& unit)
{
    switch (value.typeId()) {
    case QMetaType::QString:
        // A null QString is bound as NULL by every Qt driver: an empty text must stay a text.
        return value.toString().isNull() ? QVariant(QStringLiteral("")) : value;
    case QMetaType::QDateTime:
    case QMetaType::QDate: {
        if (value.isNull())
            return {};
        return unit.dateTimeParameter(*dateTimeFrom(value));
    }
    case QMetaType::Bool:
        return unit.booleanParameter(value.toBool());
    default:
        return value;
    }
}

QDateTime dateTimeFromText(const QString& text)
{
    const QString trimmed = text.trimmed();
    const QDateTime iso = isoDateTimeFromText(trimmed);
    return iso.isValid() ? iso : localeDateTimeFromText(trimmed);
}

namespace {

void putDigits(QChar*& out, int value, int width)
{
    for (int place = width - 1; place >= 0; --place, value /= 10)
        out[place] = QChar(u'0' + value % 10);
    out += width;
}

} // namespace

// Written digit by digit: every date of every stored row goes through here.
QString dateTimeForEngine(const QDateTime& dateTime)
{
    const QDate date = dateTime.date();
    const QTime time = dateTime.time();
    if (date.year() < 0 || date.year() > 9999)
        return QString::asprintf("%04d-%02d-%02d %02d:%02d:%02d", date.year(), date.month(), date.day(),
                                 time.hour(), time.minute(), time.second())
               + (time.msec() != 0 ? QString::asprintf(".%03d", time.msec()) : QString());
    QString text(time.msec() != 0 ? 23 : 19, Qt::Uninitialized);
    QChar* out = text.data();
    putDigits(out, date.year(), 4);
    *out++ = u'-';
    putDigits(out, date.month(), 2);
    *out++ = u'-';
    putDigits(out, date.day(), 2);
    *out++ = u' ';
    putDigits(out, time.hour(), 2);
    *out++ = u':';
    putDigits(out, time.minute(), 2);
    *out++ = u':';
    putDigits(out, time.second(), 2);
    if (time.msec() != 0) {
        *out++ = u'.';
        putDigits(out, time.msec(), 3);
    }
    return text;
}

QDateTime dateTimeAsKept(const QDateTime& dateTime, TimeResolution resolution)
{
    if (resolution == TimeResolution::Milliseconds)
        return dateTime;
    const qint64 milliseconds = dateTime.time().msec();
    const qint64 ticks = (milliseconds * ticksPerSecond * 2 + 1000) / 2000;
    const qint64 keptMilliseconds = (ticks * 1000 + ticksPerSecond / 2) / ticksPerSecond;
    return dateTime.addMSecs(keptMilliseconds - milliseconds);
}

bool setLocateKeyPart(LocateKey& key, int place, const QVariant& value, ColumnKind kind,
                      TimeResolution resolution)
{
    if (standsForNull(value, kind)) {
        key.nulls[place] = true;
        return true;
    }
    switch (kind) {
    case ColumnKind::Integer:
        if (auto number = integerFrom(value)) {
            key.numbers[place] = *number;
            return true;
        }
        return false;
    case ColumnKind::Real:
        if (auto number = realFrom(value)) {
            key.texts[place] = QString::number(*number, 'g', 17);
            return true;
        }
        return false;
    case ColumnKind::Boolean:
        if (auto flag = booleanFrom(value)) {
            key.numbers[place] = *flag ? 1 : 0;
            return true;
        }
        return false;
    case ColumnKind::DateTime:
        if (auto dateTime = dateTimeFrom(value)) {
            const QDateTime kept = dateTimeAsKept(*dateTime, resolution);
            key.numbers[place] = kept.date().toJulianDay() * 86'400'000 + kept.time().msecsSinceStartOfDay();
            return true;
        }
        return false;
    case ColumnKind::Text:
    case ColumnKind::Other:
        key.texts[place] = value.toString();
        return true;
    }
    return false;
}

size_t qHash(const LocateKey& key, size_t seed)
{
    return qHashMulti(seed, key.numbers[0], key.numbers[1], key.texts[0], key.texts[1],
                      key.nulls[0], key.nulls[1]);
}

quint32 locateHash(const LocateKey& key)
{
    const size_t hash = qHash(key, QHashSeed::globalSeed());
    return quint32(hash ^ (quint64(hash) >> 32));
}

qsizetype indexOfName(const QStringList& names, const QString& name)
{
    // Stages name columns as the schema writes them: the exact spelling, compared by length
    // first, is found without folding the case of every column before it.
    if (const qsizetype exact = names.indexOf(name); exact >= 0)
        return exact;
    for (qsizetype at = 0; at < names.size(); ++at) {
        if (names.at(at).compare(name, Qt::CaseInsensitive) == 0)
            return at;
    }
    return -1;
}

// The password is masked wherever a driver could echo it: after "PWD=" or "Password=", in its
// ODBC-escaped form, and bare. A bare password of fewer than four characters (the "_" of an
// unreadable stored password, say) is not searched for: masking it would blank every such
// character of the message.
QString withoutPassword(QString message, const QString& password)
{
    static const QRegularExpression assignment(
        QStringLiteral(R"(((?:PWD|Password)=)(\{(?:[^}]|\}\})*\}|[^;]*))"),
        QRegularExpression::CaseInsensitiveOption);
    message.replace(assignment, QStringLiteral("\\1****"));
    if (password.size() >= 4) {
        QString escaped = password;
        escaped.replace('}', QStringLiteral("}}"));
        message.replace(escaped, QStringLiteral("****"));
        message.replace(password, QStringLiteral("****"));
    }
    return message;
}

} // namespace p1
