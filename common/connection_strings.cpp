#include "common/connection_strings.h"

namespace p1 {

namespace {

const QChar quote = u'"';

bool needsQuotes(const QString& value)
{
    return value.contains(u';') || value.startsWith(quote) || value.startsWith(u'\'')
           || value.trimmed() != value;
}

} // namespace

QString connectionStringValue(const QString& value)
{
    if (!needsQuotes(value))
        return value;
    QString doubled = value;
    doubled.replace(quote, QStringLiteral("\"\""));
    return quote + doubled + quote;
}

std::optional<QuotedValue> readQuotedValue(const QString& connectionString, qsizetype from)
{
    qsizetype at = from;
    while (at < connectionString.size() && connectionString.at(at) == u' ')
        ++at;
    if (at >= connectionString.size() || connectionString.at(at) != quote)
        return std::nullopt;
    QString text;
    for (++at; at < connectionString.size(); ++at) {
        if (connectionString.at(at) != quote) {
            text.append(connectionString.at(at));
        } else if (at + 1 < connectionString.size() && connectionString.at(at + 1) == quote) {
            text.append(quote);
            ++at;
        } else {
            return QuotedValue{text, at + 1};
        }
    }
    return std::nullopt;
}

QString connectionStringValueOf(const QString& connectionString, const QString& key)
{
    qsizetype at = 0;
    while (at < connectionString.size()) {
        const qsizetype equals = connectionString.indexOf(u'=', at);
        if (equals < 0)
            break;
        const QString name = connectionString.mid(at, equals - at).trimmed();
        QString value;
        qsizetype end = 0;
        if (const std::optional<QuotedValue> quoted = readQuotedValue(connectionString, equals + 1)) {
            value = quoted->text;
            end = connectionString.indexOf(u';', quoted->end);
        } else {
            end = connectionString.indexOf(u';', equals + 1);
            value = connectionString.mid(equals + 1, end < 0 ? -1 : end - equals - 1).trimmed();
        }
        if (name.compare(key, Qt::CaseInsensitive) == 0)
            return value;
        if (end < 0)
            break;
        at = end + 1;
    }
    return {};
}

} // namespace p1
