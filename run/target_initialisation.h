#pragma once

#include <QString>

namespace p1 {

// Creates an empty embedded (SQLite) target in the folder, made when missing: Kelvanor.ver naming
// the database file, EDITOR.INI naming the prescriptions table, and the database with every
// table of the target. Throws Error for a folder that already holds a target, or that cannot be
// written.
void createEmbeddedTarget(const QString& folder);

} // namespace p1
