#include "stages/stage_frame.h"

#include "common/errors.h"
#include "common/locale_texts.h"
#include "stages/reference_lookups.h"

#include <QElapsedTimer>

namespace p1 {

ImportStage::ImportStage(RunContext& run, StageTexts texts, StageSource source,
                         std::vector<TargetTable> targets)
    : groups_(run, source.query, counts_), run_(withMonitor(run, groups_.monitor())), source_(source.query),
      texts_(std::move(texts)), sourceDeclaration_(std::move(source)), targets_(std::move(targets))
{
    for (const TargetTable& target : targets_)
        groups_.addDataset(target.dataset);
}

namespace {

// The allocator's warnings go where the stage's rows announce, for the length of the stage.
class WarningsOfTheStage {
public:
    WarningsOfTheStage(IdAllocator& ids, RunMonitor& ui) : ids_(ids), before_(ids.reportTo(ui)) {}
    ~WarningsOfTheStage() { ids_.reportTo(before_); }
    WarningsOfTheStage(const WarningsOfTheStage&) = delete;
    WarningsOfTheStage& operator=(const WarningsOfTheStage&) = delete;

private:
    IdAllocator& ids_;
    RunMonitor& before_;
};

} // namespace

StageCounts ImportStage::run()
{
    QElapsedTimer clock;
    clock.start();
    run_.ADOConnectionTessaris.startRunStep();
    run_.ids.forgetValues();
    run_.lookups.forgetLabels();
    const WarningsOfTheStage warnings(run_.ids, run_.ui);
    try {
        openSource();
        openTargets();
        groups_.readCounters();
        groups_.walk([this] { walkRow(); });
        closeTargets();
        groups_.raiseCounters();
        groups_.commit();
        // The summary line counts rows as stored: they must outlive a crash of the target from here on.
        run_.ADOConnectionTessaris.makeDurable();
        madeDurable();
        source_.close();
        finish();
    } catch (...) {
        groups_.stopped();
        publishCounts(clock.elapsed());
        throw;
    }
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

void ImportStage::walkRow()
{
    run_.ui.setProgressPosition(run_.ui.progressPosition() + 1);
    run_.ui.processMessages();
    const qsizetype changesBefore = counts_.changedValues.size();
    storedSoFar_.reset();
    RowOutcome outcome = RowOutcome::Refused;
    try {
        outcome = importRow();
    } catch (...) {
        if (storedSoFar_)
            count(*storedSoFar_);
        throw;
    }
    if (outcome == RowOutcome::Refused)
        counts_.changedValues.resize(changesBefore);
    for (OversizedText& text : run_.ADOConnectionTessaris.takeOversizedTexts())
        counts_.oversizedValues.append({rowCode(), std::move(text)});
    count(outcome);
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

void ImportStage::recordRefusal(const QString& wording, const QString& message)
{
    ++counts_.failures;
    counts_.failureLines.append({rowCode(), asOneLogLine(wording), asOneLogLine(message)});
}

void ImportStage::logFailure(const QString& wording, const QString& message)
{
    recordRefusal(wording, message);
    logFailureLines(run_.ui, wording, message);
}

void ImportStage::showRowError(const QString& text)
{
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

QString wholeTableStatement(const QString& tableLine, const QString& orderLine)
{
    QStringList lines = sharedSelectLines();
    lines[1] = tableLine;
    lines[2] = orderLine;
    return lines.join(QLatin1Char('\n'));
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
