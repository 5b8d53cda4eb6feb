#include "run/stage_frame.h"

#include "platform/errors.h"
#include "platform/locale_texts.h"

namespace p1 {

StageFrame::StageFrame(RunContext& run, StageTexts texts) : run_(run), texts_(std::move(texts)) {}

void StageFrame::start(SourceQuery& source, bool keepPosition)
{
    showStatus(texts_.status);
    try {
        source.open();
    } catch (const std::exception& error) {
        run_.ui.showError(texts_.openingError + errorMessage(error));
        throw RunEnded();
    }
    run_.ui.setProgressMaximum(source.recordCount());
    if (!keepPosition)
        run_.ui.setProgressPosition(0);
}

void StageFrame::forEachRow(SourceQuery& source, const std::function<void()>& importRow)
{
    for (; !source.eof(); source.next()) {
        run_.ui.setProgressPosition(run_.ui.progressPosition() + 1);
        run_.ui.processMessages();
        importRow();
    }
}

bool StageFrame::guard(const QString& wording, const std::function<void()>& store,
                       std::initializer_list<TargetDataset*> cancelOnFailure)
{
    try {
        store();
        return true;
    } catch (const std::exception& error) {
        logFailure(wording, errorMessage(error));
        for (TargetDataset* dataset : cancelOnFailure)
            if (dataset->isPending())
                dataset->cancel();
        return false;
    }
}

void StageFrame::logFailure(const QString& wording, const QString& message)
{
    addLogLine(currentDateTimeText() + wording);
    addLogLine(QStringLiteral("   ERREUR : ") + message);
}

void StageFrame::showStatus(const QString& text)
{
    p1::showStatus(run_.ui, text);
}

void StageFrame::addLogLine(const QString& line)
{
    run_.ui.addLogLine(line);
}

void StageFrame::finish(qint64 createdCount)
{
    showStatus(QString());
    addLogLine(QString::number(createdCount) + (createdCount < 2 ? texts_.singular : texts_.plural));
    run_.ui.setProgressPosition(0);
}

} // namespace p1
