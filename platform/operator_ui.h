#pragma once

#include <QDateTime>
#include <QString>
#include <QStringList>

namespace p1 {

// The engine's only way to the operator. The window implements it with widgets, the command
// line with a terminal, the tests with a recorder. Everything runs on the UI thread.
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

class OperatorUi {
public:
    virtual ~OperatorUi() = default;

    // The three location labels (SorvanePath, SorvaneRTFPath, TessarisBase).
    virtual QString locationText(Location location) const = 0;
    virtual void setLocationText(Location location, const QString& text) = 0;

    // The option boxes, read when a stage is reached.
    virtual bool isTicked(Box box) const = 0;

    // Status line lEvolution.
    virtual void setStatus(const QString& text) = 0;
    virtual QString status() const = 0;
    virtual void setStatusVisible(bool visible) = 0;

    // Progress bar PB1.
    virtual void setProgressMaximum(int maximum) = 0;
    virtual void setProgressPosition(int position) = 0;
    virtual int progressPosition() const = 0;

    // Log panel Memo1: never cleared; lines of later runs follow earlier ones.
    virtual void addLogLine(const QString& line) = 0;
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

    // Pending window messages (throttled repaint in the window).
    virtual void processMessages() = 0;

    // Dialogs. confirm() is the Yes/No question; it returns false only for No.
    virtual void showError(const QString& text) = 0;
    virtual void showWarning(const QString& text) = 0;
    virtual bool confirm(const QString& text) = 0;
    virtual void showMessage(const QString& text) = 0;
};

// Every change of the status line is followed by a pump, so that the window shows it at once.
inline void showStatus(OperatorUi& ui, const QString& text)
{
    ui.setStatus(text);
    ui.processMessages();
}

} // namespace p1
