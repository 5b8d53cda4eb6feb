#pragma once

#include "targetdb/target_sql.h"

#include <QString>

#include <optional>

namespace p1 {

// Table names read from settings files or from the target's own listing end up pasted into SQL
// statements; only names made of ASCII letters, digits and underscores can be pasted safely.
bool isPlainSqlName(const QString& name);

// A table name as a statement of the engine names it: a plain name as it is, any other name in
// the engine's identifier quotes. PostgreSQL folds an unquoted name to lower case, so a quoted
// one is given folded too. Nullopt for a name no quoting makes safe (control characters).
std::optional<QString> tableNameInSql(TargetEngine engine, const QString& name);

} // namespace p1
