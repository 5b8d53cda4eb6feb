#pragma once

#include "common/operator_ui.h"
#include "target/target_sql.h"

namespace p1 {

// The only access to the target's counters table ID_VALUES. Keeps nothing in memory: every call
// reads or writes the table through its three statements. UI thread only.
class IdAllocator {
public:
    IdAllocator(TargetConnection& target, RunMonitor& ui);

    // The stored LAST_VALUE of the key; 0 when the key had to be created (or could not be).
    // A failing read is not handled here: it reaches the caller.
    qint64 ReadLastValue(const QString& key);
    // Stores the value when it is above the stored one, or in any case when forced. The stage's
    // durable end puts it on the disk together with the rows it numbers.
    void RaiseLastValue(const QString& key, qint64 value, bool force = false);

private:
    RunMonitor& ui_;
    TargetStatement QryReadIDValues;
    TargetStatement QryInsertIDValues;
    TargetStatement QryUpdateIDValues;
};

} // namespace p1
