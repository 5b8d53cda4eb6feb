#include "app/form_operator_ui.h"

#include "app/main_window.h"
#include "common/date_time.h"

#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <QToolButton>

namespace p1 {

namespace {

// Pending messages are processed after every row, but a repaint costs far more than a row:
// the window is brought up to date at most this often.
constexpr qint64 pumpIntervalMs = 50;

QLabel* locationLabel(const TForm1& form, Location location)
{
    switch (location) {
    case Location::SourceBase:
        return form.SorvanePath;
    case Location::SourceLetters:
        return form.SorvaneRTFPath;
    case Location::TargetBase:
        return form.TessarisBase;
    }
    return nullptr;
}

QCheckBox* optionBox(const TForm1& form, Box box)
{
    return form.optionBox(box);
}

} // namespace

FormOperatorUi::FormOperatorUi(TForm1& form) : form_(form) {}

QString FormOperatorUi::locationText(Location location) const
{
    return locationLabel(form_, location)->text();
}

void FormOperatorUi::setLocationText(Location location, const QString& text)
{
    QLabel* label = locationLabel(form_, location);
    label->setText(text);
    // A long path is cut off by the strip; the tip shows it whole.
    label->setToolTip(text);
}

bool FormOperatorUi::isTicked(Box box) const
{
    return optionBox(form_, box)->isChecked();
}

void FormOperatorUi::setStatus(const QString& text)
{
    status_ = text;
    if (text.isEmpty())
        showLatestProgress();
}

QString FormOperatorUi::status() const
{
    return status_;
}

void FormOperatorUi::setStatusVisible(bool visible)
{
    form_.lEvolution->setVisible(visible);
}

void FormOperatorUi::setProgressMaximum(int maximum)
{
    progressMaximum_ = qMax(0, maximum);
    progressPosition_ = qBound(0, progressPosition_, progressMaximum_);
    form_.PB1->setRange(0, qMax(1, progressMaximum_));
    showLatestProgress();
}

void FormOperatorUi::setProgressPosition(int position)
{
    progressPosition_ = qBound(0, position, progressMaximum_);
    if (progressPosition_ == 0)
        showLatestProgress();
}

int FormOperatorUi::progressPosition() const
{
    return progressPosition_;
}

void FormOperatorUi::showLatestProgress()
{
    if (form_.lEvolution->text() != status_)
        form_.lEvolution->setText(status_);
    if (form_.PB1->value() != progressPosition_)
        form_.PB1->setValue(progressPosition_);
}

void FormOperatorUi::addPanelLine(const QString& line)
{
    logLines_.append(line);
    form_.Memo1->appendPlainText(line);
}

void FormOperatorUi::showLogPanel()
{
    form_.Memo1->show();
    form_.Memo1->raise();
}

void FormOperatorUi::startElapsedTimer()
{
    runStart_ = currentWallClock();
    form_.lTimer->show();
    form_.Timer1->start();
}

void FormOperatorUi::stopElapsedTimer()
{
    form_.Timer1->stop();
}

void FormOperatorUi::setElapsedVisible(bool visible)
{
    form_.lTimer->setVisible(visible);
}

// Taken from the run's own start: the label still shows the previous run's time until the
// timer's first tick.
QString FormOperatorUi::elapsedText() const
{
    return elapsedTimeText(runStart_, currentWallClock());
}

void FormOperatorUi::setImportEnabled(bool enabled)
{
    form_.BtExecuter->setEnabled(enabled);
}

bool FormOperatorUi::isImportEnabled() const
{
    return form_.BtExecuter->isEnabled();
}

// The location buttons follow the Close button: choosing another source or target in the middle
// of a run would mix two practices' records in one target.
void FormOperatorUi::setCloseEnabled(bool enabled)
{
    form_.BitBtn2->setEnabled(enabled);
    form_.SBSelectSorvaneBase->setEnabled(enabled);
    form_.SBSelectSorvaneRTF->setEnabled(enabled);
    form_.SBSelectTessarisBase->setEnabled(enabled);
}

// The busy cursor is one state, not a stack: the run sets it more than once before it ends.
void FormOperatorUi::setBusy(bool busy)
{
    if (busy == busy_)
        return;
    busy_ = busy;
    if (busy)
        QApplication::setOverrideCursor(Qt::WaitCursor);
    else
        QApplication::restoreOverrideCursor();
}

void FormOperatorUi::closeApplication()
{
    form_.closeApplication();
}

void FormOperatorUi::processMessages()
{
    if (sinceLastPump_.isValid() && sinceLastPump_.elapsed() < pumpIntervalMs)
        return;
    // Restarted first, so that a handler run by this pump (the one-second timer) does not pump
    // again inside it.
    sinceLastPump_.start();
    showLatestProgress();
    QCoreApplication::processEvents();
}

void FormOperatorUi::repaintNow()
{
    sinceLastPump_.invalidate();
    processMessages();
}

void FormOperatorUi::showError(const QString& text)
{
    form_.dialogs().showError(text);
}

void FormOperatorUi::showWarning(const QString& text)
{
    form_.dialogs().showWarning(text);
}

bool FormOperatorUi::confirm(const QString& text)
{
    return form_.dialogs().confirm(text);
}

void FormOperatorUi::showMessage(const QString& text)
{
    form_.dialogs().showMessage(text);
}

} // namespace p1
