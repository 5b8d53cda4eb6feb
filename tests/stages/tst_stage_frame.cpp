#include "common/errors.h"
#include "stages/stage_frame.h"
#include "tests/stages/stage_test_context.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QRegularExpression>

namespace p1 {
namespace {

const StageTexts texts{"Importation des patients...",
                       "Erreur lors de l'ouverture de la table [GLB PATIENT] de Sorvane : ", " patient créé",
                       " patients créés"};

// A stage over the three physicians of the practice whose rows turn out as scripted.
class ScriptedStage : public ImportStage {
public:
    ScriptedStage(RunContext& run, QList<RowOutcome> outcomes, const QString& table = "[GLB Medecin]")
        : ImportStage(run, texts, {run.Sorvane_Select, &run.ADOConnectionSorvane, table, "order by [CODE MEDECIN]"},
                      {{run.Query1, wholeTable("MEDECINS")}}),
          outcomes_(std::move(outcomes)), physicians_(highestCode("MEDECINS"))
    {
    }

    using ImportStage::countInSummary;
    using ImportStage::guard;
    using ImportStage::keepProgressPosition;

    std::function<void()> onRow = [] {};
    QList<std::pair<int, qint64>> seen;

private:
    RowOutcome importRow() override
    {
        seen.append({run_.ui.progressPosition(), integer("CODE MEDECIN")});
        onRow();
        physicians_.raiseTo(7);
        return outcomes_.value(seen.size() - 1, RowOutcome::Stored);
    }

    QList<RowOutcome> outcomes_;
    StageCounter& physicians_;
};

class StageFrameTest : public test::TargetEngineTest {
protected:
    void SetUp() override
    {
        TargetEngineTest::SetUp();
        jet::TableBuilder& physicians = sample::physicianTable(source.v4());
        for (const auto& [code, name] : {std::pair{7, "Petit"}, {5, "Martin"}, {6, "Durand"}})
            test::addPerson(physicians, qint64(code), name, "Jeanne");
        source.write();
        context = std::make_unique<test::StageRunContext>(source, *connection);
    }

