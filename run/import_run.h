#pragma once

#include "common/operator_ui.h"
#include "run/run_report.h"
#include "stages/stage_frame.h"

#include <QElapsedTimer>
#include <QString>

#include <memory>

namespace p1 {

class ImportSession;
class LogJournal;
class TargetClaim;
struct StageEntry;

// An import, or a check of what an import would meet: the same run on the same target, purge and
// stages included, in one transaction that is rolled back at its end, copying no letter file,
// taking no claim that writes a file, asking nothing, writing no log file.
enum class RunMode { Import, Check };

// One press of the Import button: the checks, the purge, the stages in their fixed order, the end
// line, the log file and the closing message. Whatever way it ends after the checks, the window
// is restored; RunEnded ends it quietly, any other error escapes afterwards. UI thread only.
class ImportRun {
public:
    ImportRun(ImportSession& session, OperatorUi& ui, RunMode mode = RunMode::Import);
    ~ImportRun();
    ImportRun(const ImportRun&) = delete;
    ImportRun& operator=(const ImportRun&) = delete;
    // True when the run reached its end line (and its closing message).
    bool execute();

    // The key of EDITOR.INI [DataBases] naming the prescriptions table, upper-cased, or "erreur".
    // A key that is no plain identifier (letters, digits, underscore) counts as none, since it
    // becomes a table name in SQL statements.
    static QString FindPrescriptionTable(const QString& targetFolder);

    // What each stage that ran did, in the order of the run.
    const QList<StageCounts>& stageCounts() const { return report_.stages; }
    // What the run did, once it has ended or stopped; no stages when it reached none.
    const RunReport& report() const { return report_; }

private:
    bool checking() const { return mode_ == RunMode::Check; }
    bool stageCanRun(const StageEntry& stage, const QString& prescriptionTable);
    void addCheckFindings();
    bool sourceFilesPresent();
    bool claimed(TargetClaim& claim);
    bool claimTaken(TargetClaim& claim);
    void proveSourceReadable();
    void makeSourceIndexesAhead();
    void provePrescriptionTableThere(const QString& prescriptionTable);
    void runStage(const StageEntry& stage, RunContext& run);
    QString createdTable(const StageEntry& stage) const;
    void measureSourceRows(const StageEntry& stage);
    TargetSnapshot snapshot();
    void releaseSourceCopiesAfter(const StageEntry& done);
    SourceConnection& fileOf(const StageEntry& stage);
    void nameJournalsLeft();
    void openJournal();
    void keepRecordsOfStoppedRun(const QString& reason);
    void writeRecords(bool withLog);
    void dropJournal();
    bool rowsWritten() const;
    bool confirmed();
    void enterRunState();
    void rebindSourceQueries();
    void runStages(const QString& prescriptionTable);
    void end();
    void cleanUp();
    void restoreIdle();

    ImportSession& session_;
    OperatorUi& ui_;
    RunMode mode_;
    RunReport report_;
    QString prescriptionTable_; // as EDITOR.INI names it; empty when it names none
    bool purged_ = false;
    bool endLineWritten_ = false;
    QElapsedTimer runClock_; // from the start of the run, for the report's time
    std::unique_ptr<LogJournal> journal_; // an import's, while it runs
};

// "P1Import - <date> <time>.log" in the log folder, "/" and ":" made safe; a name an earlier
// run took gets " (2)", " (3)", ... before its extension.
QString logFileName(const QDateTime& wallClockTime);
// "P1Import - Vérification <date> <time>.html", the report a check leaves in the log folder.
QString checkReportFileName(const QDateTime& wallClockTime);
// The program's folder, or P1IMPORT_LOG_FOLDER when it is set (tests, installations whose
// program folder is read-only).
QString logFolder();

} // namespace p1
