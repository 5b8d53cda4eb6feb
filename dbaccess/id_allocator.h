#pragma once

#include "common/operator_ui.h"
#include "targetdb/target_sql.h"

#include <QHash>

namespace p1 {

// The only access to the target's counters table ID_VALUES, through its three statements. A value
// read or stored is remembered until forgetValues(): a run step (the purge, a stage) is the
// target's only writer, so a consultation numbered per prescription costs one statement, not four.
// UI thread only.
class IdAllocator {
public:
    IdAllocator(TargetConnection& target, RunMonitor& ui);

    // The stored LAST_VALUE of the key; 0 when the key had to be created (or could not be).
    // A failing read is not handled here: it reaches the caller.
    qint64 ReadLastValue(const QString& key);
    // Stores the value when it is above the stored one, or in any case when forced (at once,
    // then). While the rows of a group go ahead (TargetConnection::sendsRowsAhead), an unforced
    // raise is written with the group just before its commit, once per key however often it is
    // raised; a refusal there takes the group back, to be run again row by row, where each raise
    // is written in its place and a refused one shows its warning. The stage's durable end puts
    // it on the disk together with the rows it numbers.
    void RaiseLastValue(const QString& key, qint64 value, bool force = false);
    // The next call reads the table again: a run step begins, others may have written meanwhile.
    void forgetValues();

    // Makes the stored LAST_VALUE of the key at least the value, without a word when the target
    // refuses it: a stage's counter kept up with the rows it numbers, so that whatever commits
    // them leaves the counter at or above them (the stage's own raise at its end says what goes
    // wrong). Nothing read or remembered changes. False when the target refused it.
    bool keepAtLeast(const QString& key, qint64 value);

    // What it remembers of the counters, taken at the start of a group of rows and put back when
    // the group is run again: the values handed out in it are handed out again.
    struct Memory {
        QHash<QString, qint64> known;
    };
    Memory memory() const { return {known_}; }
    void restore(Memory memory);

    // Where its warnings go: a stage's rows announce through a monitor of their own. Returns the
    // one it replaces.
    RunMonitor& reportTo(RunMonitor& ui);

private:
    void writeRaise(const QString& key, qint64 value);

    TargetConnection& target_;
    RunMonitor* ui_;
    QHash<QString, qint64> known_; // as the table holds them, or will once the group is committed
    TargetStatement QryReadIDValues;
    TargetStatement QryInsertIDValues;
    TargetStatement QryUpdateIDValues;
};

} // namespace p1
