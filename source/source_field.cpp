#include "source/source_query.h"

#include "common/date_time.h"
#include "common/errors.h"
#include "common/locale_texts.h"
#include "common/numbers.h"

#include <cmath>

namespace p1 {

SourceField::SourceField(QString name, SourceType type, SourceValue value)
    : name_(std::move(name)), type_(type), value_(std::move(value))
{
}

bool SourceField::isNull() const
{
    return std::holds_alternative<std::monostate>(value_);
}

QString SourceField::asText() const
{
    if (const auto* text = std::get_if<QString>(&value_))
        return *text;
    if (const auto* number = std::get_if<qint64>(&value_))
        return QString::number(*number);
    if (const auto* real = std::get_if<double>(&value_))
        return QString::number(*real, 'g', 15).replace(QLatin1Char('.'), textLocale().decimalPoint());
    if (const auto* flag = std::get_if<bool>(&value_))
        return *flag ? QStringLiteral("True") : QStringLiteral("False");
    if (const auto* moment = std::get_if<QDateTime>(&value_))
        return dateTimeText(*moment);
    return {};
}

qint64 SourceField::asInteger() const
{
    if (const auto* number = std::get_if<qint64>(&value_))
        return *number;
    if (const auto* flag = std::get_if<bool>(&value_))
        return *flag ? 1 : 0;
    if (const auto* real = std::get_if<double>(&value_)) {
        if (!fitsInteger(std::round(*real)))
            throw SourceError(QStringLiteral("La valeur %1 du champ [%2] ne tient pas dans un nombre entier.")
                                  .arg(*real).arg(name_));
        return std::llround(*real);
    }
    if (const auto* text = std::get_if<QString>(&value_)) {
        // An empty text is no value, as a null is: a code kept as text and left empty counts as 0.
        if (text->trimmed().isEmpty())
            return 0;
        bool converted = false;
        const qint64 number = text->trimmed().toLongLong(&converted);
        if (converted)
            return number;
        throw SourceError(QStringLiteral("La valeur « %1 » du champ [%2] n'est pas un nombre entier.")
                              .arg(*text, name_));
    }
    if (std::holds_alternative<QDateTime>(value_))
        throw SourceError(QStringLiteral("Le champ [%1] est une date, pas un nombre entier.").arg(name_));
    return 0;
}

QDateTime SourceField::asDateTime() const
{
    if (const auto* moment = std::get_if<QDateTime>(&value_))
        return *moment;
    if (isNull())
        return zeroDay();
    if (const auto* text = std::get_if<QString>(&value_)) {
        const QString trimmed = text->trimmed();
        const QLocale locale = textLocale();
        QDateTime moment = locale.toDateTime(trimmed, shortDateFormat() + QLatin1Char(' ') + longTimeFormat());
        if (!moment.isValid())
            moment = QDateTime(locale.toDate(trimmed, shortDateFormat()), QTime(0, 0));
        if (moment.isValid())
            return wallClock(moment.date(), moment.time());
    }
    throw SourceError(QStringLiteral("La valeur « %1 » du champ [%2] n'est pas une date.").arg(asText(), name_));
}

bool SourceField::asBoolean() const
{
    if (const auto* flag = std::get_if<bool>(&value_))
        return *flag;
    if (const auto* number = std::get_if<qint64>(&value_))
        return *number != 0;
    if (const auto* real = std::get_if<double>(&value_))
        return *real != 0;
    if (const auto* text = std::get_if<QString>(&value_)) {
        const QString word = text->trimmed().toLower();
        if (word.isEmpty())
            return false;
        if (word == QLatin1String("true") || word == QLatin1String("vrai") || word == QLatin1String("1"))
            return true;
        if (word == QLatin1String("false") || word == QLatin1String("faux") || word == QLatin1String("0"))
            return false;
    }
    if (isNull())
        return false;
    throw SourceError(QStringLiteral("La valeur « %1 » du champ [%2] n'est pas Oui/Non.").arg(asText(), name_));
}

} // namespace p1
