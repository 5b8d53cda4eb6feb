// The whole import, every stage, headless through the command line, on generated practices of
// 20,000 and 80,000 patients (other sizes as arguments) into SQLite and, when
// scripts/with-postgres.sh provides a server, PostgreSQL, each target made by --init-target. The practices are written once into
// build/bench-practices/ and kept for later runs. Prints per stage the rows read and stored and its
// seconds (from the run's own report), the whole run's time, the ratio between the sizes and the
// peak memory of the process.

#include "bench/bench_support.h"
#include "cli/command_line.h"
#include "tests/support/target_databases.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>

#include <sys/resource.h>

#include <cstdio>

namespace p1::test {
namespace {

double peakMegabytes()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss / 1024.0;
}

// The whole run's seconds; the stages' lines are printed from the report.
double importInto(const SamplePractice& practice, TargetEngine engine)
{
    const InitialisedTarget target = initialisedTarget(engine);
    QTemporaryDir logs;
    qputenv("P1IMPORT_LOG_FOLDER", logs.path().toUtf8());
    const QString report = logs.filePath("rapport.json");
    FILE* out = std::tmpfile();
    QElapsedTimer clock;
    clock.start();
    const int status = runCommandLine({"--source", practice.v4Path, "--letters", practice.lettersFolder, "--target",
                                       target.folder + "Kelvanor.ver", "--yes", "--target-engine",
                                       engine == TargetEngine::Postgres ? "postgres" : "sqlite", "--report", report},
                                      TerminalStreams{out, stderr, stdin});
    const double seconds = clock.elapsed() / 1000.0;
    std::fclose(out);
    QFile file(report);
    file.open(QIODevice::ReadOnly);
    for (const QJsonValue& stage : QJsonDocument::fromJson(file.readAll()).object()["etapes"].toArray())
        std::printf("    %-15s %9lld read %9lld stored %9lld merged %6lld refused %8.2f s\n",
                    qPrintable(stage["etape"].toString()), qint64(stage["lues"].toDouble()),
                    qint64(stage["creees"].toDouble()), qint64(stage["fusionnees"].toDouble()),
                    qint64(stage["refusees"].toDouble()), stage["secondes"].toDouble());
    std::printf("    whole run: %.2f s (exit status %d)\n", seconds, status);
    return seconds;
}

void measure(TargetEngine engine, const QList<int>& sizes)
{
    std::printf("%s\n", engineName(engine));
    QList<double> times;
    for (int patients : sizes) {
        const SamplePractice practice = benchPractice(patients);
        std::printf("  %d patients\n", patients);
        times.append(importInto(practice, engine));
    }
    if (times.size() == 2 && times[0] > 0)
        std::printf("  growth %d -> %d patients: %.2fx\n", sizes[0], sizes[1], times[1] / times[0]);
}

} // namespace
} // namespace p1::test

int main(int argc, char** argv)
{
    using namespace p1;
    test::ensureQtApplication();
    const QList<int> sizes = test::benchSizes(argc, argv);
    for (TargetEngine engine : test::benchEngines())
        test::measure(engine, sizes);
    std::printf("peak memory: %.0f MB\n", test::peakMegabytes());
    return 0;
}
