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

// Reads the snapshot; never throws: a target that cannot be read leaves the report's columns
// empty rather than losing the report of what the stages did.
TargetSnapshot takeTargetSnapshot(TargetConnection& target);

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

    // read = skipped + stored + merged + refused for every stage.
    bool balanced() const;
    // Nothing refused: no row or piece of a row left out, no text too long, no problem a check found.
    bool nothingRefused() const;
};

QString reportHtml(const RunReport& report);
QString reportJson(const RunReport& report);
QString reportCsv(const RunReport& report);

// Writes the report in the format its extension names (.html, .json, .csv, any letter case).
// Throws Error with a French message for another extension or a file that cannot be written.
void writeReport(const RunReport& report, const QString& path);

// True when the path ends with an extension writeReport knows.
bool isReportFileName(const QString& path);

} // namespace p1
