#pragma once

#include "common/operator_ui.h"
#include "target/target_sql.h"

#include <QHash>
#include <QMap>

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
    // then). The stage's durable end puts it on the disk together with the rows it numbers.
    void RaiseLastValue(const QString& key, qint64 value, bool force = false);
    // The next call reads the table again: a run step begins, others may have written meanwhile.
    void forgetValues();

    // While on, a raise is kept in memory until writeDeferredRaises(), which the stage calls
    // before each commit of its rows: the counter goes into the target once per group, with the
    // rows it numbers, instead of once per row (on PostgreSQL, every row's version of the
    // counter would stay in the table until the group ends, and each update reads them all).
    // Turning it off forgets the raises not written: their group was dropped.
    void deferRaises(bool deferred);
    void writeDeferredRaises();

    // What it remembers of the counters, taken at the start of a group of rows and put back when
    // the group is run again: the values handed out in it are handed out again.
    struct Memory {
        QHash<QString, qint64> known;
        QMap<QString, qint64> unwritten;
    };
    Memory memory() const { return {known_, unwritten_}; }
    void restore(Memory memory);

private:
    void writeRaise(const QString& key, qint64 value);

    RunMonitor& ui_;
    QHash<QString, qint64> known_; // as the table holds them, or will once the deferred are written
    bool deferred_ = false;
    QMap<QString, qint64> unwritten_; // the deferred raises
    TargetStatement QryReadIDValues;
    TargetStatement QryInsertIDValues;
    TargetStatement QryUpdateIDValues;
};

} // namespace p1
