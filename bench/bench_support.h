#pragma once

// What every stage benchmark starts from: the engines at hand and the practice sizes.

#include "tests/cli/command_line_runner.h"
#include "tests/support/target_databases.h"
#include "tools/sample_practice/sample_practice.h"

#include <QDir>
#include <QFile>
#include <QList>
#include <QMap>
#include <QTemporaryDir>

#include <cstdio>
#include <cstdlib>
#include <memory>

namespace p1::test {

// The engine as the benchmarks print it.
inline const char* engineName(TargetEngine engine)
{
    return engine == TargetEngine::Postgres ? "PostgreSQL" : "SQLite";
}

// SQLite, and PostgreSQL when scripts/with-postgres.sh provides a server; P1_BENCH_ENGINE=sqlite or
// postgres keeps one of them (to profile it alone).
inline QList<TargetEngine> benchEngines()
{
    const QByteArray only = qgetenv("P1_BENCH_ENGINE");
    QList<TargetEngine> engines;
    if (only != "postgres")
        engines.append(TargetEngine::Sqlite);
    if (only == "sqlite")
        return engines;
    if (postgresAvailable())
        engines.append(TargetEngine::Postgres);
    else
        std::printf("PostgreSQL: no server (run under scripts/with-postgres.sh)\n");
    return engines;
}

// The shape of a real practice, per patient on average: five history rows (merged into the
// patients' professions, else a new row each), ten consultations of about two detail lines, almost none
// sharing a date-time, one letter, four prescriptions of about three items, one in seven sharing
// the day of another; one user per 400 patients, one correspondent per 8.
inline SamplePracticeOptions practiceShape(int patients)
{
    return {.patients = patients, .seed = 1, .antecedentsPerPatient = 5, .consultationsPerPatient = 10,
            .prescriptionsPerPatient = 4, .lettersPerPatient = 1, .patientsPerCorrespondent = 8, .patientsPerUser = 400,
            .detailLinesPerConsultation = 2, .itemsPerPrescription = 3, .patientsWithHistoryPercent = 100,
            .sameTimeConsultationPercent = 0, .sameDayPrescriptionPercent = 18};
}

// How many times each measurement runs: P1_BENCH_ROUNDS, 3 by default.
inline int benchRounds()
{
    const int wanted = qEnvironmentVariableIntValue("P1_BENCH_ROUNDS");
    return wanted > 0 ? wanted : 3;
}

// The machine's load, printed with each measurement: it is shared.
inline void printLoad()
{
    QFile load(QStringLiteral("/proc/loadavg"));
    if (load.open(QIODevice::ReadOnly))
        std::printf("    load: %s", load.readLine().constData());
}

// Written once into build/bench-practices/ in practiceShape() and kept for later runs; a folder
// written in another shape is written again.
inline SamplePractice benchPractice(int patients)
{
    const QString folder = QStringLiteral(P1_BINARY_DIR "/bench-practices/%1").arg(patients);
    const SamplePracticeOptions options = practiceShape(patients);
    const QByteArray shape = QStringLiteral("%1 %2 %3 %4 %5 %6 %7 %8 %9 %10 %11")
                                 .arg(options.antecedentsPerPatient).arg(options.consultationsPerPatient)
                                 .arg(options.prescriptionsPerPatient).arg(options.lettersPerPatient)
                                 .arg(options.patientsPerCorrespondent).arg(options.patientsPerUser)
                                 .arg(options.detailLinesPerConsultation).arg(options.itemsPerPrescription)
                                 .arg(options.patientsWithHistoryPercent).arg(options.sameTimeConsultationPercent)
                                 .arg(options.sameDayPrescriptionPercent).toUtf8();
    QFile shapeFile(folder + "/shape");
    if (QFile::exists(folder + "/Ordo.mdb") && shapeFile.open(QIODevice::ReadOnly) && shapeFile.readAll() == shape)
        return {folder + "/V4.mdb", folder + "/Ordo.mdb", folder + "/Courriers/", {}};
    shapeFile.close();
    QDir(folder).removeRecursively();
    std::printf("  writing the practice of %d patients into %s\n", patients, qPrintable(folder));
    SamplePractice practice = writeSamplePractice(folder, options);
    if (!shapeFile.open(QIODevice::WriteOnly) || shapeFile.write(shape) != shape.size())
        std::printf("  (the shape of %s could not be noted: it will be written again)\n", qPrintable(folder));
    return practice;
}

// Sizes in patients from the command line, 20,000 and 80,000 by default.
inline QList<int> benchSizes(int argc, char** argv, const QList<int>& byDefault = {20000, 80000})
{
    QList<int> sizes;
    for (int at = 1; at < argc; ++at)
        sizes.append(std::atoi(argv[at]));
    return sizes.isEmpty() ? byDefault : sizes;
}

// An empty target made as an operator makes one, with p1import --init-target: its folder holds
// Kelvanor.ver and EDITOR.INI (and the SQLite database); a PostgreSQL one is made of an empty
// database of the throwaway server. Both go away with the last copy, unless P1_BENCH_KEEP_TARGETS=1
// keeps the folder (for a look at it, or so that the next benchmark's runs do not pay for its
// removal: ext4 skips the inodes it freed in the last minutes).
struct InitialisedTarget {
    std::shared_ptr<QTemporaryDir> temporary = std::make_shared<QTemporaryDir>();
    TestTarget postgresDatabase;
    QString folder = temporary->filePath(QStringLiteral("cible")) + '/';
};

inline InitialisedTarget initialisedTarget(TargetEngine engine)
{
    InitialisedTarget target;
    if (qgetenv("P1_BENCH_KEEP_TARGETS") == "1") {
        target.temporary->setAutoRemove(false);
        std::printf("  target kept in %s\n", qPrintable(target.temporary->path()));
    }
    QStringList arguments = {"--init-target", target.folder};
    if (engine == TargetEngine::Postgres) {
        target.postgresDatabase = makePostgresTarget(false);
        arguments = postgresInitArguments(target.folder, target.postgresDatabase);
    }
    const CommandLineOutcome outcome = runCommandLineWith(arguments);
    if (outcome.status != 0) {
        std::fprintf(stderr, "p1import --init-target failed: %s\n", qPrintable(outcome.err));
        std::exit(1);
    }
    return target;
}

// Per engine, how a stage's time grew from the first size to the second, against the sizes' own
// ratio (a linear stage grows as much); nothing with a single size.
inline void printGrowth(const QList<TargetEngine>& engines, const QList<int>& sizes,
                        const QMap<TargetEngine, QList<double>>& times, const char* stage = "")
{
    if (sizes.size() < 2)
        return;
    for (TargetEngine engine : engines) {
        const QList<double>& seconds = times[engine];
        std::printf("%-10s %stime(%d) / time(%d) = %.2f (linear: %.2f)\n", engineName(engine), stage, sizes[1],
                    sizes[0], seconds[1] / seconds[0], double(sizes[1]) / sizes[0]);
    }
}

} // namespace p1::test
