#pragma once

#include "dbaccess/id_allocator.h"
#include "run/import_run.h"
#include "run/run_report.h"
#include "stages/stage_frame.h"
#include "common/operator_ui.h"
#include "source/source_query.h"
#include "targetdb/target_sql.h"

#include <memory>

namespace p1 {

class ReferenceLookups;

// The non-visual half of the main window: the connections, queries and datasets the window owns
// (under the window's names), and what its handlers do once their dialogs have answered. The
// window and the command line both drive it; it talks to the operator only through OperatorUi.
// UI thread only.
class ImportSession {
public:
    explicit ImportSession(OperatorUi& ui, TargetEngine engine = defaultTargetEngine());
    ~ImportSession();

    // SBSelectSorvaneBaseClick: closeSourceConnections() before the dialog, then sourceBaseChosen
    // with the chosen file (nothing when the dialog was cancelled).
    void closeSourceConnections();
    void sourceBaseChosen(const QString& fileName);

    // SBSelectTessarisBaseClick: closeTargetConnection() before the dialog, then targetChosen
    // with the chosen Kelvanor.ver. Returns false when the application must close (its dialog
    // has been shown and closeApplication() called).
    void closeTargetConnection();
    bool targetChosen(const QString& settingsFile);
    bool OpenTargetConnection();

    // SBSelectSorvaneRTFClick after the folder browser (empty when cancelled).
    void lettersFolderChosen(const QString& folder);

    // ImportEnablingRule; the source variant also wants both source connections open.
    void applyImportEnablingRule(bool withSourceConnections = false);

    // ButtonExecuterClick: the whole import run. An error that no stage handles escapes after
    // the clean-up has restored the window: the caller shows it in the standard error dialog.
    // Returns true when the run reached its end line.
    bool ButtonExecuterClick();
    // The same run as a check (command line only): what the import would meet, nothing written.
    // Returns true when the check reached its end line.
    bool checkBeforeImport();

    // How the next runs commit what they store (defaultCommitMode() unless set). RolledBack runs
    // the whole import, report and log included, and leaves the target as it was.
    void setCommitMode(CommitMode mode) { commitMode_ = mode; }
    CommitMode commitMode() const { return commitMode_; }

    // What each stage of the last run did (also when the run stopped).
    const QList<StageCounts>& lastRunCounts() const { return lastRunReport_.stages; }
    // The report of the last run (no stages when it reached none).
    const RunReport& lastRunReport() const { return lastRunReport_; }

    // FormClose.
    void closeConnections();

    // Components, under the window's names.
    TargetConnection ADOConnectionTessaris;
    SourceConnection ADOConnectionSorvane;
    SourceConnection ADOConnectionSorvaneOrdo;
    SourceQuery Sorvane_Select;
    SourceQuery Sorvane_GLB_Medecin;
    SourceQuery Sorvane_Query1;
    TargetDataset Query1;
    TargetDataset Query2;
    TargetDataset Query3;
    TargetStatement Qry1;
    IdAllocator ids;

private:
    friend class ImportRun;
    bool runAs(RunMode mode);

    OperatorUi& ui_;
    std::unique_ptr<ReferenceLookups> lookups_;
    RunReport lastRunReport_;
    CommitMode commitMode_ = defaultCommitMode();
};

} // namespace p1
