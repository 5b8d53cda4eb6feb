#include "app/main_window.h"

#include "app/form_operator_ui.h"
#include "common/date_time.h"
#include "common/errors.h"
#include "common/locale_texts.h"
#include "common/stop_signals.h"
#include "run/import_session.h"
#include "run/location_texts.h"
#include "stages/stage_table.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QFrame>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QStyle>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>

namespace p1 {

namespace {

const QString sourceBaseWindowsFolder = QStringLiteral("C:\\Temp\\Sorvane\\BDD");
const QString sourceBaseWindowsFile = QStringLiteral("C:\\Temp\\Sorvane\\BDD\\v4.mdb");
const QString lettersWindowsFolder = QStringLiteral("C:\\Temp\\Sorvane\\Courrier\\");
const QString targetWindowsFolder = QStringLiteral("C:\\Tessaris\\V4\\Bases SQL\\Sorvane");

constexpr qint64 msecsPerDay = 24 * 60 * 60 * 1000;

// The initial file name of a dialog: the Windows one where its folder is offered, else its
// bare name in the folder that is.
QString initialFileName(const QString& windowsFile, const QString& windowsFolder)
{
    if (defaultDialogFolder(windowsFolder) == windowsFolder)
        return windowsFile;
    return windowsFile.section(QLatin1Char('\\'), -1);
}

QLabel* newCaption(const QString& text)
{
    auto* caption = new QLabel(text);
    QFont font = caption->font();
    font.setBold(true);
    caption->setFont(font);
    return caption;
}

QCheckBox* newOptionBox(const QString& objectName, const QString& caption)
{
    auto* box = new QCheckBox(caption);
    box->setObjectName(objectName);
    box->setChecked(true);
    return box;
}

// A label that keeps its place in the strip while hidden, so the buttons do not move.
QLabel* newStripLabel(const QString& objectName, const QString& text,
                      QSizePolicy::Policy horizontal)
{
    auto* label = new QLabel(text);
    label->setObjectName(objectName);
    QSizePolicy policy(horizontal, QSizePolicy::Preferred);
    policy.setRetainSizeWhenHidden(true);
    label->setSizePolicy(policy);
    return label;
}

} // namespace

QString elapsedTimeText(const QDateTime& runStart, const QDateTime& now)
{
    const qint64 elapsed = qMax<qint64>(0, runStart.msecsTo(now));
    return timeText(QTime(0, 0).addMSecs(static_cast<int>(elapsed % msecsPerDay)));
}

TForm1::TForm1(std::unique_ptr<Dialogs> dialogs, TargetEngine engine, QWidget* parent)
    : QMainWindow(parent), dialogs_(std::move(dialogs))
{
    setObjectName(QStringLiteral("Form1"));
    setWindowTitle(QStringLiteral("Importation Sorvane"));
    if (!dialogs_)
        dialogs_ = std::make_unique<QtDialogs>(this);

    Memo1 = new QPlainTextEdit;
    Memo1->setObjectName(QStringLiteral("Memo1"));
    Memo1->setReadOnly(true);
    // A vertical scroll bar only: long lines wrap.
    Memo1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    Memo1->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);

    auto* central = new QWidget;
    auto* layout = new QVBoxLayout(central);
    layout->addWidget(buildLocationsArea());
    layout->addWidget(buildOptionsArea());
    layout->addWidget(Memo1, 1);
    layout->addWidget(buildBottomStrip());
    setCentralWidget(central);

    Timer1 = new QTimer(this);
    Timer1->setObjectName(QStringLiteral("Timer1"));
    Timer1->setInterval(1000);
    // A coarse timer may tick a little before the second is complete, and the label would then
    // lag a second behind.
    Timer1->setTimerType(Qt::PreciseTimer);

    ui_ = std::make_unique<FormOperatorUi>(*this);
    session_ = std::make_unique<ImportSession>(*ui_, engine);
    connectHandlers();

    resize(760, 640);
    centreOnScreen();
    FormCreate();
}

TForm1::~TForm1() = default;

