#pragma once

#include <QDateTime>
#include <QRegularExpression>
#include <QString>
#include <QStringList>


namespace p1 {

enum class Location { SourceBase, SourceLetters, TargetBase };

enum class Box {
    Vider,
    ImportMedecins,
    ImportCorrespondants,
    ImportPatients,
    ImportAnteced,
    ImportConsultations,
    ImportCourriers,
    ImportOrdo,
};

// What the engine (purge, allocator, stages) needs of the operator: the status line, the
// progress bar, the log panel, the pump and two kinds of dialog. UI thread only.
class RunMonitor {
public:
    virtual ~RunMonitor() = default;

    // Status line lEvolution.
    virtual void setStatus(const QString& text) = 0;

    // Progress bar PB1.
    virtual void setProgressMaximum(int maximum) = 0;
    virtual void setProgressPosition(int position) = 0;
    virtual int progressPosition() const = 0;

    // Log panel Memo1: never cleared; lines of later runs follow earlier ones. A text holding
    // line breaks (an engine's message with its details) goes in as one panel line, each break
    // made a blank: a refused row keeps its two failure lines, the panel counts its lines right
    // and every line of the log file ends with CR LF and nothing else.
    void addLogLine(const QString& text);

    // Pending window messages (throttled repaint in the window).
    virtual void processMessages() = 0;
    // Before a statement that blocks for a while (a table's deletion, a stage's source opening):
    // the window shows its latest state at once, whatever the throttle.
    virtual void repaintNow() { processMessages(); }

    virtual void showError(const QString& text) = 0;
    virtual void showWarning(const QString& text) = 0;

    // The target has committed what the log lines so far tell (a group of rows, a deletion of the
    // purge, a stage's end): they may go on the disk now. Nothing, unless the run keeps a journal.
    virtual void logLinesCommitted() {}

protected:
    // One line of the panel, without line break.
    virtual void addPanelLine(const QString& line) = 0;
};

// Where a run keeps its log lines on the disk as it goes (its journal).
class LogKeeper {
public:
    virtual ~LogKeeper() = default;
    // Every log line so far: those not kept yet are appended.
    virtual void keep(const QStringList& lines) = 0;
};

// The session's whole seam to the operator: the run monitor plus the locations, the boxes, the
// buttons, the elapsed time and the other dialogs. The window implements it with widgets, the
// command line with a terminal, the tests with a recorder.
class OperatorUi : public RunMonitor {
public:
    // The three location labels (SorvanePath, SorvaneRTFPath, TessarisBase).
    virtual QString locationText(Location location) const = 0;
    virtual void setLocationText(Location location, const QString& text) = 0;

    // The option boxes, read when a stage is reached.
    virtual bool isTicked(Box box) const = 0;

    virtual QString status() const = 0;
    virtual void setStatusVisible(bool visible) = 0;

    virtual QStringList logLines() const = 0;
    virtual void showLogPanel() = 0;

    // Elapsed time label lTimer and its one-second timer Timer1.
    virtual void startElapsedTimer() = 0;
    virtual void stopElapsedTimer() = 0;
    virtual void setElapsedVisible(bool visible) = 0;
    virtual QString elapsedText() const = 0;

    // Buttons BtExecuter and BitBtn2, busy cursor, closing the application.
    virtual void setImportEnabled(bool enabled) = 0;
    virtual bool isImportEnabled() const = 0;
    virtual void setCloseEnabled(bool enabled) = 0;
    virtual void setBusy(bool busy) = 0;
    virtual void closeApplication() = 0;

    // confirm() is the Yes/No question; it returns false for No, and for Escape or a closed box:
    // a dismissed question starts no run.
    virtual bool confirm(const QString& text) = 0;
    virtual void showMessage(const QString& text) = 0;

    // At each commit, the log lines go to the keeper, while one is set (none: nullptr).
    void keepLogWith(LogKeeper* keeper) { logKeeper_ = keeper; }
    void logLinesCommitted() override
    {
        if (logKeeper_)
            logKeeper_->keep(logLines());
    }

private:
    LogKeeper* logKeeper_ = nullptr;
};

// A text as one line of the log: its line breaks become blanks.
inline QString asOneLogLine(const QString& text)
{
    static const QRegularExpression lineBreak(QStringLiteral("\r\n|\r|\n"));
    return QString(text).replace(lineBreak, QStringLiteral(" "));
}

inline void RunMonitor::addLogLine(const QString& text)
{
    addPanelLine(asOneLogLine(text));
}

// Every change of the status line is followed by a pump, so that the window shows it at once.
inline void showStatus(RunMonitor& monitor, const QString& text)
{
    monitor.setStatus(text);
    monitor.processMessages();
}

// The status line shown before a statement that blocks: repainted whatever the throttle.
inline void showStatusAtOnce(RunMonitor& monitor, const QString& text)
{
    monitor.setStatus(text);
    monitor.repaintNow();
}

} // namespace p1
