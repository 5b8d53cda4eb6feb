#include "dbaccess/sql_names.h"

#include <QRegularExpression>

#include <algorithm>

namespace p1 {

namespace {

bool hasControlCharacter(const QString& name)
{
    return std::any_of(name.begin(), name.end(), [](QChar character) {
        return character.category() == QChar::Other_Control || character.isSurrogate();
    });
}

QString quoted(const QString& name, QChar opening, QChar closing)
{
    QString doubled = name;
    doubled.replace(closing, QString(2, closing));
    return opening + doubled + closing;
}

} // namespace

bool isPlainSqlName(const QString& name)
{
    static const QRegularExpression plainName(QStringLiteral("^[A-Za-z0-9_]+$"));
    return plainName.match(name).hasMatch();
}

std::optional<QString> tableNameInSql(TargetEngine engine, const QString& name)
{
    if (isPlainSqlName(name))
        return name;
    if (name.isEmpty() || hasControlCharacter(name))
        return std::nullopt;
    switch (engine) {
    case TargetEngine::SqlServer: return quoted(name, u'[', u']');
    case TargetEngine::Postgres: return quoted(name.toLower(), u'"', u'"');
    case TargetEngine::Sqlite: break;
    }
    return quoted(name, u'"', u'"');
}

} // namespace p1