QWidget* TForm1::buildLocationsArea()
{
    auto* area = new QWidget;
    auto* layout = new QVBoxLayout(area);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(newCaption(QStringLiteral("A partir de :")));
    layout->addWidget(buildLocationRow(SorvanePath, SBSelectSorvaneBase,
                                       defaultLocationText(Location::SourceBase)));
    layout->addWidget(buildLocationRow(SorvaneRTFPath, SBSelectSorvaneRTF,
                                       defaultLocationText(Location::SourceLetters)));
    layout->addWidget(newCaption(QStringLiteral("Dans :")));
    layout->addWidget(buildLocationRow(TessarisBase, SBSelectTessarisBase,
                                       defaultLocationText(Location::TargetBase)));
    SorvanePath->setObjectName(QStringLiteral("SorvanePath"));
    SorvaneRTFPath->setObjectName(QStringLiteral("SorvaneRTFPath"));
    TessarisBase->setObjectName(QStringLiteral("TessarisBase"));
    SBSelectSorvaneBase->setObjectName(QStringLiteral("SBSelectSorvaneBase"));
    SBSelectSorvaneRTF->setObjectName(QStringLiteral("SBSelectSorvaneRTF"));
    SBSelectTessarisBase->setObjectName(QStringLiteral("SBSelectTessarisBase"));
    return area;
}

QWidget* TForm1::buildLocationRow(QLabel*& label, QToolButton*& button,
                                  const QString& defaultText)
{
    auto* strip = new QFrame;
    strip->setFrameShape(QFrame::StyledPanel);
    strip->setFrameShadow(QFrame::Sunken);
    auto* layout = new QHBoxLayout(strip);

    auto* picture = new QLabel;
    picture->setPixmap(style()->standardIcon(QStyle::SP_DirIcon).pixmap(32, 32));
    layout->addWidget(picture);

    label = new QLabel(defaultText);
    QFont font = label->font();
    font.setPointSizeF(font.pointSizeF() * 1.4);
    label->setFont(font);
    // A long path must not widen the window: it is cut off, and shown whole in the tip.
    label->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    label->setMinimumHeight(label->sizeHint().height());
    layout->addWidget(label, 1);

    button = new QToolButton;
    button->setIcon(style()->standardIcon(QStyle::SP_DirOpenIcon));
    button->setIconSize(QSize(24, 24));
    button->setToolTip(QStringLiteral("Modifier"));
    layout->addWidget(button);
    return strip;
}

QWidget* TForm1::buildOptionsArea()
{
    CBVider = newOptionBox(QStringLiteral("CBVider"),
                           QStringLiteral("Vider la base avant importation"));
    QFont bold = CBVider->font();
    bold.setBold(true);
    CBVider->setFont(bold);
    QPalette warning = CBVider->palette();
    warning.setColor(QPalette::WindowText, Qt::darkRed);
    CBVider->setPalette(warning);

    for (const StageEntry& stage : stageTable())
        stageBoxes_.append({stage.box, newOptionBox(stage.boxName, stage.caption)});

    Button1 = new QPushButton(QStringLiteral("tout (dé)cocher"));
    Button1->setObjectName(QStringLiteral("Button1"));

    auto* area = new QWidget;
    auto* grid = new QGridLayout(area);
    grid->setContentsMargins(0, 6, 0, 6);
    const QList<QCheckBox*> boxes = optionBoxes();
    for (int i = 0; i < boxes.size(); ++i)
        grid->addWidget(boxes[i], i % 4, i / 4);
    grid->addWidget(Button1, 3, 2, Qt::AlignRight | Qt::AlignBottom);
    grid->setColumnStretch(0, 1);
    grid->setColumnStretch(1, 1);
    return area;
}

QWidget* TForm1::buildBottomStrip()
{
    // A long status text is cut off rather than pushing the buttons out of the window.
    lEvolution = newStripLabel(QStringLiteral("lEvolution"), QString(), QSizePolicy::Ignored);
    lTimer = newStripLabel(QStringLiteral("lTimer"), QStringLiteral("00:00:00"),
                           QSizePolicy::Preferred);
    lTimer->hide();

    BtExecuter = new QPushButton(QStringLiteral("&Importer"));
    BtExecuter->setObjectName(QStringLiteral("BtExecuter"));
    BtExecuter->setIcon(style()->standardIcon(QStyle::SP_MediaPlay));
    BtExecuter->setEnabled(false);
    BitBtn2 = new QPushButton(QStringLiteral("&Fermer"));
    BitBtn2->setObjectName(QStringLiteral("BitBtn2"));
    BitBtn2->setIcon(style()->standardIcon(QStyle::SP_DialogCloseButton));

    PB1 = new QProgressBar;
    PB1->setObjectName(QStringLiteral("PB1"));
    PB1->setTextVisible(false);
    PB1->setRange(0, 100);
    PB1->setValue(0);

    auto* strip = new QWidget;
    auto* rows = new QVBoxLayout(strip);
    rows->setContentsMargins(0, 0, 0, 0);
    auto* line = new QHBoxLayout;
    line->addWidget(lEvolution, 1);
    line->addWidget(lTimer);
    line->addSpacing(12);
    line->addWidget(BtExecuter);
    line->addWidget(BitBtn2);
    rows->addLayout(line);
    rows->addWidget(PB1);
    return strip;
}

