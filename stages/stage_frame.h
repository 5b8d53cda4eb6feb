#pragma once

#include "stages/run_context.h"

#include <exception>
#include <functional>
#include <initializer_list>
#include <vector>

namespace p1 {

// Thrown when a stage's source table cannot be opened: its error dialog has been shown and the
// whole run ends through its clean-up, with no end line, log file or closing message.
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

// A pair of failure lines of the log, with the source code of the row it belongs to.
struct FailureRecord {
    QString sourceCode;
    QString wording;
    QString message;
};

// A value the import's rules changed without a log line (a file number cut to its column), with
// the source code of its row.
struct ChangedValue {
    QString sourceCode;
    QString column;
    QString sourceValue;
    QString storedValue;
};

// A text longer than its target column, with the source code of its row.
struct OversizedValue {
    QString sourceCode;
    OversizedText text;
};

// What one stage did, for the run's report. read = skipped + stored + merged + refused.
struct StageCounts {
    QString stage; // the stage's command-line word
    qint64 read = 0;
    qint64 skipped = 0;
    qint64 stored = 0;
    qint64 merged = 0;
    qint64 refused = 0;
    qint64 failures = 0; // pairs of failure lines, a stored row's refused parts included
    double seconds = 0;
    QList<FailureRecord> failureLines;
    QList<ChangedValue> changedValues; // of the rows stored or merged
    QList<OversizedValue> oversizedValues; // while the target watches its column sizes

    bool balanced() const { return read == skipped + stored + merged + refused; }
};

// A target table a stage writes, opened whole on its command text ("SELECT * FROM T ...").
struct TargetTable {
    TargetDataset& dataset;
    QString commandText;
};

// A key of ID_VALUES raised at the end of a stage, and the value it is raised to.
struct RaisedKey {
    QString key;
    qint64 value;
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
// to the source rows, target tables opened whole, one progress step and one pump per row, the
// row's outcome counted, targets closed, keys raised, summary line. A stage declares its texts,
// source and targets, and imports one row; it writes only its own columns and texts.
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
    // The stage's rows may be sent to the target ahead of their outcome, a group at a time; when
    // the engine refuses one, the group is run again from its first row, one statement at a
    // time. What the stage carries from row to row besides its target datasets and counters (the
    // numbers it hands out) is named here, to be set back with them.
    void sendRowsAhead(std::vector<qint64*> numbersKept = {})
    {
        rowsAhead_ = true;
        numbersKept_ = std::move(numbersKept);
    }

    // After the source is selected, before it opens: a stage's second query.
    virtual void prepare() {}
    // The targets are open: a stage reads its counters here.
    virtual void started() {}
    virtual RowOutcome importRow() = 0;
    virtual std::vector<RaisedKey> raisedKeys() const { return {}; }
    // A group of rows sent ahead begins, or goes back to its start to run again: a stage whose
    // rows leave something outside the target's tables (the letter files) keeps track of it, or
    // undoes it.
    virtual void groupStarted() {}
    virtual void groupUndone() {}
    // Waits for what the group's rows left to do outside the target (the letter files copied
    // meanwhile); takes the group back (TargetConnection::takeBackRowsAhead) when some of it
    // could not be done, so that its rows run again one at a time. Called before every commit
    // and before anything is shown or logged while rows go ahead.
    virtual void settleWorkAhead() {}
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
    void logFailure(const QString& wording, const QString& message);
    // An error dialog of a row, shown once however often its group runs.
    void showRowError(const QString& text);
    // For the run's report; forgotten when the row is refused.
    void noteChangedValue(const QString& column, const QString& sourceValue, const QString& storedValue);
    void showStatus(const QString& text); // status line, then a pump
    void addLogLine(const QString& line);

    RunContext& run_;
    SourceQuery& source_;

private:
    void openSource();
    void openTargets();
    void walkRows();
    void walkRowsAhead();
    void walkRow();
    void markGroupStart(int firstRow);
    void runGroupAgain();
    bool mayAnnounce();
    void count(RowOutcome outcome);
    void closeTargets();
    void commitRows();
    void keepOnlyCommittedCounts();
    void finish();
    void publishCounts(qint64 elapsedMilliseconds);
    QString rowCode() const;

    StageTexts texts_;
    StageSource sourceDeclaration_;
    std::vector<TargetTable> targets_;
    SummaryCount summaryCount_ = SummaryCount::StoredRows;
    bool keepProgressPosition_ = false;
    QString codeColumn_;
    StageCounts counts_;
    StageCounts committedCounts_; // as they were at the last commit of the rows

    // Where the group of rows sent ahead began: what is set back to run it again.
    struct GroupStart {
        int sourceRow = 0;
        int progress = 0;
        std::vector<qint64> numbers;
        IdAllocator::Memory ids;
        int announcements = 0; // log lines and dialogs shown since
    };
    bool rowsAhead_ = false;
    std::vector<qint64*> numbersKept_;
    GroupStart groupStart_;
    int runAgainThrough_ = -1; // while a group runs again: the source row it reached
    int announcementsToSkip_ = 0;
};

// Commits the rows stored so far (a group of them, in the connection's Grouped mode); throws
// TargetUnavailable when the engine had dropped them.
void commitStoredRows(TargetConnection& target);

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

// Opens the dataset on its command text, ready for appending. A dataset that an earlier run
// left open (its run ended on an error) is closed first.
void openWholeTable(TargetDataset& dataset, const QString& commandText);

// "SELECT * FROM " + table.
QString wholeTable(const QString& table);

} // namespace p1
