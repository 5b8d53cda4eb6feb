#include "stages/stage_frame.h"

#include "common/errors.h"
#include "common/locale_texts.h"
#include "stages/reference_lookups.h"

#include <QElapsedTimer>

namespace p1 {

ImportStage::ImportStage(RunContext& run, StageTexts texts, StageSource source,
                         std::vector<TargetTable> targets)
    : run_(run), source_(source.query), texts_(std::move(texts)),
      sourceDeclaration_(std::move(source)), targets_(std::move(targets))
{
}

StageCounts ImportStage::run()
{
    QElapsedTimer clock;
    clock.start();
    run_.ADOConnectionTessaris.startRunStep();
    run_.ids.forgetValues();
    run_.lookups.forgetLabels();
    run_.ids.deferRaises(run_.ADOConnectionTessaris.commitMode() != CommitMode::EachRow);
    try {
        openSource();
        openTargets();
        started();
        walkRows();
        closeTargets();
        for (const RaisedKey& raised : raisedKeys())
            run_.ids.RaiseLastValue(raised.key, raised.value);
        commitRows();
        // The summary line counts rows as stored: they must outlive a crash of the target from here on.
        run_.ADOConnectionTessaris.makeDurable();
        madeDurable();
        source_.close();
        finish();
    } catch (...) {
        keepOnlyCommittedCounts();
        run_.ids.deferRaises(false);
        publishCounts(clock.elapsed());
        throw;
    }
    run_.ids.deferRaises(false);
    publishCounts(clock.elapsed());
    return counts_;
}

void ImportStage::publishCounts(qint64 elapsedMilliseconds)
{
    counts_.seconds = elapsedMilliseconds / 1000.0;
    if (run_.countsOfTheRun)
        run_.countsOfTheRun->append(counts_);
}

void ImportStage::openSource()
{
    if (sourceDeclaration_.connection)
        selectWholeTable(source_, *sourceDeclaration_.connection, sourceDeclaration_.tableLine,
                         sourceDeclaration_.orderLine);
    prepare();
    showStatusAtOnce(run_.ui, texts_.status);
    try {
        source_.open();
    } catch (const std::exception& error) {
        const QString reason = texts_.openingError + errorMessage(error);
        run_.ui.showError(reason);
        throw RunEnded(reason);
    }
    run_.ui.setProgressMaximum(source_.recordCount());
    if (!keepProgressPosition_)
        run_.ui.setProgressPosition(0);
}

void ImportStage::openTargets()
{
    for (const TargetTable& target : targets_)
        openWholeTable(target.dataset, target.commandText);
}

void ImportStage::walkRows()
{
    if (rowsAhead_ && run_.ADOConnectionTessaris.rowsAheadPossible()) {
        walkRowsAhead();
        return;
    }
    for (; !source_.eof(); source_.next())
        walkRow();
}

namespace {

// While a stage sends its rows ahead, its log lines and dialogs pass its filter. Rows still
// ahead at its end are settled by the next use of the session (the commit of the stopped stage).
class RowsAheadScope {
public:
    RowsAheadScope(RunContext& run, std::function<bool()> filter) : run_(run)
    {
        run_.ui.setAnnouncementFilter(std::move(filter));
        run_.ADOConnectionTessaris.setRowsAhead(true);
    }
    ~RowsAheadScope()
    {
        run_.ui.setAnnouncementFilter({});
        run_.ADOConnectionTessaris.setRowsAhead(false);
    }
    RowsAheadScope(const RowsAheadScope&) = delete;
    RowsAheadScope& operator=(const RowsAheadScope&) = delete;

private:
    RunContext& run_;
};

} // namespace

// The rows go to the target without waiting for their outcome; the last ones are settled while
// the datasets still hold them, so that a refusal among them can still be run again. A group
// begins at a commit: a refused group is rolled back, and what the stage wrote before its rows
// (a counter it created) must not go with it.
void ImportStage::walkRowsAhead()
{
    const RowsAheadScope scope(run_, [this] { return mayAnnounce(); });
    commitRows();
    markGroupStart(source_.rowNumber());
    for (;;) {
        try {
            for (; !source_.eof(); source_.next())
                walkRow();
            settleWorkAhead();
            run_.ADOConnectionTessaris.settleRowsAhead();
            return;
        } catch (const RowsAheadRefused&) {
            runGroupAgain();
        }
    }
}

void ImportStage::walkRow()
{
    run_.ui.setProgressPosition(run_.ui.progressPosition() + 1);
    run_.ui.processMessages();
    const qsizetype changesBefore = counts_.changedValues.size();
    const RowOutcome outcome = importRow();
    if (outcome == RowOutcome::Refused)
        counts_.changedValues.resize(changesBefore);
    for (OversizedText& text : run_.ADOConnectionTessaris.takeOversizedTexts())
        counts_.oversizedValues.append({rowCode(), std::move(text)});
    count(outcome);
    const bool groupRunAgain = runAgainThrough_ >= 0 && source_.rowNumber() >= runAgainThrough_;
    if (!groupRunAgain && !run_.ADOConnectionTessaris.groupDue())
        return;
    settleWorkAhead();
    commitRows();
    if (groupRunAgain) {
        runAgainThrough_ = -1;
        announcementsToSkip_ = 0;
        run_.ADOConnectionTessaris.setRowsAhead(true);
    }
    if (run_.ADOConnectionTessaris.sendsRowsAhead())
        markGroupStart(source_.rowNumber() + 1);
}

void ImportStage::markGroupStart(int firstRow)
{
    for (const TargetTable& target : targets_)
        target.dataset.mark();
    groupStart_.sourceRow = firstRow;
    groupStart_.progress = run_.ui.progressPosition();
    groupStart_.numbers.clear();
    for (const qint64* number : numbersKept_)
        groupStart_.numbers.push_back(*number);
    groupStart_.ids = run_.ids.memory();
    groupStart_.announcements = 0;
    groupStarted();
}

// The engine refused a row of the group and rolled the group back: everything goes back to the
// group's first row, which runs again one statement at a time up to the row the group had
// reached, where it is committed; then rows go ahead again. What the group showed is not shown
// twice: the same rows show it again first.
void ImportStage::runGroupAgain()
{
    runAgainThrough_ = source_.rowNumber();
    run_.ADOConnectionTessaris.setRowsAhead(false);
    for (const TargetTable& target : targets_)
        target.dataset.backToMark();
    for (std::size_t place = 0; place < numbersKept_.size(); ++place)
        *numbersKept_[place] = groupStart_.numbers[place];
    run_.ids.restore(groupStart_.ids);
    groupUndone();
    counts_ = committedCounts_;
    run_.ADOConnectionTessaris.takeOversizedTexts();
    run_.ui.setProgressPosition(groupStart_.progress);
    announcementsToSkip_ = groupStart_.announcements;
    source_.moveToRow(groupStart_.sourceRow);
}

bool ImportStage::mayAnnounce()
{
    if (announcementsToSkip_ > 0) {
        --announcementsToSkip_;
        return false;
    }
    if (run_.ADOConnectionTessaris.sendsRowsAhead()) {
        settleWorkAhead();
        run_.ADOConnectionTessaris.settleRowsAhead();
        ++groupStart_.announcements;
    }
    return true;
}

void ImportStage::count(RowOutcome outcome)
{
    ++counts_.read;
    switch (outcome) {
    case RowOutcome::Skipped: ++counts_.skipped; break;
    case RowOutcome::Stored: ++counts_.stored; break;
    case RowOutcome::Merged: ++counts_.merged; break;
    case RowOutcome::Refused: ++counts_.refused; break;
    }
}

void ImportStage::closeTargets()
{
    for (const TargetTable& target : targets_)
        target.dataset.close();
}

void ImportStage::commitRows()
{
    run_.ids.writeDeferredRaises();
    commitStoredRows(run_.ADOConnectionTessaris);
    committedCounts_ = counts_;
}

// A stage stopped by an error reports only the rows the target holds: when the open group cannot
// be committed (the engine dropped it with the connection), the rows since the last commit are
// not there, and the counts go back to what they were then.
void ImportStage::keepOnlyCommittedCounts()
{
    try {
        // Rows whose files could not be made are not committed: the group is taken back.
        settleWorkAhead();
        run_.ids.writeDeferredRaises();
        if (run_.ADOConnectionTessaris.commitGroup())
            return;
    } catch (...) {
    }
    counts_ = committedCounts_;
}

// Empties the status line, pumps, adds the summary line, puts the progress back to 0.
void ImportStage::finish()
{
    showStatus(QString());
    qint64 summarised = counts_.stored + counts_.merged;
    if (summaryCount_ == SummaryCount::ProcessedRows)
        summarised += counts_.refused;
    addLogLine(QString::number(summarised) + (summarised < 2 ? texts_.singular : texts_.plural));
    run_.ui.setProgressPosition(0);
}

SourceField ImportStage::field(const QString& column) const
{
    return source_.field(column);
}

QString ImportStage::text(const QString& column) const
{
    return source_.field(column).asText();
}

qint64 ImportStage::integer(const QString& column) const
{
    return source_.field(column).asInteger();
}

QString ImportStage::fullName() const
{
    return text(QStringLiteral("NOM")) + u' ' + text(QStringLiteral("PRENOM"));
}

bool ImportStage::guard(const QString& wording, const std::function<void()>& store,
                        std::initializer_list<TargetDataset*> cancelOnFailure)
{
    try {
        store();
        return true;
    } catch (const std::exception& error) {
        rethrowWhenTheRunMustEnd(error);
        logFailure(wording, errorMessage(error));
        for (TargetDataset* dataset : cancelOnFailure)
            if (dataset->isPending())
                dataset->cancel();
        return false;
    }
}

void ImportStage::logFailure(const QString& wording, const QString& message)
{
    ++counts_.failures;
    counts_.failureLines.append({rowCode(), asOneLogLine(wording), asOneLogLine(message)});
    logFailureLines(run_.ui, wording, message);
}

void ImportStage::showRowError(const QString& text)
{
    if (run_.ui.mayAnnounce())
        run_.ui.showError(text);
}

void ImportStage::noteChangedValue(const QString& column, const QString& sourceValue,
                                   const QString& storedValue)
{
    counts_.changedValues.append({rowCode(), column, sourceValue, storedValue});
}

QString ImportStage::rowCode() const
{
    if (codeColumn_.isEmpty() || !source_.isOpen() || source_.eof())
        return QString();
    return text(codeColumn_);
}

void ImportStage::showStatus(const QString& text)
{
    p1::showStatus(run_.ui, text);
}

void ImportStage::addLogLine(const QString& line)
{
    run_.ui.addLogLine(line);
}

void commitStoredRows(TargetConnection& target)
{
    if (!target.commitGroup())
        throw TargetUnavailable(QStringLiteral("La connexion à la base Tessaris a été perdue : "
                                               "les dernières lignes importées n'ont pas été enregistrées."));
}

// A failed target or a damaged source would fail every row after this one as well: the run ends
// at the first, through its general error path.
void rethrowWhenTheRunMustEnd(const std::exception& error)
{
    if (dynamic_cast<const TargetUnavailable*>(&error) || dynamic_cast<const SourceDamaged*>(&error))
        throw;
}

void logFailureLines(RunMonitor& monitor, const QString& wording, const QString& message)
{
    monitor.addLogLine(currentDateTimeText() + wording);
    monitor.addLogLine(QStringLiteral("   ERREUR : ") + message);
}

QStringList sharedSelectLines()
{
    return {QStringLiteral("SELECT * from "), QStringLiteral(":tablename"), QString()};
}

void selectWholeTable(SourceQuery& Sorvane_Select, SourceConnection& connection,
                      const QString& tableLine, const QString& orderLine)
{
    Sorvane_Select.close();
    if (Sorvane_Select.connection() != &connection)
        Sorvane_Select.setConnection(&connection);
    QStringList lines = sharedSelectLines();
    lines[1] = tableLine;
    lines[2] = orderLine;
    Sorvane_Select.sql() = lines;
}

void openWholeTable(TargetDataset& dataset, const QString& commandText)
{
    dataset.close();
    dataset.setCommandText(commandText);
    dataset.open();
}

QString wholeTable(const QString& table)
{
    return QStringLiteral("SELECT * FROM ") + table;
}

} // namespace p1
