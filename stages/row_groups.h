#pragma once

// Grouped execution, the stage side: how a stage's rows are committed in groups, sent ahead of
// their outcome, settled, and run again, so that every row ends exactly as it ends when each
// statement is committed on its own (--commit-each-row). The engine side is TargetConnection's
// group (targetdb/target_sql.h): it commits, sends rows ahead, keeps what can wait for the commit,
// and takes a group back (RowsAheadRefused) when anything in it was refused.
//
// - A group begins at a commit. RowGroups marks there what the stage carries from row to row: its
//   target datasets, its counters, the allocator's memory, the progress, the counts, the source
//   row, and what its rows leave outside the tables (the letter files).
// - While rows go ahead (PostgreSQL and SQLite, in the default mode), a dataset's insert or update
//   does not wait for its outcome, an ID_VALUES raise waits for the commit (once per key), and a
//   letter file is copied on a thread of its own. A statement run directly (an ID_VALUES read, a
//   consultation's search) waits for the rows before it first; on PostgreSQL one refused dooms
//   the group. The log lines and dialogs of the group's rows are held until its commit.
// - At the commit (every second or so, at the end of the walk, and when an error ends the run),
//   the letter files are waited for, the counters are written at or above every number the group
//   gave (ID_VALUES then numbers whatever the commit keeps; one refused takes the group back), and
//   the group is committed; then its lines and dialogs are shown, in the order of its rows.
// - Anything refused in the group (a row, a raise, a statement run directly on PostgreSQL, a
//   letter file that could not be made) rolls it back: everything marked is set back, the files
//   it made are removed, its held lines are dropped, and its rows run again one statement at a
//   time, each outcome known at once, as in --commit-each-row, up to the row the group had
//   reached; there it is committed. The rows after it go on one statement at a time until a
//   stretch of them passes without a refusal (a target that refuses a kind of row mostly refuses
//   the next ones too, and each group taken back is run again), then rows go ahead again; each
//   group refused after such a stretch doubles the next one. Either way every row runs as it
//   would on its own: only the cost differs. While rows run one at a time so, each statement is
//   guarded (TargetConnection::setStatementsGuarded): on PostgreSQL a refusal is undone alone,
//   back to a savepoint, instead of dooming the group; and after the group that ran again, the
//   counters wait for the commit as when rows go ahead.
// - An error that ends the run keeps every row stored before it: the group is settled (run again
//   row by row if something in it was refused, the error then comes again in its place) and
//   committed. A target that fails loses the open group: the counts and the letter files go back
//   to the last commit, so that what the run reports is what the target holds.
// - A stop asked by a signal (common/stop_signals.h) is such an error, raised at a row boundary
//   (RunEnded): never while a group runs again before the row it had reached.
// - After each commit the operator seam is told (logLinesCommitted()): the run's journal puts the
//   lines shown so far on the disk. With each row committed on its own, once a second at most.
//
// A stage declares its counters (StageCounter) and, when its rows leave something outside the
// tables, that work (OutsideWork); it knows nothing else of groups. UI thread only.

#include "stages/run_context.h"
#include "stages/stage_counts.h"

#include <QElapsedTimer>

#include <deque>
#include <functional>
#include <vector>

namespace p1 {

class RowGroups;

// A counter of ID_VALUES a stage carries from row to row: read at the start of the stage (a
// counter continued from the target) or started at 0 (the highest code a stage stores under the
// source's own codes), raised at the end of the stage (RaiseLastValue, with its warning), and
// kept in the target at or above every number it gave before the rows it numbers are committed.
class StageCounter {
public:
    enum class Start { LastValue, Zero };
    // Declared through the stage (ImportStage::counter, highestCode).
    StageCounter(RowGroups& groups, QString key, Start start) : groups_(groups), key_(std::move(key)), start_(start) {}

    const QString& key() const { return key_; }
    qint64 value() const { return value_; }
    // The next number, used up at once whatever becomes of its row.
    qint64 next();
    // A row stored under its own code.
    void raiseTo(qint64 code);

private:
    friend class RowGroups;
    bool keepInTarget();

