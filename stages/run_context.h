#pragma once

#include "dbaccess/id_allocator.h"
#include "common/operator_ui.h"
#include "source/source_query.h"
#include "targetdb/target_sql.h"

namespace p1 {

class ReferenceLookups;
struct StageCounts;

// What the letters stage did with the letter files, for the run's report.
struct LetterCounts {
    qint64 filesCopied = 0;
    qint64 bytesCopied = 0;
    qint64 filesMissing = 0;
    qint64 namesRefused = 0; // names that would leave the letters folder
};

// What the letters stage does with a letter's file: copies it into the letter store, or only
// finds out whether a run would (a check before an import writes nothing).
enum class LetterFiles { Copied, Checked };

// What every stage receives from the import run: the operator seam, the source queries and
// target datasets of the window (under the window's names), the allocator, the lookups, the
// prescriptions table name and the letters' two folders. Everything runs on the UI thread.
struct RunContext {
    RunMonitor& ui;
    SourceConnection& ADOConnectionSorvane;
    SourceConnection& ADOConnectionSorvaneOrdo;
    TargetConnection& ADOConnectionTessaris;

    SourceQuery& Sorvane_Select;       // "SELECT * from ", a table line, an order line
    SourceQuery& Sorvane_GLB_Medecin;  // "SELECT * from [GLB Medecin]"
    SourceQuery& Sorvane_Query1;       // second source query of consultations and prescriptions

    TargetDataset& Query1;
    TargetDataset& Query2;
    TargetDataset& Query3;
    TargetStatement& Qry1;

    IdAllocator& ids;
    ReferenceLookups& lookups;
    QString prescriptionTable;
    QString sourceLettersFolder; // SorvaneRTFPath, ending with a separator
    QString targetBaseFolder;    // TessarisBase: the folder of Kelvanor.ver, ending with a separator
    // Where each stage leaves what it did, also when it stops the run; none in stage tests.
    QList<StageCounts>* countsOfTheRun = nullptr;
    // Where the letters stage counts the files it copies; none in stage tests.
    LetterCounts* lettersOfTheRun = nullptr;
    LetterFiles letterFiles = LetterFiles::Copied;
    // The purge moved the letter store aside, or would have in a check, which finds no name taken.
    bool letterStoreSetAside = false;
    // The command-line word of the stage being run (none in stage tests), for a test's pause.
    QString stageWord = {};
};

// The same run, told through another monitor.
inline RunContext withMonitor(const RunContext& run, RunMonitor& ui)
{
    return {ui,
            run.ADOConnectionSorvane,
            run.ADOConnectionSorvaneOrdo,
            run.ADOConnectionTessaris,
            run.Sorvane_Select,
            run.Sorvane_GLB_Medecin,
            run.Sorvane_Query1,
            run.Query1,
            run.Query2,
            run.Query3,
            run.Qry1,
            run.ids,
            run.lookups,
            run.prescriptionTable,
            run.sourceLettersFolder,
            run.targetBaseFolder,
            run.countsOfTheRun,
            run.lettersOfTheRun,
            run.letterFiles,
            run.letterStoreSetAside,
            run.stageWord};
}

} // namespace p1
