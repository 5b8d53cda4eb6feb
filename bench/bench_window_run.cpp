// The same import run of the benchmarks' 20,000-patient practice headless (the command line) and in the main
// window (offscreen, dialogs scripted), each into a fresh embedded target, P1_BENCH_ROUNDS times
// each (3 by default). The order changes from round to round (headless first, then the window
// first), so that neither pays more often for what the run before it left behind (the letters'
// writes, the machine's other work). Prints every time with the machine's load, then the best
// time of each and the window's extra cost between the best times.

#include "app/main_window.h"
#include "common/files.h"
#include "cli/command_line.h"
#include "run/target_initialisation.h"
#include "tests/app/scripted_dialogs.h"
#include "bench/bench_support.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QPushButton>
#include <QTemporaryDir>

#include <sys/resource.h>

#include <algorithm>
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

// The processor time of every thread of the process so far, in seconds: a run that waits more
// than the other shows a longer time for the same processor time.
double processorSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    const auto seconds = [](const timeval& time) { return time.tv_sec + time.tv_usec / 1e6; };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

double runHeadless(const Locations& locations)
{
    FILE* out = std::tmpfile();
    const double processorBefore = processorSeconds();
    QElapsedTimer timer;
    timer.start();
    const int status = runCommandLine({"--source", locations.sourceFile, "--letters", locations.lettersFolder,
                                       "--target", locations.targetFile, "--yes", "--target-engine", "sqlite"},
                                      TerminalStreams{out, stderr, stdin});
    const double seconds = secondsSince(timer);
    std::fclose(out);
    std::printf("headless: %7.2f s, processor %6.2f s (exit status %d)\n", seconds,
                processorSeconds() - processorBefore, status);
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
    const double processorBefore = processorSeconds();
    QElapsedTimer timer;
    timer.start();
    form.BtExecuter->click();
    const double seconds = secondsSince(timer);
    std::printf("window:   %7.2f s, processor %6.2f s\n", seconds, processorSeconds() - processorBefore);
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
    int target = 0;
    for (int round = 0; round < test::benchRounds(); ++round) {
        test::printLoad();
        for (bool inWindow : {round % 2 == 1, round % 2 == 0}) {
            const Locations locations = freshTarget(practice, work, target++);
            const double seconds = inWindow ? runInWindow(locations) : runHeadless(locations);
            double& best = inWindow ? window : headless;
            best = round == 0 ? seconds : std::min(best, seconds);
        }
    }
    std::printf("%d patients, best of %d runs each: headless %.2f s, window %.2f s, window costs %+.1f %%\n",
                patients, test::benchRounds(), headless, window, (window / headless - 1) * 100);

    for (const QString& log : QDir(programFolder()).entryList({"P1Import - *.log"}))
        if (!logsBefore.contains(log))
            QFile::remove(programFolder() + log);
    return 0;
}
