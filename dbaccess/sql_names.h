#pragma once

#include <QString>

namespace p1 {

// Table names read from settings files or from the target's own listing end up pasted into SQL
// statements; only names made of ASCII letters, digits and underscores can be pasted safely.
bool isPlainSqlName(const QString& name);

} // namespace p1
