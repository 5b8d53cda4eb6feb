#pragma once

#include "stages/row_groups.h"
#include "stages/run_context.h"
#include "stages/stage_counts.h"

#include <exception>
#include <functional>
#include <initializer_list>
#include <optional>
#include <vector>

namespace p1 {

// Thrown when a stage's source table cannot be opened (its error dialog has been shown), or at a
// row boundary once a signal asked the run to stop (common/stop_signals.h; no dialog): the whole
// run ends through its clean-up, with no end line nor closing message, and with the log file of a
// stopped run when it changed the target.
class RunEnded : public std::exception {
public:
    explicit RunEnded(QString reason) : reason_(std::move(reason)) {}
    const char* what() const noexcept override { return "run ended"; }
    // What the operator was shown, for the log of the stopped run.
    const QString& reason() const { return reason_; }

private:
    QString reason_;
};

// The fixed texts of a stage.
struct StageTexts {
    QString status;       // status line at the start, e.g. "Importation des patients..."
    QString openingError; // dialog text before the error's message
    QString singular;     // summary words for a count of 0 or 1, e.g. " patient créé"
    QString plural;       // summary words for 2 or more
};

// What became of one source row.
enum class RowOutcome {
    Skipped, // code 0 or less: no line, no count
    Stored,  // a new target row
    Merged,  // added to a row already in the target (same patient and date)
    Refused, // named in the log
};

// The rows a stage's summary line counts: the rows stored (new or merged), or every row with a
// positive code whatever became of it (the history stage).
enum class SummaryCount { StoredRows, ProcessedRows };

// A target table a stage writes, opened whole on its command text ("SELECT * FROM T ...").
struct TargetTable {
    TargetDataset& dataset;
    QString commandText;
};

// Where a stage reads its rows: the shared three-line query pointed at a table of a connection,
// or (no connection) a query of the stage's own, run as it stands.
struct StageSource {
    static StageSource ownQuery(SourceQuery& query) { return {query, nullptr, QString(), QString()}; }

    SourceQuery& query;
    SourceConnection* connection;
    QString tableLine;
    QString orderLine;
};

// The frame every stage follows: start status, source opened (or the run ends), progress sized
// to the source rows, target tables opened whole, counters read, one progress step and one pump
// per row, the row's outcome counted, targets closed, counters raised, summary line. A stage
// declares its texts, source, targets and counters, and imports one row; it writes only its own
// columns and texts. How its rows are grouped is RowGroups' (stages/row_groups.h).
class ImportStage {
public:
    virtual ~ImportStage() = default;
    StageCounts run();

protected:
    ImportStage(RunContext& run, StageTexts texts, StageSource source,
                std::vector<TargetTable> targets);

    // The summary counts stored rows unless the stage says otherwise.
    void countInSummary(SummaryCount count) { summaryCount_ = count; }
    // The users stage leaves the progress position as the run left it.
    void keepProgressPosition() { keepProgressPosition_ = true; }
    // The source column whose value names a row in the run's report of its failures.
    void identifyRowsBy(const QString& codeColumn) { codeColumn_ = codeColumn; }
    // The stage's rows may be sent to the target ahead of their outcome, a group at a time.
    void sendRowsAhead() { groups_.allowRowsAhead(); }
    // A counter of ID_VALUES continued from the target: read at the start, raised at the end.
    StageCounter& counter(const QString& key) { return groups_.addCounter(key, StageCounter::Start::LastValue); }
    // The highest of the source codes the stage stores as identifiers: raised at the end.
    StageCounter& highestCode(const QString& key) { return groups_.addCounter(key, StageCounter::Start::Zero); }
    // What the stage's rows leave outside the target's tables.
    void leavesOutsideTables(OutsideWork& work) { groups_.setOutsideWork(work); }
    // Whether that work may be done ahead of the rows' outcome, on a thread of its own.
    bool workMayGoAhead() const { return groups_.rowsGoAhead(); }

    // After the source is selected, before it opens: a stage's second query.
    virtual void prepare() {}
    virtual RowOutcome importRow() = 0;
    // The stage's rows are on disk: so must be what they name outside the target (the letter files).
    virtual void madeDurable() {}

    // The current source row, by the source value rules.
    SourceField field(const QString& column) const;
    QString text(const QString& column) const;
    qint64 integer(const QString& column) const;
    // NOM, a blank, PRENOM.
    QString fullName() const;

    // Runs store(); on an error writes the two failure lines (stamp + wording, then
    // "   ERREUR : " + message), cancels the pending row of each given dataset and returns false.
    // TargetUnavailable and SourceDamaged are let through: they end the run.
    bool guard(const QString& wording, const std::function<void()>& store,
               std::initializer_list<TargetDataset*> cancelOnFailure);
    // The one way a refusal is counted (among the stage's failures) and recorded for the run's
    // report: a row refused, or a refused part of a stored row, with the row's source code, the
    // wording that names it (as its log line reads after the stamp, or its dialog) and the reason
    // (the engine's message, or the program's own). Says nothing to the operator.
    void recordRefusal(const QString& wording, const QString& message);
    // recordRefusal, and the two failure lines of the log.
    void logFailure(const QString& wording, const QString& message);
    // An error dialog of a row.
    void showRowError(const QString& text);
    // The row is in the target already (its first statement stored it), whatever its other
    // statements do: should one of them end the run, the row counts as that.
    void storedSoFar(RowOutcome outcome) { storedSoFar_ = outcome; }
    // For the run's report; forgotten when the row is refused.
    void noteChangedValue(const QString& column, const QString& sourceValue, const QString& storedValue);
    void showStatus(const QString& text); // status line, then a pump
    void addLogLine(const QString& line);

private:
    StageCounts counts_;
    RowGroups groups_;

protected:
    // The run as the stage's rows see it: its monitor is the groups' (their lines wait for their
    // group's commit).
    RunContext run_;
    SourceQuery& source_;

private:
    void openSource();
    void openTargets();
    void walkRow();
    void count(RowOutcome outcome);
    void closeTargets();
    void finish();
    void publishCounts(qint64 elapsedMilliseconds);
    QString rowCode() const;

    StageTexts texts_;
    StageSource sourceDeclaration_;
    std::vector<TargetTable> targets_;
    SummaryCount summaryCount_ = SummaryCount::StoredRows;
    std::optional<RowOutcome> storedSoFar_;
    bool keepProgressPosition_ = false;
    QString codeColumn_;
};

// Called in a handler of a row's error: rethrows the error being handled when it must end the run
// (TargetUnavailable, SourceDamaged) instead of failing the row alone.
void rethrowWhenTheRunMustEnd(const std::exception& error);

// The two failure lines of a refused row: stamp + wording, then "   ERREUR : " + message.
void logFailureLines(RunMonitor& monitor, const QString& wording, const QString& message);

// Sorvane_Select as the window defines it: "SELECT * from ", the table line, the order line.
QStringList sharedSelectLines();

// Points the shared three-line source query at a table of the given connection. An earlier
// stage may have left it open or on the other file.
void selectWholeTable(SourceQuery& Sorvane_Select, SourceConnection& connection,
                      const QString& tableLine, const QString& orderLine);
// The text the shared query runs once selectWholeTable has pointed it at that table.
QString wholeTableStatement(const QString& tableLine, const QString& orderLine);

// Opens the dataset on its command text, ready for appending. A dataset that an earlier run
// left open (its run ended on an error) is closed first.
void openWholeTable(TargetDataset& dataset, const QString& commandText);

// "SELECT * FROM " + table.
QString wholeTable(const QString& table);

} // namespace p1
