// The antecedents and consultations stages on generated practices of 20,000 and 80,000 patients
// (five history rows, ten consultations at eight date-times and twenty detail lines per patient),
// into SQLite and, when scripts/with-postgres.sh provides a server, PostgreSQL. The target holds
// the profession rows of one patient in three first. Prints rows per second and the time of each
// stage, then the ratio of the two sizes: both stages must stay linear.

#include "stages/antecedents_stage.h"
#include "stages/consultations_stage.h"

#include "common/date_time.h"
#include "bench/bench_support.h"
#include "tests/stages/stage_test_context.h"

#include <QElapsedTimer>

#include <cstdio>
#include <cstdlib>
#include <ctime>

namespace p1::test {
namespace {

constexpr int historyRowsPerPatient = 5;
constexpr int consultationsPerPatient = 10;
constexpr int detailLinesPerConsultation = 2;
constexpr int labelCount = 20;

// Consultations 0 and 1, and 2 and 3, of a patient share their date-time.
QDateTime consultationDate(int patient, int consultation)
{
    const int visit = consultation < 4 ? consultation / 2 : consultation - 2;
    return wallClock(QDate(2010, 1, 1).addDays(patient % 1000 + visit * 30), QTime(8 + visit, 15, 30));
}

void writeHistory(SourceFiles& source, int patientCount)
{
    jet::TableBuilder& labels = sample::antecedentTable(source.v4());
    for (int code = 1; code <= labelCount; ++code)
        labels.row({qint64(code), QStringLiteral("Antécédent %1").arg(code)});
    jet::TableBuilder& history = sample::patientAntecedentTable(source.v4());
    qint64 entry = 0;
    for (int patient = 1; patient <= patientCount; ++patient)
        for (int n = 0; n < historyRowsPerPatient; ++n)
            history.row({++entry, qint64(patient), qint64(1 + (patient + n) % labelCount),
                         wallClock(QDate(1990, 1, 1).addDays(patient % 5000 + n))});
}

void writeConsultations(SourceFiles& source, int patientCount)
{
    jet::TableBuilder& types = sample::consultationTypeTable(source.v4());
    for (int code = 1; code <= labelCount; ++code)
        types.row({qint64(code), QStringLiteral("Type %1").arg(code)});
    jet::TableBuilder& consultations = sample::consultationTable(source.v4());
    jet::TableBuilder& details = sample::consultationDetailTable(source.v4());
    qint64 number = 0;
    for (int patient = 1; patient <= patientCount; ++patient) {
        for (int n = 0; n < consultationsPerPatient; ++n) {
            consultations.row({++number, qint64(patient), consultationDate(patient, n), qint64(1 + patient % 5),
                               qint64(1 + n % labelCount), QStringLiteral("Examen %1").arg(number)});
            for (int line = 0; line < detailLinesPerConsultation; ++line)
                details.row({number, qint64(line + 1), QStringLiteral("Détail %1").arg(line), qint64(line)});
        }
    }
}

void addProfessionRows(TargetConnection& target, int patientCount)
{
    TargetDataset antecedents(target);
    openWholeTable(antecedents, wholeTable(QStringLiteral("ANTECED")));
    qint64 number = 0;
    for (int patient = 3; patient <= patientCount; patient += 3) {
        antecedents.append();
        antecedents.setValue(QStringLiteral("ANTECED_ID"), ++number);
        antecedents.setValue(QStringLiteral("PATIENTS_ID"), patient);
        antecedents.setValue(QStringLiteral("PROFESSION_ACTUELLE"), QStringLiteral("Boulanger"));
        antecedents.post();
    }
    setLastValue(target, QStringLiteral("ANTECED"), number);
}

double processorSeconds()
{
    return double(std::clock()) / CLOCKS_PER_SEC;
}

// Seconds taken by the stage: the processor time of this process on SQLite (the engine runs
// inside it, and a shared machine makes wall time vary), wall time on PostgreSQL.
double timeStage(StageCounts (*stage)(RunContext&), StageRunContext& run, TargetEngine engine,
                 int patientCount)
{
    QElapsedTimer timer;
    timer.start();
    const double processorStart = processorSeconds();
    const StageCounts counts = stage(run.context);
    const double wall = timer.nsecsElapsed() / 1e9;
    const double processor = processorSeconds() - processorStart;
    std::printf("%-10s %6d patients: %-28s %7lld rows, %7.2f s wall (%6.0f rows/s), %7.2f s processor (%s)\n",
                engineName(engine), patientCount, qPrintable(run.ui.logLines().last()),
                static_cast<long long>(counts.read), wall, counts.read / wall, processor,
                counts.refused == 0 ? "none refused" : "REFUSED ROWS");
    std::fflush(stdout);
    return engine == TargetEngine::Sqlite ? processor : wall;
}

} // namespace
} // namespace p1::test

// Sizes in patients may be given on the command line (default 20000 80000); the ratio is printed
// for the first two.
int main(int argc, char** argv)
{
    using namespace p1;
    using namespace p1::test;
    ensureQtApplication();
    const QList<TargetEngine> engines = benchEngines();

    const QList<int> sizes = benchSizes(argc, argv);
    QMap<TargetEngine, QList<double>> antecedentTimes;
    QMap<TargetEngine, QList<double>> consultationTimes;
    for (int patientCount : sizes) {
        SourceFiles source;
        QElapsedTimer writing;
        writing.start();
        writeHistory(source, patientCount);
        writeConsultations(source, patientCount);
        source.write();
        std::printf("source of %d patients written in %.1f s\n", patientCount, writing.nsecsElapsed() / 1e9);
        for (TargetEngine engine : engines) {
            const TestTarget target = makeTarget(engine);
            std::unique_ptr<TargetConnection> connection = connectTo(target);
            addProfessionRows(*connection, patientCount);
            StageRunContext run(source, *connection);
            antecedentTimes[engine].append(timeStage(importAntecedents, run, engine, patientCount));
            consultationTimes[engine].append(timeStage(importConsultations, run, engine, patientCount));
        }
    }
    printGrowth(engines, sizes, antecedentTimes, "antecedents ");
    printGrowth(engines, sizes, consultationTimes, "consultations ");
    return 0;
}
