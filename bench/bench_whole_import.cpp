// The whole import, every stage, headless through the command line, on generated practices of
// 20,000 and 80,000 patients (other sizes as arguments) into SQLite and, when
// scripts/with-postgres.sh provides a server, PostgreSQL, each target made by --init-target. The
// practices are written once into build/bench-practices/ and kept for later runs. Each size runs
// three times (P1_BENCH_ROUNDS), the sizes in turn. Prints per run the machine's load, per stage
// the rows read and stored and its seconds (from the run's own report) and the whole run's time
// beside the anchor measured just before it: every table of both files read through once by the
// project's own reader, and by mdb-export when it is installed (the run's ratio is to the latter
// then); then per size the best run, its best ratio and the ratio between the best runs; then the
// peak memory.
//
// A run starts once the disk holds nothing left to write, and no target is removed before the
// last run: a run would otherwise pay for the writing or the removal of the one before it (ext4
// skips the inodes it freed in the last minutes).

#include "bench/bench_support.h"
#include "cli/command_line.h"
#include "source/source_database.h"
#include "tests/support/target_databases.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace p1::test {
namespace {

double peakMegabytes()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss / 1024.0;
}

std::vector<InitialisedTarget> targetsOfTheBench;

double readEveryTable(const SamplePractice& practice)
{
    QElapsedTimer clock;
    clock.start();
    for (const QString& path : {practice.v4Path, practice.ordoPath}) {
        const SourceDatabase database(path);
        for (const QString& table : database.userTables())
            database.readRows(table, [](const QList<SourceValue>&) {});
    }
    return clock.elapsed() / 1000.0;
}

QByteArray toolOutput(const QString& tool, const QStringList& arguments)
{
    QProcess process;
    process.start(tool, arguments);
    process.waitForFinished(-1);
    return process.readAllStandardOutput();
}

// 0 without mdb-export.
double exportEveryTable(const SamplePractice& practice)
{
    const QString exporter = QStandardPaths::findExecutable(QStringLiteral("mdb-export"));
    const QString lister = QStandardPaths::findExecutable(QStringLiteral("mdb-tables"));
    if (exporter.isEmpty() || lister.isEmpty())
        return 0;
    QElapsedTimer clock;
    clock.start();
    for (const QString& path : {practice.v4Path, practice.ordoPath}) {
        for (const QByteArray& table : toolOutput(lister, {"-1", path}).split('\n')) {
            if (table.isEmpty())
                continue;
            QProcess process;
            process.setStandardOutputFile(QProcess::nullDevice());
            process.start(exporter, {path, QString::fromUtf8(table)});
            process.waitForFinished(-1);
        }
    }
    return clock.elapsed() / 1000.0;
}

// The seconds a run is measured against, printed: mdb-export's when it is there.
double anchor(const SamplePractice& practice)
{
    const double reader = readEveryTable(practice);
    const double exported = exportEveryTable(practice);
    std::printf("    anchor, every table read: %.2f s by the reader, %.2f s by mdb-export\n", reader, exported);
    return exported > 0 ? exported : reader;
}

// The whole run's seconds; the stages' lines are printed from the report.
double importInto(const SamplePractice& practice, TargetEngine engine)
{
    const InitialisedTarget& target = targetsOfTheBench.emplace_back(initialisedTarget(engine));
    ::sync();
    printLoad();
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
    // The runs' own sessions read the driver from the environment, as the program does.
    const QString odbcDriver = qEnvironmentVariable("P1IMPORT_ODBC_DRIVER");
    std::printf("%s%s\n", engineName(engine),
                odbcDriver.isEmpty() ? "" : qPrintable(" through ODBC (" + odbcDriver + ")"));
    QList<double> best(sizes.size(), 0);
    QList<double> bestRatio(sizes.size(), 0);
    for (int round = 1; round <= benchRounds(); ++round) {
        for (qsizetype size = 0; size < sizes.size(); ++size) {
            const SamplePractice practice = benchPractice(sizes[size]);
            std::printf("  %d patients, run %d\n", sizes[size], round);
            const double anchorSeconds = anchor(practice);
            const double seconds = importInto(practice, engine);
            const double ratio = seconds / anchorSeconds;
            std::printf("    %.2fx the anchor\n", ratio);
            best[size] = round == 1 ? seconds : std::min(best[size], seconds);
            bestRatio[size] = round == 1 ? ratio : std::min(bestRatio[size], ratio);
        }
    }
    for (qsizetype size = 0; size < sizes.size(); ++size)
        std::printf("  %d patients: best of %d runs %.2f s, best ratio to its anchor %.2fx\n", sizes[size], benchRounds(),
                    best[size], bestRatio[size]);
    if (sizes.size() == 2 && best[0] > 0)
        std::printf("  growth %d -> %d patients: %.2fx\n", sizes[0], sizes[1], best[1] / best[0]);
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
    test::targetsOfTheBench.clear();
    return 0;
}
