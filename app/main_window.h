#pragma once

#include "app/dialogs.h"
#include "common/operator_ui.h"
#include "targetdb/target_sql.h"

#include <QDateTime>
#include <QMainWindow>

#include <memory>

class QCheckBox;
class QLabel;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;
class QTimer;
class QToolButton;

namespace p1 {

class FormOperatorUi;
class ImportSession;

// The elapsed time of a run as the elapsed-time label shows it: a time of day in the long time
// format, so that the hours start again from 0 after 24 hours.
QString elapsedTimeText(const QDateTime& runStart, const QDateTime& now);

// The main window Form1: the operator's choices, the Import button and the run's display.
// It holds widgets and handlers only; the connections, queries and the work of the handlers
// live in ImportSession, which reaches the widgets through FormOperatorUi. UI thread only.
class TForm1 : public QMainWindow {
    Q_OBJECT

public:
    // Without dialogs, the window uses the real Qt dialogs.
    explicit TForm1(std::unique_ptr<Dialogs> dialogs = nullptr,
                    TargetEngine engine = defaultTargetEngine(), QWidget* parent = nullptr);
    ~TForm1() override;

    ImportSession& session() { return *session_; }
    Dialogs& dialogs() { return *dialogs_; }

    // Components, under the names the rest of the program knows them by.
    QLabel* SorvanePath;
    QLabel* SorvaneRTFPath;
    QLabel* TessarisBase;
    QToolButton* SBSelectSorvaneBase;
    QToolButton* SBSelectSorvaneRTF;
    QToolButton* SBSelectTessarisBase;
    QCheckBox* CBVider;
    QPushButton* Button1;
    QPlainTextEdit* Memo1;
    QLabel* lEvolution;
    QLabel* lTimer;
    QPushButton* BtExecuter;
    QPushButton* BitBtn2;
    QProgressBar* PB1;
    QTimer* Timer1;

    // The purge's box, then one box per stage in the order of the run (CBImportMedecins, ...).
    QList<QCheckBox*> optionBoxes() const;
    QCheckBox* optionBox(Box box) const;
    // Closes the window even during a run (a failed target choice ends the application).
    void closeApplication();
    // A run was stopped by a signal (SIGINT, SIGTERM, SIGHUP): the window closed once its records
    // were kept, and the program's exit status is 1.
    bool stoppedBySignal() const { return stoppedBySignal_; }

public slots:
    void FormCreate();
    void ButtonExecuterClick();
    void Button2Click();
    void Button1Click();
    void Timer1Timer();
    void SBSelectSorvaneBaseClick();
    void SBSelectSorvaneRTFClick();
    void SBSelectTessarisBaseClick();

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void FormClose();
    // True from the run's busy state to its clean-up (the Close button is disabled meanwhile).
    bool isRunning() const;
    QWidget* buildLocationsArea();
    QWidget* buildLocationRow(QLabel*& label, QToolButton*& button, const QString& defaultText);
    QWidget* buildOptionsArea();
    QWidget* buildBottomStrip();
    void connectHandlers();
    void centreOnScreen();

    QList<std::pair<Box, QCheckBox*>> stageBoxes_;
    std::unique_ptr<Dialogs> dialogs_;
    std::unique_ptr<FormOperatorUi> ui_;
    std::unique_ptr<ImportSession> session_;
    bool closingApplication_ = false;
    bool stoppedBySignal_ = false;
};

} // namespace p1
