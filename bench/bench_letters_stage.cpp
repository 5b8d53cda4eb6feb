// The letters stage on generated practices of 20,000 and 80,000 patients with one letter each
// (names in another letter case, without extension, in sub-folders, missing: the sample
// practice's mix), into SQLite and, under scripts/with-postgres.sh, PostgreSQL. Prints letters
// per second, then the ratio of the two sizes: the stage must stay linear, however many letters
// share the letters folder.

#include "stages/letters_stage.h"

#include "bench/bench_support.h"
#include "tests/stages/stage_test_context.h"
#include "tools/sample_practice/sample_practice.h"

#include <QElapsedTimer>

#include <cstdio>

namespace {

using namespace p1;
using namespace p1::test;

double timeLetters(const SourceFiles& source, TargetEngine engine, int patientCount)
{
    const TestTarget target = makeTarget(engine);
    std::unique_ptr<TargetConnection> connection = connectTo(target);
    StageRunContext run(source, *connection, target.folder);
    QElapsedTimer timer;
    timer.start();
    const StageCounts counts = importLetters(run.context);
    const double seconds = timer.nsecsElapsed() / 1e9;
    std::printf("%-10s %6d patients: %7.2f s, %8.0f letters/s (%s)\n", engineName(engine), patientCount,
                seconds, counts.stored / seconds, qPrintable(run.ui.logLines().last()));
    std::fflush(stdout);
    return seconds;
}

} // namespace

int main(int argc, char** argv)
{
    ensureQtApplication();
    const QList<TargetEngine> engines = benchEngines();
    const QList<int> sizes = benchSizes(argc, argv);
    QMap<TargetEngine, QList<double>> times;
    for (int patientCount : sizes) {
        SourceFiles source;
        writeSamplePractice(source.folder(), {.patients = patientCount, .antecedentsPerPatient = 0,
                                              .consultationsPerPatient = 0, .prescriptionsPerPatient = 0,
                                              .lettersPerPatient = 1});
        for (TargetEngine engine : engines)
            times[engine].append(timeLetters(source, engine, patientCount));
    }
    printGrowth(engines, sizes, times);
    return 0;
}
