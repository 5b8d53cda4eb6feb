// What refused rows cost in the default (grouped) mode: the consultations stage and the
// prescriptions stage on a generated practice (2,000 patients by default, other sizes as
// arguments), into SQLite and, when scripts/with-postgres.sh provides a server, PostgreSQL, once
// storing every row and once with every MOTCONSU insert refused by a trigger (every consultation
// refused, every prescription refused for want of its consultation), then refused again with
// each row committed on its own. Prints each stage's seconds and the ratio of refusing to
// storing, which must stay at 3 or less.

#include "stages/consultations_stage.h"
#include "stages/prescriptions_stage.h"

#include "bench/bench_support.h"
#include "tests/stages/stage_test_context.h"

#include <QElapsedTimer>

#include <cstdio>

namespace p1::test {
namespace {

struct StageToTime {
    const char* name;
    StageCounts (*import)(RunContext&);
};

const StageToTime stagesToTime[] = {{"consultations", importConsultations}, {"prescriptions", importPrescriptions}};

enum class Refusal { None, EveryConsultation };

double timeStage(const SourceFiles& source, TargetEngine engine, const StageToTime& stage, Refusal refusal,
                 CommitMode mode)
{
    const TestTarget target = makeTarget(engine);
    std::unique_ptr<TargetConnection> connection = connectTo(target);
    if (refusal == Refusal::EveryConsultation)
        refuseInserts(*connection, QStringLiteral("MOTCONSU"), QStringLiteral("1 = 1"));
    StageRunContext run(source, *connection);
    connection->setCommitMode(mode);
    QElapsedTimer timer;
    timer.start();
    const StageCounts counts = stage.import(run.context);
    const double seconds = timer.nsecsElapsed() / 1e9;
    std::printf("    %-13s %-8s %-9s %7lld read %7lld refused %7.2f s\n", stage.name,
                refusal == Refusal::None ? "storing" : "refusing", mode == CommitMode::EachRow ? "each row" : "grouped",
                static_cast<long long>(counts.read), static_cast<long long>(counts.refused), seconds);
    std::fflush(stdout);
    return seconds;
}

void measure(const SourceFiles& source, TargetEngine engine)
{
    std::printf("  %s\n", engineName(engine));
    for (const StageToTime& stage : stagesToTime) {
        const double storing = timeStage(source, engine, stage, Refusal::None, CommitMode::Grouped);
        const double refusing = timeStage(source, engine, stage, Refusal::EveryConsultation, CommitMode::Grouped);
        const double eachRow = timeStage(source, engine, stage, Refusal::EveryConsultation, CommitMode::EachRow);
        std::printf("    %-13s refusing / storing = %.2f (at most 3), grouped / each row when refusing = %.2f\n",
                    stage.name, refusing / storing, refusing / eachRow);
    }
}

} // namespace
} // namespace p1::test

int main(int argc, char** argv)
{
    p1::test::ensureQtApplication();
    for (int patientCount : p1::test::benchSizes(argc, argv, {2000})) {
        p1::test::SourceFiles source;
        p1::writeSamplePractice(source.folder(), p1::test::practiceShape(patientCount));
        std::printf("%d patients\n", patientCount);
        p1::test::printLoad();
        for (p1::TargetEngine engine : p1::test::benchEngines())
            p1::test::measure(source, engine);
    }
    return 0;
}
