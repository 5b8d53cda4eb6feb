#pragma once

#include "common/operator_ui.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QStringList>

namespace p1 {

class TForm1;

// The operator seam over the main window's widgets and dialogs. UI thread only.
class FormOperatorUi : public OperatorUi {
public:
    explicit FormOperatorUi(TForm1& form);

    // The wall clock at which the running (or last) run started.
    QDateTime runStart() const { return runStart_; }

    QString locationText(Location location) const override;
    void setLocationText(Location location, const QString& text) override;
    bool isTicked(Box box) const override;

    void setStatus(const QString& text) override;
    QString status() const override;
    void setStatusVisible(bool visible) override;

    void setProgressMaximum(int maximum) override;
    void setProgressPosition(int position) override;
    int progressPosition() const override;

    void addPanelLine(const QString& line) override;
    QStringList logLines() const override { return logLines_; }
    void showLogPanel() override;

    void startElapsedTimer() override;
    void stopElapsedTimer() override;
    void setElapsedVisible(bool visible) override;
    QString elapsedText() const override;

    void setImportEnabled(bool enabled) override;
    bool isImportEnabled() const override;
    void setCloseEnabled(bool enabled) override;
    void setBusy(bool busy) override;
    void closeApplication() override;

    void processMessages() override;
    void repaintNow() override;

    void showError(const QString& text) override;
    void showWarning(const QString& text) override;
    bool confirm(const QString& text) override;
    void showMessage(const QString& text) override;

private:
    TForm1& form_;
    QDateTime runStart_;
    // The bar's own range cannot be empty (Qt shows a busy animation then), so the maximum the
    // run asked for is kept here and the position is held within it.
    int progressMaximum_ = 100;
    // Rows move the status line and the progress bar thousands of times a second, and a progress
    // bar repaints itself at once: the widgets show the latest values at each pump, and the empty
    // status and the position 0 (a stage's end, the clean-up) at once.
    QString status_;
    int progressPosition_ = 0;
    // The panel's text cannot tell an empty line from no line; the lines as added are kept.
    QStringList logLines_;
    bool busy_ = false;
    QElapsedTimer sinceLastPump_;

    void showLatestProgress();
};

} // namespace p1
