#pragma once

#include "dbaccess/id_allocator.h"
#include "common/operator_ui.h"
#include "targetdb/target_sql.h"

#include <QStringList>

namespace p1 {

// The tables the purge empties: the short working tables named DATA... among the discovered
// names (upper case, owner prefix dropped), then the fixed list, then the prescriptions table
// when neither holds it: the import fills it, and its old rows would take the new ones in.
QStringList purgeList(const QStringList& discoveredNames, const QString& prescriptionTable = {});

// What the purge empties besides the tables it discovers.
struct PurgeScope {
    QString prescriptionTable; // as EDITOR.INI names it; empty when it names none
    QString targetBaseFolder;  // the folder of Kelvanor.ver, beside which the letter store lies
    // False in a check: the letter store stays where it is, a log line says where it would go.
    bool moveLetterStore = true;
};

// What the purge did besides emptying tables.
struct PurgeOutcome {
    // The letter store was moved aside (or would be, in a check): no letter name is taken.
    bool letterStoreSetAside = false;
};

// Empties every table of the purge list through Qry1 and sets its ID_VALUES counter back to 0,
// each deletion committed on its own. A table that cannot be emptied gets a log line and the
// purge goes on. Once LETTERS is emptied, the letter store its rows named is moved aside, so
// that the import writes a fresh one and no earlier file is lost; a store that cannot be moved
// ends the purge with an Error. A failing table listing is not handled here. UI thread only.
PurgeOutcome PurgeTarget(TargetConnection& target, TargetStatement& Qry1, IdAllocator& ids, RunMonitor& ui,
                         const PurgeScope& scope = {});

} // namespace p1