    RowGroups& groups_;
    QString key_;
    Start start_;
    qint64 value_ = 0;
    qint64 written_ = 0; // kept in the target up to here
    qint64 markedValue_ = 0;
    qint64 markedWritten_ = 0;
};

// What a stage's rows leave outside the target's tables (the letter files), made while the rows
// go ahead.
class OutsideWork {
public:
    virtual ~OutsideWork() = default;
    // A group begins: what is made from now on belongs to it.
    virtual void groupStarted() = 0;
    // Waits for what the group's rows left to do; false when some of it could not be made: the
    // group is then run again row by row, where each piece is made in its row's place.
    virtual bool settle() = 0;
    // Removes what the group made: it is run again, or lost with the target.
    virtual void undo() = 0;
};

// The stage side of grouped execution, for one run of a stage (see above).
class RowGroups {
public:
    RowGroups(RunContext& run, SourceQuery& source, StageCounts& counts);
    RowGroups(const RowGroups&) = delete;
    RowGroups& operator=(const RowGroups&) = delete;

    // Declarations, before the stage runs.
    void addDataset(TargetDataset& dataset) { datasets_.push_back(&dataset); }
    StageCounter& addCounter(const QString& key, StageCounter::Start start);
    void setOutsideWork(OutsideWork& work) { outside_ = &work; }
    void allowRowsAhead() { aheadAllowed_ = true; }

    // What the stage's rows announce through: their log lines and dialogs wait for their group's
    // commit while rows go ahead, and are dropped with the group when it runs again.
    RunMonitor& monitor() { return held_; }
    // Whether the rows go ahead now: what they leave outside the tables may be made on a thread.
    bool rowsGoAhead() const;
    // Whether the counters are kept in the target at the commit rather than row by row: while rows
    // go ahead, and while they run one at a time after a group ran again.
    bool countersWaitForCommit() const;

    void readCounters();
    // walkRow for every remaining source row, committed in groups.
    void walk(const std::function<void()>& walkRow);
    void raiseCounters();
    // Commits the rows stored so far with their counters; the counts are those of the target.
    void commit();
    // The stage stops on an error: what can be committed is, and the counts are what the target
    // holds.
    void stopped();

private:
    friend class StageCounter;

    // Log lines and dialogs, held while rows go ahead.
    class HeldMonitor : public RunMonitor {
    public:
        explicit HeldMonitor(RunMonitor& ui) : ui_(ui) {}
        void hold(bool held) { held_ = held; }
        void show();
        void drop() { announcements_.clear(); }

        void setStatus(const QString& text) override { ui_.setStatus(text); }
        void setProgressMaximum(int maximum) override { ui_.setProgressMaximum(maximum); }
        void setProgressPosition(int position) override { ui_.setProgressPosition(position); }
        int progressPosition() const override { return ui_.progressPosition(); }
        void processMessages() override { ui_.processMessages(); }
        void repaintNow() override { ui_.repaintNow(); }
        void showError(const QString& text) override { announce(Kind::Error, text); }
        void showWarning(const QString& text) override { announce(Kind::Warning, text); }

    protected:
        void addPanelLine(const QString& line) override { announce(Kind::Line, line); }

    private:
        enum class Kind { Line, Error, Warning };
        void announce(Kind kind, const QString& text);
        void showNow(Kind kind, const QString& text);

        RunMonitor& ui_;
        bool held_ = false;
        std::vector<std::pair<Kind, QString>> announcements_;
    };

    struct Mark {
        int sourceRow = 0;
        int progress = 0;
        IdAllocator::Memory ids;
    };

    TargetConnection& target() { return run_.ADOConnectionTessaris; }
    void walkAhead(const std::function<void()>& walkRow);
    void stopWhenAsked();
    void afterRow();
    bool calmAfterRefusals();
    void rowsAheadAgain();
    void keepLogOfCommittedRows();
    void logLinesCommitted();
    void mark(int firstRow);
    void runAgain();
    void dropGroup();

    RunContext& run_;
    SourceQuery& source_;
    StageCounts& counts_;
    StageCounts committed_; // as they were at the last commit
    HeldMonitor held_;
    std::vector<TargetDataset*> datasets_;
    std::deque<StageCounter> counters_;
    OutsideWork* outside_ = nullptr;
    bool aheadAllowed_ = false;
    bool ahead_ = false; // walking in groups whose rows go ahead
    Mark mark_;
    int runAgainThrough_ = -1; // while a group runs again: the source row it had reached
    // After a group ran again: the rows since the last refusal while they run one at a time
    // (-1 once rows go ahead), and the stretch of them wanted before they go ahead again.
    int rowsWithoutRefusal_ = -1;
    int calmStretch_ = 0;
    qint64 refusalsSeen_ = 0; // refused rows and failure lines counted at the last row
    QElapsedTimer logKeptAt_;  // the log lines last went to the disk
};

// Commits the rows stored so far (a group of them, in the connection's Grouped mode); throws
// TargetUnavailable when the engine had dropped them.
void commitStoredRows(TargetConnection& target);

} // namespace p1
