#pragma once

#include "stages/stage_frame.h"

#include <QDateTime>
#include <QMap>
#include <QString>

#include <optional>

namespace p1 {

// The rows of the target tables a run empties and fills, and the counters of ID_VALUES, at one
// moment. A table that could not be counted has no entry; taken is false when the target could
// not be read at all.
struct TargetSnapshot {
    bool taken = false;
    QMap<QString, qint64> tableRows;
    QMap<QString, qint64> lastValues;
};

// Reads the snapshot (the tables the purge empties, and the others named, the prescriptions table
// among them); never throws: a target that cannot be read leaves the report's columns empty
// rather than losing the report of what the stages did.
TargetSnapshot takeTargetSnapshot(TargetConnection& target, const QStringList& alsoTables = {});

// A source row whose identifier a target that is not purged already holds: the run refuses it.
struct PresentIdentifier {
    QString stage;
    QString table;
    QString sourceCode;
};

// What a check before an import finds beyond the counts of its stages.
struct CheckFindings {
    QString prescriptionTableProblem; // empty when the run would find its prescriptions table
    QList<PresentIdentifier> presentIdentifiers;
};

// Where a stage's rows go: the table it creates them in, and the tables it also adds rows to that
// it does not count (a patient's profession, a user's planning row).
struct StageTables {
    QString created;
    QStringList uncounted;
};

// A table's growth over the run, against the rows the stages counted as created in it.
struct TableGrowth {
    qint64 counted = 0;
    std::optional<qint64> gained; // unknown when the target could not be counted
    bool uncountedRowsToo = false;

    // It gained what was counted (at least that, where rows are added uncounted); true when
    // unknown.
    bool balanced() const;
};

// What a run did, for the practice's IT person: every source row accounted for. A check reports
// what the run would do, in the same form.
struct RunReport {
    bool check = false;
    CheckFindings findings; // of a check only
    QDateTime startedAt;
    bool ended = false;    // the run reached its end line
    QString stopReason;    // why a stopped run stopped
    QList<StageCounts> stages;
    TargetSnapshot before; // before the purge
    TargetSnapshot after;
    LetterCounts letters;
    // Measured apart from what the stages counted: the rows of each stage's own source table, by
    // stage word (none for a stage that stopped), and the target once purged (before, when it was
    // not), from which the tables' growth is counted.
    QMap<QString, qint64> sourceRows;
    TargetSnapshot start;
    QMap<QString, StageTables> stageTables; // by stage word
    double seconds = 0; // the whole run's, from its start to its report

    // read = skipped + stored + merged + refused, and read = the rows of its source table.
    bool stageBalanced(const StageCounts& counts) const;
    TableGrowth growthOf(const QString& table) const;
    // Every stage balanced, and every table gained the rows counted as created in it.
    bool balanced() const;
    // Nothing refused: no row or piece of a row left out, no text too long, no problem a check found.
    bool nothingRefused() const;
};

// The keys of both, once each, in order: the names of the tables or counters of two snapshots.
QStringList unitedKeys(const QMap<QString, qint64>& first, const QMap<QString, qint64>& second);

QString reportHtml(const RunReport& report);
QString reportJson(const RunReport& report);
QString reportCsv(const RunReport& report);

// Writes the report in the format its extension names (.html, .json, .csv, any letter case).
// Throws Error with a French message for another extension or a file that cannot be written.
void writeReport(const RunReport& report, const QString& path);

// True when the path ends with an extension writeReport knows.
bool isReportFileName(const QString& path);

} // namespace p1
