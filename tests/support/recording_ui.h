#pragma once

#include "common/operator_ui.h"

#include <QList>
#include <QMap>
#include <QString>
#include <QStringList>

namespace p1 {

// The operator seam for tests: keeps everything the engine shows and answers the confirmation
// questions from a script (Yes once the script is used up).
class RecordingUi : public OperatorUi {
public:
    enum class DialogKind { Error, Warning, Confirm, Message };
    struct Dialog {
        DialogKind kind;
        QString text;
        bool operator==(const Dialog&) const = default;
    };

    RecordingUi();

    // Set-up by the tests.
    void setTicked(Box box, bool ticked);
    void setAllTicked(bool ticked);
    void scriptConfirmAnswers(const QList<bool>& answers);
    void setElapsedText(const QString& text);

    // What the engine did.
    const QStringList& statusHistory() const { return statusHistory_; }
    int progressMaximum() const { return progressMaximum_; }
    const QList<Dialog>& dialogs() const { return dialogs_; }
    QStringList dialogTexts(DialogKind kind) const;
    bool isBusy() const { return busy_; }
    bool isCloseEnabled() const { return closeEnabled_; }
    bool isStatusVisible() const { return statusVisible_; }
    bool isElapsedVisible() const { return elapsedVisible_; }
    bool isElapsedTimerRunning() const { return timerRunning_; }
    bool isLogPanelShown() const { return logPanelShown_; }
    bool applicationClosed() const { return applicationClosed_; }
    int pumpCount() const { return pumpCount_; }
    // The status line at each repaint made before a blocking statement.
    const QStringList& repaintedStatuses() const { return repaintedStatuses_; }

    QString locationText(Location location) const override;
    void setLocationText(Location location, const QString& text) override;
    bool isTicked(Box box) const override;

    void setStatus(const QString& text) override;
    QString status() const override { return status_; }
    void setStatusVisible(bool visible) override { statusVisible_ = visible; }

    void setProgressMaximum(int maximum) override { progressMaximum_ = maximum; }
    void setProgressPosition(int position) override { progressPosition_ = position; }
    int progressPosition() const override { return progressPosition_; }

    void addPanelLine(const QString& line) override { logLines_.append(line); }
    QStringList logLines() const override { return logLines_; }
    void showLogPanel() override { logPanelShown_ = true; }

    void startElapsedTimer() override { timerRunning_ = true; }
    void stopElapsedTimer() override { timerRunning_ = false; }
    void setElapsedVisible(bool visible) override { elapsedVisible_ = visible; }
    QString elapsedText() const override { return elapsedText_; }

    void setImportEnabled(bool enabled) override { importEnabled_ = enabled; }
    bool isImportEnabled() const override { return importEnabled_; }
    void setCloseEnabled(bool enabled) override { closeEnabled_ = enabled; }
    void setBusy(bool busy) override { busy_ = busy; }
    void closeApplication() override { applicationClosed_ = true; }

    void processMessages() override { ++pumpCount_; }
    void repaintNow() override
    {
        ++pumpCount_;
        repaintedStatuses_.append(status_);
    }

    void showError(const QString& text) override;
    void showWarning(const QString& text) override;
    bool confirm(const QString& text) override;
    void showMessage(const QString& text) override;

private:
    QMap<Location, QString> locations_;
    QMap<Box, bool> boxes_;
    QString status_;
    QStringList statusHistory_;
    bool statusVisible_ = false;
    int progressMaximum_ = 100;
    int progressPosition_ = 0;
    QStringList logLines_;
    bool logPanelShown_ = false;
    bool timerRunning_ = false;
    bool elapsedVisible_ = false;
    QString elapsedText_ = QStringLiteral("00:00:00");
    bool importEnabled_ = false;
    bool closeEnabled_ = true;
    bool busy_ = false;
    bool applicationClosed_ = false;
    int pumpCount_ = 0;
    QStringList repaintedStatuses_;
    QList<Dialog> dialogs_;
    QList<bool> confirmAnswers_;
};

} // namespace p1
