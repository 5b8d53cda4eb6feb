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
    return defaultEngineUnit(engine).quotedName(name);
}

} // namespace p1
