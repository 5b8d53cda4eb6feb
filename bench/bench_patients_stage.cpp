// The patients stage on generated practices of 20,000 and 80,000 patients (each with a profession
// for two patients in three and up to three treating physicians), into SQLite and, when
// scripts/with-postgres.sh provides a server, PostgreSQL. Prints rows per second and the time of
// the stage, then the ratio of the two sizes: the stage must stay linear.

#include "stages/patients_stage.h"

#include "common/date_time.h"
#include "tests/stages/patient_source.h"
#include "bench/bench_support.h"
#include "tests/stages/stage_test_context.h"

#include <QElapsedTimer>

#include <cstdio>

namespace p1::test {
namespace {

SourcePatient generatedPatient(int code)
{
    SourcePatient patient{
        .code = qint64(code),
        .owner = 1 + code % 5,
        .surname = QStringLiteral("Nom%1").arg(code),
        .firstName = QStringLiteral("Prénom%1").arg(code % 97),
        .birthDate = wallClock(QDate(1930, 1, 1).addDays(code % 30000)),
        .fileNumber = QStringLiteral("D%1").arg(code, 8, 10, QLatin1Char('0')),
        .civility = 1 + code % 4,
        .sex = qint64(1 + code % 2),
        .homePhone = QStringLiteral("01.%1.%2.%3.%4").arg(code % 90 + 10).arg(code % 80 + 10)
                         .arg(code % 70 + 10).arg(code % 60 + 10),
        .insuranceNumber = QStringLiteral("1 85 05 78 006 084 %1").arg(code % 90 + 10),
        .address = QStringLiteral("%1 rue des Lilas").arg(code % 200 + 1),
        .floor = code % 10 == 0 ? QStringLiteral("2") : QString(),
        .postCode = QStringLiteral("75011"),
        .town = QStringLiteral("Paris"),
        .memo = code % 4 == 0 ? QStringLiteral("Notes du patient %1").arg(code) : QString(),
        .profession = code % 3 == 0 ? 0 : 1 + code % 20,
    };
    for (int n = 0; n < code % 4; ++n)
        patient.correspondents[n * 2] = 1 + (code + n) % 500;
    return patient;
}

void writePractice(SourceFiles& source, int patientCount)
{
    jet::TableBuilder& professions = professionTable(source.v4());
    for (int code = 1; code <= 20; ++code)
        professions.row({qint64(code), QStringLiteral("Profession %1").arg(code)});
    jet::TableBuilder& patients = patientTable(source.v4());
    for (int code = 1; code <= patientCount; ++code)
        addPatient(patients, generatedPatient(code));
    source.write();
}

// Seconds taken by the stage.
double timeStage(const SourceFiles& source, TargetEngine engine, int patientCount)
{
    const TestTarget target = makeTarget(engine);
    std::unique_ptr<TargetConnection> connection = connectTo(target);
    StageRunContext run(source, *connection);
    QElapsedTimer timer;
    timer.start();
    importPatients(run.context);
    const double seconds = timer.nsecsElapsed() / 1e9;
    const QString summary = run.ui.logLines().last();
    std::printf("%-10s %6d patients: %7.2f s, %8.0f patients/s (%s)\n", engineName(engine),
                patientCount, seconds, patientCount / seconds, qPrintable(summary));
    std::fflush(stdout);
    return seconds;
}

} // namespace
} // namespace p1::test

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
        writePractice(source, patientCount);
        std::printf("source of %d patients written in %.1f s\n", patientCount,
                    writing.nsecsElapsed() / 1e9);
        for (TargetEngine engine : engines)
            times[engine].append(timeStage(source, engine, patientCount));
    }
    printGrowth(engines, sizes, times);
    return 0;
}
