// The same import run of the benchmarks' 20,000-patient practice headless (the recording operator) and in the main
// window (offscreen, dialogs scripted), each into a fresh embedded target, twice in turn. Prints
// both times and the window's extra cost, which the throttled repaint keeps near 10 % or below.

#include "app/main_window.h"
#include "common/files.h"
#include "run/import_session.h"
#include "run/target_initialisation.h"
#include "tests/app/scripted_dialogs.h"
#include "tests/support/recording_ui.h"
#include "bench/bench_support.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QPushButton>
#include <QTemporaryDir>

#include <cstdio>

namespace p1 {
namespace {

struct Locations {
    QString sourceFile;
    QString lettersFolder;
    QString targetFile;
};

Locations freshTarget(const SamplePractice& practice, const QTemporaryDir& work, int run)
{
    const QString folder = work.filePath(QStringLiteral("target%1/").arg(run));
    createEmbeddedTarget(folder);
    return {practice.v4Path, practice.lettersFolder, folder + QStringLiteral("Kelvanor.ver")};
}

double secondsSince(const QElapsedTimer& timer)
{
    return timer.nsecsElapsed() / 1e9;
}

double runHeadless(const Locations& locations)
{
    RecordingUi ui;
    ImportSession session(ui, TargetEngine::Sqlite);
    session.sourceBaseChosen(locations.sourceFile);
    session.targetChosen(locations.targetFile);
    session.lettersFolderChosen(locations.lettersFolder);
    QElapsedTimer timer;
    timer.start();
    session.ButtonExecuterClick();
    const double seconds = secondsSince(timer);
    std::printf("headless: %7.2f s  (%s)\n", seconds, qPrintable(ui.logLines().filter(" patients ").join(", ")));
    return seconds;
}

double runInWindow(const Locations& locations)
{
    auto scripted = std::make_unique<test::ScriptedDialogs>();
    test::ScriptedDialogs& dialogs = *scripted;
    TForm1 form(std::move(scripted), TargetEngine::Sqlite);
    form.show();
    dialogs.chosenFiles = {locations.sourceFile, locations.targetFile};
    dialogs.chosenFolders = {locations.lettersFolder};
    form.SBSelectSorvaneBaseClick();
    form.SBSelectTessarisBaseClick();
    form.SBSelectSorvaneRTFClick();
    QElapsedTimer timer;
    timer.start();
    form.BtExecuter->click();
    const double seconds = secondsSince(timer);
    std::printf("window:   %7.2f s\n", seconds);
    return seconds;
}

} // namespace
} // namespace p1

int main(int argc, char* argv[])
{
    using namespace p1;
    QApplication application(argc, argv);
    const QStringList logsBefore = QDir(programFolder()).entryList({"P1Import - *.log"});
    QTemporaryDir work;
    const int patients = 20000;
    const SamplePractice practice = test::benchPractice(patients);

    double headless = 0;
    double window = 0;
    for (int round = 0; round < 2; ++round) {
        headless += runHeadless(freshTarget(practice, work, round * 2));
        window += runInWindow(freshTarget(practice, work, round * 2 + 1));
    }
    std::printf("%d patients: headless %.2f s, window %.2f s, window costs %+.1f %%\n",
                patients, headless / 2, window / 2, (window / headless - 1) * 100);

    for (const QString& log : QDir(programFolder()).entryList({"P1Import - *.log"}))
        if (!logsBefore.contains(log))
            QFile::remove(programFolder() + log);
    return 0;
}
