#include "stages/row_groups.h"

#include "common/errors.h"
#include "common/stop_signals.h"
#include "stages/stage_frame.h"

#include <algorithm>

namespace p1 {

namespace {

// Rows run one at a time, after a group ran again, before they first go ahead again.
constexpr int firstCalmStretch = 64;
constexpr int longestCalmStretch = 1 << 20;

// Rows go ahead for the length of the walk; their lines are held meanwhile.
class AheadScope {
public:
    AheadScope(TargetConnection& target, bool& ahead) : target_(target), ahead_(ahead)
    {
        ahead_ = true;
        target_.setRowsAhead(true);
    }
    ~AheadScope()
    {
        ahead_ = false;
        target_.setRowsAhead(false);
        target_.setStatementsGuarded(false);
    }
    AheadScope(const AheadScope&) = delete;
    AheadScope& operator=(const AheadScope&) = delete;

private:
    TargetConnection& target_;
    bool& ahead_;
};

} // namespace

qint64 StageCounter::next()
{
    ++value_;
    if (!groups_.countersWaitForCommit())
        keepInTarget();
    return value_;
}

void StageCounter::raiseTo(qint64 code)
{
    if (code <= value_)
        return;
    value_ = code;
    if (!groups_.countersWaitForCommit())
        keepInTarget();
}

// Row by row, before the row it numbers is stored; otherwise with the group's commit. False when
// the target refused it.
bool StageCounter::keepInTarget()
{
    if (value_ <= written_)
        return true;
    const bool kept = groups_.run_.ids.keepAtLeast(key_, value_);
    written_ = value_;
    return kept;
}

void RowGroups::HeldMonitor::announce(Kind kind, const QString& text)
{
    if (held_)
        announcements_.emplace_back(kind, text);
    else
        showNow(kind, text);
}

void RowGroups::HeldMonitor::show()
{
    for (const auto& [kind, text] : std::exchange(announcements_, {}))
        showNow(kind, text);
}

void RowGroups::HeldMonitor::showNow(Kind kind, const QString& text)
{
    switch (kind) {
    case Kind::Line: ui_.addLogLine(text); break;
    case Kind::Error: ui_.showError(text); break;
    case Kind::Warning: ui_.showWarning(text); break;
    }
}

RowGroups::RowGroups(RunContext& run, SourceQuery& source, StageCounts& counts)
    : run_(run), source_(source), counts_(counts), held_(run.ui)
{
}

StageCounter& RowGroups::addCounter(const QString& key, StageCounter::Start start)
{
    return counters_.emplace_back(*this, key, start);
}

bool RowGroups::rowsGoAhead() const
{
    return ahead_ && run_.ADOConnectionTessaris.sendsRowsAhead();
}

bool RowGroups::countersWaitForCommit() const
{
    return rowsGoAhead() || (ahead_ && rowsWithoutRefusal_ >= 0);
}

void RowGroups::readCounters()
{
    for (StageCounter& counter : counters_) {
        counter.value_ = counter.start_ == StageCounter::Start::LastValue ? run_.ids.ReadLastValue(counter.key_) : 0;
        counter.written_ = counter.value_;
    }
}

void RowGroups::raiseCounters()
{
    for (const StageCounter& counter : counters_)
        run_.ids.RaiseLastValue(counter.key_, counter.value_);
}

void RowGroups::walk(const std::function<void()>& walkRow)
{
    logKeptAt_.start();
    if (aheadAllowed_ && target().rowsAheadPossible()) {
        walkAhead(walkRow);
        return;
    }
    for (; !source_.eof(); source_.next()) {
        stopWhenAsked();
        walkRow();
        afterRow();
    }
}

// A row boundary: a stop asked by a signal ends the run here, as an error would, so that the rows
// before it stay stored. While a group runs again, the stop waits for the row the group had
// reached: the rows before it are stored again first, as they were before it was taken back.
void RowGroups::stopWhenAsked()
{
    if (runAgainThrough_ >= 0 && source_.rowNumber() < runAgainThrough_)
        return;
    pauseWhenATestAsks(run_.stageWord, source_.rowNumber() + 1);
    if (stopSignal() != 0)
        throw RunEnded(stopReason());
}

void RowGroups::walkAhead(const std::function<void()>& walkRow)
{
    const AheadScope scope(target(), ahead_);
    held_.hold(true);
    commit();
    mark(source_.rowNumber());
    for (;;) {
        try {
            try {
                for (; !source_.eof(); source_.next()) {
                    stopWhenAsked();
                    walkRow();
                    afterRow();
                }
                commit();
                break;
            } catch (const TargetUnavailable&) {
                throw;
            } catch (const std::exception&) {
                // What was stored before the error stays stored, as it does row by row.
                commit();
                throw;
            }
        } catch (const RowsAheadRefused&) {
            runAgain();
        } catch (const TargetUnavailable&) {
            dropGroup();
            held_.hold(false);
            throw;
        } catch (...) {
            held_.hold(false);
            throw;
        }
    }
    held_.hold(false);
}

// A group runs again up to the row it had reached, then it is committed; rows go ahead again
// once a stretch of rows after it went without a refusal.
void RowGroups::afterRow()
{
    const bool ranAgain = runAgainThrough_ >= 0 && source_.rowNumber() >= runAgainThrough_;
    if (ranAgain) {
        runAgainThrough_ = -1;
        rowsWithoutRefusal_ = 0;
        refusalsSeen_ = counts_.refused + counts_.failures;
    }
    const bool calm = calmAfterRefusals();
    if (!ranAgain && !calm && !target().groupDue()) {
        keepLogOfCommittedRows();
        return;
    }
    commit();
    if (calm)
        rowsAheadAgain();
    if (ahead_)
        mark(source_.rowNumber() + 1);
}

void RowGroups::rowsAheadAgain()
{
    rowsWithoutRefusal_ = -1;
    target().setStatementsGuarded(false);
    target().setRowsAhead(ahead_);
}

// Whether the rows running one at a time after a group ran again have gone long enough without
// a refusal to go ahead again.
bool RowGroups::calmAfterRefusals()
{
    if (rowsWithoutRefusal_ < 0 || runAgainThrough_ >= 0)
        return false;
    const qint64 refusals = counts_.refused + counts_.failures;
    rowsWithoutRefusal_ = refusals == refusalsSeen_ ? rowsWithoutRefusal_ + 1 : 0;
    refusalsSeen_ = refusals;
    return rowsWithoutRefusal_ >= calmStretch_;
}

void RowGroups::commit()
{
    if (outside_ && !outside_->settle())
        target().takeBackRowsAhead();
    // Row by row the refusal would have come in its row's place: the group runs again so.
    for (StageCounter& counter : counters_)
        if (!counter.keepInTarget())
            target().takeBackRowsAhead();
    commitStoredRows(target());
    committed_ = counts_;
    held_.show();
    logLinesCommitted();
}

// With each statement committed on its own, the lines of the rows stored go on the disk once a
// second at most, not row by row.
void RowGroups::keepLogOfCommittedRows()
{
    if (target().commitMode() == CommitMode::EachRow && logKeptAt_.isValid() && logKeptAt_.elapsed() >= 1000)
        logLinesCommitted();
}

void RowGroups::logLinesCommitted()
{
    run_.ui.logLinesCommitted();
    logKeptAt_.start();
}

void RowGroups::mark(int firstRow)
{
    for (TargetDataset* dataset : datasets_)
        dataset->mark();
    for (StageCounter& counter : counters_) {
        counter.markedValue_ = counter.value_;
        counter.markedWritten_ = counter.written_;
    }
    mark_ = {firstRow, run_.ui.progressPosition(), run_.ids.memory()};
    if (outside_)
        outside_->groupStarted();
}

// The target rolled the group back: everything goes back to its first row, which runs again one
// statement at a time; what the group showed was held, and is dropped: the rows show it again.
void RowGroups::runAgain()
{
    runAgainThrough_ = source_.rowNumber();
    calmStretch_ = calmStretch_ == 0 ? firstCalmStretch : std::min(2 * calmStretch_, longestCalmStretch);
    rowsWithoutRefusal_ = -1;
    target().setRowsAhead(false);
    // Rows that run one at a time after a refusal meet more refusals: each is undone alone.
    target().setStatementsGuarded(true);
    for (TargetDataset* dataset : datasets_)
        dataset->backToMark();
    for (StageCounter& counter : counters_) {
        counter.value_ = counter.markedValue_;
        counter.written_ = counter.markedWritten_;
    }
    run_.ids.restore(mark_.ids);
    if (outside_)
        outside_->undo();
    counts_ = committed_;
    target().takeOversizedTexts();
    run_.ui.setProgressPosition(mark_.progress);
    held_.drop();
    source_.moveToRow(mark_.sourceRow);
}

// The target failed: the group went with it, and what it made outside the tables goes too.
void RowGroups::dropGroup()
{
    if (outside_) {
        try {
            outside_->undo();
        } catch (const std::exception&) {
        }
    }
    counts_ = committed_;
    held_.drop();
}

// A stage stopped by an error reports only the rows the target holds: when the open group cannot
// be committed (the engine dropped it with the connection), the rows since the last commit are
// not there, and the counts go back to what they were then.
void RowGroups::stopped()
{
    try {
        if (target().commitGroup()) {
            held_.show();
            logLinesCommitted();
            return;
        }
    } catch (...) {
    }
    counts_ = committed_;
    held_.drop();
}

void commitStoredRows(TargetConnection& target)
{
    if (!target.commitGroup())
        throw TargetUnavailable(QStringLiteral("La connexion à la base Tessaris a été perdue : "
                                               "les dernières lignes importées n'ont pas été enregistrées."));
}

} // namespace p1
