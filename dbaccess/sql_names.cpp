#include "dbaccess/sql_names.h"

#include <QRegularExpression>

namespace p1 {

bool isPlainSqlName(const QString& name)
{
    static const QRegularExpression plainName(QStringLiteral("^[A-Za-z0-9_]+$"));
    return plainName.match(name).hasMatch();
}

} // namespace p1
