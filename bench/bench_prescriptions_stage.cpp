// The prescriptions stage on generated practices of 20,000 and 80,000 patients (about four
// prescriptions of three items each per patient), into SQLite and, when scripts/with-postgres.sh
// provides a server, PostgreSQL. MOTCONSU holds ten consultations per patient beforehand, so
// that each prescription's consultation search meets a table of a real practice's size. Prints
// prescriptions per second and the time of the stage, then the ratio of the two sizes: the stage
// must stay linear.

#include "stages/prescriptions_stage.h"

#include "bench/bench_support.h"
#include "tests/stages/stage_test_context.h"
#include "tools/sample_practice/sample_practice.h"

#include <QElapsedTimer>

#include <cstdio>
#include <cstdlib>

namespace p1::test {
namespace {

const int consultationsPerPatient = 10;

// Consultations at odd minutes of the years 2000 on: they never fall on a prescription's day
// at midnight, so each prescription's search runs and misses, as it does for most of them.
void fillConsultations(TargetConnection& target, int patientCount)
{
    const int count = patientCount * consultationsPerPatient;
    const QString sql = target.engine() == TargetEngine::Postgres
        ? QStringLiteral("INSERT INTO MOTCONSU (MOTCONSU_ID, PATIENTS_ID, DATE_CONSULTATION) "
                         "SELECT i, 1 + i % %1, timestamp '2000-01-01 00:01' + i * interval '7 minutes' "
                         "FROM generate_series(1, %2) i")
        : QStringLiteral("WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < %2) "
                         "INSERT INTO MOTCONSU (MOTCONSU_ID, PATIENTS_ID, DATE_CONSULTATION) "
                         "SELECT i, 1 + i % %1, datetime('2000-01-01 00:01', '+' || (i * 7) || ' minutes') FROM n");
    TargetStatement fill(target, {sql.arg(patientCount).arg(count)});
    fill.execute();
    TargetStatement counter(target, {QStringLiteral("INSERT INTO ID_VALUES VALUES ('MOTCONSU', %1)").arg(count)});
    counter.execute();
}

// Seconds taken by the stage.
double timeStage(const SourceFiles& source, TargetEngine engine, int patientCount, qint64 prescriptions)
{
    const TestTarget target = makeTarget(engine);
    std::unique_ptr<TargetConnection> connection = connectTo(target);
    fillConsultations(*connection, patientCount);
    StageRunContext run(source, *connection);
    QElapsedTimer timer;
    timer.start();
    importPrescriptions(run.context);
    const double seconds = timer.nsecsElapsed() / 1e9;
    std::printf("%-10s %6d patients, %7lld prescriptions: %7.2f s, %8.0f prescriptions/s (%s)\n",
                engineName(engine), patientCount, static_cast<long long>(prescriptions), seconds,
                prescriptions / seconds, qPrintable(run.ui.logLines().last()));
    std::fflush(stdout);
    return seconds;
}

} // namespace
} // namespace p1::test

// The two sizes may be given on the command line (for a quick look or a profile).
int main(int argc, char** argv)
{
    using namespace p1;
    using namespace p1::test;
    ensureQtApplication();
    const QList<TargetEngine> engines = benchEngines();

    const QList<int> sizes = benchSizes(argc, argv);
    QMap<TargetEngine, QList<double>> times;
    for (int patientCount : sizes) {
        SourceFiles source;
        QElapsedTimer writing;
        writing.start();
        const SamplePractice practice = writeSamplePractice(
            source.folder(), {.patients = patientCount, .antecedentsPerPatient = 4, .consultationsPerPatient = 4,
                              .prescriptionsPerPatient = 4, .lettersPerPatient = 0});
        const qint64 prescriptions = practice.rowCounts.value(QStringLiteral("ORD ORDONNANCE"));
        std::printf("source of %d patients written in %.1f s (%lld items)\n", patientCount,
                    writing.nsecsElapsed() / 1e9,
                    static_cast<long long>(practice.rowCounts.value(QStringLiteral("ORD PRESCRIPTION"))));
        for (TargetEngine engine : engines)
            times[engine].append(timeStage(source, engine, patientCount, prescriptions));
    }
    printGrowth(engines, sizes, times);
    return 0;
}
