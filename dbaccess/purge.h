#pragma once

#include "dbaccess/id_allocator.h"
#include "common/operator_ui.h"
#include "target/target_sql.h"

#include <QStringList>

namespace p1 {

// The tables the purge empties: the short working tables named DATA... among the discovered
// names (upper case, owner prefix dropped), then the fixed list.
QStringList purgeList(const QStringList& discoveredNames);

// Empties every table of the purge list through Qry1 and sets its ID_VALUES counter back to 0.
// A table that cannot be emptied gets a log line and the purge goes on. A failing table listing
// is not handled here. UI thread only.
void PurgeTarget(TargetConnection& target, TargetStatement& Qry1, IdAllocator& ids, RunMonitor& ui);

} // namespace p1
