#pragma once

#include "common/operator_ui.h"
#include "stages/stage_frame.h"

#include <QList>

namespace p1 {

// Which source file a stage reads.
enum class SourceFile { V4, Ordo };

// One stage of the run: its box in the window (object name and caption), its word on the
// command line, its import (none while the stage is not built), whether the status line and the
// progress bar are emptied after it whether it ran or not, the source tables it reads (its own
// first, then those of its lookups), which the run reads through before touching the target, the
// target table its created rows go to (empty: the prescriptions table EDITOR.INI names), the
// tables it also adds rows to that it does not count, and the statements on its source file
// whose indexes the run makes ahead (its lookups' small tables need none).
struct StageEntry {
    Box box;
    QString boxName;
    QString caption;
    QString word;
    StageCounts (*import)(RunContext&);
    bool resetAfter;
    SourceFile file;
    QStringList sourceTables;
    QString createdTable;
    QStringList uncountedTables;
    QStringList indexedStatements;
};

// The stages in the order of the run. The window, the command line and the run read it.
const QList<StageEntry>& stageTable();

} // namespace p1