void TForm1::connectHandlers()
{
    connect(BtExecuter, &QPushButton::clicked, this, &TForm1::ButtonExecuterClick);
    connect(BitBtn2, &QPushButton::clicked, this, &TForm1::Button2Click);
    connect(Button1, &QPushButton::clicked, this, &TForm1::Button1Click);
    connect(Timer1, &QTimer::timeout, this, &TForm1::Timer1Timer);
    connect(SBSelectSorvaneBase, &QToolButton::clicked, this, &TForm1::SBSelectSorvaneBaseClick);
    connect(SBSelectSorvaneRTF, &QToolButton::clicked, this, &TForm1::SBSelectSorvaneRTFClick);
    connect(SBSelectTessarisBase, &QToolButton::clicked, this, &TForm1::SBSelectTessarisBaseClick);
}

void TForm1::centreOnScreen()
{
    if (QScreen* screen = this->screen())
        move(screen->availableGeometry().center() - rect().center());
}

QList<QCheckBox*> TForm1::optionBoxes() const
{
    QList<QCheckBox*> boxes{CBVider};
    for (const auto& [box, checkBox] : stageBoxes_)
        boxes.append(checkBox);
    return boxes;
}

QCheckBox* TForm1::optionBox(Box box) const
{
    if (box == Box::Vider)
        return CBVider;
    for (const auto& [stageBox, checkBox] : stageBoxes_)
        if (stageBox == box)
            return checkBox;
    return nullptr;
}

bool TForm1::isRunning() const
{
    return !BitBtn2->isEnabled();
}

void TForm1::closeApplication()
{
    closingApplication_ = true;
    close();
}

void TForm1::FormCreate()
{
    lEvolution->clear();
}

// A run left to go on unseen after its window has closed could not be followed nor stopped:
// the window stays open until the run's clean-up, as the Close button does.
void TForm1::closeEvent(QCloseEvent* event)
{
    if (isRunning() && !closingApplication_) {
        event->ignore();
        return;
    }
    FormClose();
    event->accept();
}

void TForm1::FormClose()
{
    session_->closeConnections();
}

// A signal asked the program to end: the run stopped at a row boundary and kept its records,
// then the window closes (the system shutting down, say, waits for nothing). A run that reached
// its end before it noticed the signal closes the window too.
void TForm1::ButtonExecuterClick()
{
    bool ended = false;
    try {
        ended = session_->ButtonExecuterClick();
    } catch (const std::exception& error) {
        dialogs_->showError(errorMessage(error));
    }
    if (stopSignal() == 0)
        return;
    stoppedBySignal_ = !ended;
    closeApplication();
}

void TForm1::Button2Click()
{
    close();
}

void TForm1::Button1Click()
{
    for (QCheckBox* box : optionBoxes())
        box->setChecked(!box->isChecked());
}

void TForm1::Timer1Timer()
{
    lTimer->setText(elapsedTimeText(ui_->runStart(), currentWallClock()));
    ui_->processMessages();
}

void TForm1::SBSelectSorvaneBaseClick()
{
    session_->closeSourceConnections();
    const QString file = dialogs_->chooseFile(
        {defaultDialogFolder(sourceBaseWindowsFolder),
         initialFileName(sourceBaseWindowsFile, sourceBaseWindowsFolder),
         QStringLiteral("Base Access de Sorvane"), QStringLiteral("v4.mdb")});
    if (!file.isEmpty())
        session_->sourceBaseChosen(file);
}

void TForm1::SBSelectSorvaneRTFClick()
{
    const QString folder = dialogs_->chooseFolder(
        QStringLiteral("Sélectionner le répertoire des courriers Sorvane"),
        defaultDialogFolder(lettersWindowsFolder));
    session_->lettersFolderChosen(folder);
}

void TForm1::SBSelectTessarisBaseClick()
{
    session_->closeTargetConnection();
    const QString file = dialogs_->chooseFile(
        {defaultDialogFolder(targetWindowsFolder), QStringLiteral("Kelvanor.ver"),
         QStringLiteral("Base Tessaris"), QStringLiteral("kelvanor.ver")});
    if (!file.isEmpty())
        session_->targetChosen(file);
}

} // namespace p1
