#pragma once

#include "common/operator_ui.h"

#include <QElapsedTimer>
#include <QMap>
#include <QString>

#include <cstdio>

namespace p1 {

struct TerminalStreams {
    FILE* out = stdout;
    FILE* err = stderr;
    FILE* in = stdin;
};

// The operator seam of the command line. Standard output carries the log lines only, as they are
// added; dialogs go to standard error; a progress bar is drawn on standard error when it is a
// terminal; the confirmation is read from standard input unless answered in advance.
class TerminalUi : public OperatorUi {
public:
    explicit TerminalUi(TerminalStreams streams = {});

    void setTicked(Box box, bool ticked) { boxes_[box] = ticked; }
    void answerYesInAdvance() { answerYes_ = true; }

    QString locationText(Location location) const override;
    void setLocationText(Location location, const QString& text) override { locations_[location] = text; }
    bool isTicked(Box box) const override { return boxes_.value(box, true); }

    void setStatus(const QString& text) override;
    QString status() const override { return status_; }
    void setStatusVisible(bool visible) override;

    void setProgressMaximum(int maximum) override { progressMaximum_ = maximum; }
    void setProgressPosition(int position) override;
    int progressPosition() const override { return progressPosition_; }

    void addPanelLine(const QString& line) override;
    QStringList logLines() const override { return logLines_; }
    void showLogPanel() override {}

    void startElapsedTimer() override { elapsed_.start(); }
    void stopElapsedTimer() override;
    void setElapsedVisible(bool) override {}
    QString elapsedText() const override;

    void setImportEnabled(bool enabled) override { importEnabled_ = enabled; }
    bool isImportEnabled() const override { return importEnabled_; }
    void setCloseEnabled(bool) override {}
    void setBusy(bool) override {}
    void closeApplication() override {}

    void processMessages() override {}

    void showError(const QString& text) override;
    void showWarning(const QString& text) override;
    bool confirm(const QString& text) override;
    void showMessage(const QString& text) override;

    // Prints a line on standard error, clearing the progress bar first.
    void printError(const QString& text);

private:
    void drawProgress();
    void clearProgress();

    TerminalStreams streams_;
    bool progressShown_;
    bool barDrawn_ = false;
    bool statusVisible_ = false;
    QElapsedTimer lastDraw_;
    QMap<Location, QString> locations_;
    QMap<Box, bool> boxes_;
    QString status_;
    int progressMaximum_ = 0;
    int progressPosition_ = 0;
    QStringList logLines_;
    QElapsedTimer elapsed_;
    qint64 lastElapsedMs_ = 0;
    bool importEnabled_ = false;
    bool answerYes_ = false;
};

// Writes UTF-8 text to the stream at once.
void printText(FILE* stream, const QString& text);

} // namespace p1