    test::SourceFiles source;
    std::unique_ptr<test::StageRunContext> context;
    RunContext& run() { return context->context; }
    RecordingUi& ui() { return context->ui; }
};

TEST_P(StageFrameTest, WalksEveryRowWithOneProgressStepAndOnePumpBeforeItAndCountsItsOutcome)
{
    ui().setProgressPosition(9);
    ScriptedStage stage(run(), {RowOutcome::Skipped, RowOutcome::Merged, RowOutcome::Refused});
    QList<int> pumps;
    stage.onRow = [&] {
        pumps.append(ui().pumpCount());
        EXPECT_TRUE(context->Query1.isOpen());
        EXPECT_EQ(ui().progressMaximum(), 3);
    };
    const StageCounts counts = stage.run();
    ASSERT_EQ(pumps.size(), 3);
    EXPECT_EQ(pumps[1] - pumps[0], 1);
    EXPECT_EQ(pumps[2] - pumps[1], 1);

    EXPECT_EQ(stage.seen, (QList<std::pair<int, qint64>>{{1, 5}, {2, 6}, {3, 7}}));
    EXPECT_EQ(ui().statusHistory(), (QStringList{texts.status, ""}));
    EXPECT_EQ(ui().repaintedStatuses(), QStringList{texts.status}); // painted before the source opens
    EXPECT_EQ(ui().logLines(), QStringList{"1 patient créé"});
    EXPECT_EQ(ui().progressPosition(), 0);
    EXPECT_FALSE(context->Query1.isOpen());
    EXPECT_EQ(context->ids.ReadLastValue("MEDECINS"), 7);
    EXPECT_EQ(counts.read, 3);
    EXPECT_EQ(counts.skipped, 1);
    EXPECT_EQ(counts.stored, 0);
    EXPECT_EQ(counts.merged, 1);
    EXPECT_EQ(counts.refused, 1);
}

// Rows are committed without waiting for the disk; once the summary line is written they are on
// it, also when no key had to be raised.
TEST_P(StageFrameTest, StoredRowsAreOnTheDiskWhenTheSummaryLineIsWritten)
{
    test::setLastValue(*connection, "MEDECINS", 100);
    ScriptedStage stage(run(), {});
    stage.onRow = [&] {
        context->Query1.append();
        context->Query1.setValue("MEDECINS_ID", 20 + stage.seen.size());
        context->Query1.post();
    };
    stage.run();

    // The database file alone, as a crash that lost the unsynced log would leave it.
    ASSERT_TRUE(QFile::copy(target.folder + target.databaseName, target.folder + "seul.db"));
    TargetConnection alone(TargetEngine::Sqlite);
    alone.setBaseFolder(target.folder);
    alone.setConnectionString("Data Source=h;Initial Catalog=seul.db;User ID=sa;Password=;");
    alone.open();
    EXPECT_EQ(test::countRows(alone, "MEDECINS"), 3);
}

TEST_P(StageFrameTest, KeepsThePositionWhenAsked)
{
    ui().setProgressPosition(2);
    ScriptedStage stage(run(), {});
    stage.keepProgressPosition();
    stage.onRow = [&] { EXPECT_EQ(ui().progressPosition(), 3 + stage.seen.size() - 1); };
    stage.run();
    EXPECT_EQ(stage.seen.first().first, 3);
}

TEST_P(StageFrameTest, AnUnopenableSourceShowsItsDialogAndEndsTheRun)
{
    ScriptedStage stage(run(), {}, "[GLB NULLE PART]");
    EXPECT_THROW(stage.run(), RunEnded);
    ASSERT_EQ(ui().dialogs().size(), 1);
    EXPECT_EQ(ui().dialogs()[0].kind, RecordingUi::DialogKind::Error);
    EXPECT_TRUE(ui().dialogs()[0].text.startsWith(texts.openingError));
    EXPECT_GT(ui().dialogs()[0].text.size(), texts.openingError.size());
    EXPECT_EQ(ui().statusHistory(), QStringList{texts.status});
    EXPECT_TRUE(ui().logLines().isEmpty());
}

TEST_P(StageFrameTest, ARefusedRowIsLoggedAndCancelledSoTheNextOneCanBeStored)
{
    TargetDataset& MEDECINS = context->Query1;
    MEDECINS.setCommandText("SELECT * FROM MEDECINS");
    MEDECINS.open();
    ScriptedStage stage(run(), {});
    const auto store = [&](qint64 code) {
        MEDECINS.append();
        MEDECINS.setValue("MEDECINS_ID", code);
        MEDECINS.setValue("NOM", "Martin");
        return stage.guard(" : importation de l'utilisateur n°" + QString::number(code), [&] { MEDECINS.post(); },
                           {&MEDECINS, &context->Query2});
    };
    EXPECT_TRUE(store(1));
    EXPECT_TRUE(ui().logLines().isEmpty());

    EXPECT_FALSE(store(1));
    EXPECT_FALSE(MEDECINS.isPending());
    ASSERT_EQ(ui().logLines().size(), 2);
    EXPECT_TRUE(QRegularExpression(R"(^\d\d/\d\d/\d{4} \d\d:\d\d:\d\d : importation de l'utilisateur n°1$)")
                    .match(ui().logLines()[0])
                    .hasMatch())
        << ui().logLines()[0].toStdString();
    EXPECT_TRUE(ui().logLines()[1].startsWith("   ERREUR : "));
    EXPECT_GT(ui().logLines()[1].size(), QString("   ERREUR : ").size());

    EXPECT_TRUE(store(2));
    MEDECINS.close();
    EXPECT_EQ(test::countRows(*connection, "MEDECINS"), 2);
}

TEST_P(StageFrameTest, AFailedTargetOrADamagedSourceEscapesTheRowGuardWithoutFailureLines)
{
    ScriptedStage stage(run(), {});
    const auto guarded = [&](const std::function<void()>& store) {
        return stage.guard(" : importation de l'utilisateur n°1", store, {&context->Query1});
    };
    EXPECT_THROW(guarded([] { throw TargetUnavailable("database or disk is full"); }), TargetUnavailable);
    EXPECT_THROW(guarded([] { throw SourceDamaged("Le fichier [V4.mdb] est endommagé"); }), SourceDamaged);
    EXPECT_TRUE(ui().logLines().isEmpty());

    EXPECT_FALSE(guarded([] { throw TargetError("UNIQUE constraint failed: MEDECINS.MEDECINS_ID"); }));
    EXPECT_EQ(ui().logLines().size(), 2);
}

TEST_P(StageFrameTest, SummaryCountsStoredOrProcessedRowsWithTheSingularForNoneAndOne)
{
    using enum RowOutcome;
    const struct {
        QList<RowOutcome> outcomes;
        SummaryCount count;
        const char* line;
    } cases[] = {
        {{Skipped, Refused, Refused}, SummaryCount::StoredRows, "0 patient créé"},
        {{Skipped, Merged, Refused}, SummaryCount::StoredRows, "1 patient créé"},
        {{Stored, Merged, Refused}, SummaryCount::StoredRows, "2 patients créés"},
        {{Skipped, Skipped, Skipped}, SummaryCount::ProcessedRows, "0 patient créé"},
        {{Skipped, Refused, Refused}, SummaryCount::ProcessedRows, "2 patients créés"},
    };
    for (const auto& c : cases) {
        ScriptedStage stage(run(), c.outcomes);
        stage.countInSummary(c.count);
        stage.run();
        EXPECT_EQ(ui().logLines().last(), QString::fromUtf8(c.line));
    }
}

INSTANTIATE_TEST_SUITE_P(Engines, StageFrameTest, ::testing::Values(TargetEngine::Sqlite), test::engineTestName);

} // namespace
} // namespace p1
