#include "dbaccess/source_connections.h"
#include "platform/locale_texts.h"
#include "run/import_session.h"
#include "run/stage_frame.h"
#include "stages/reference_lookups.h"
#include "tests/run/run_fixture.h"
#include "tests/support/recording_ui.h"

#include <gtest/gtest.h>

#include <QRegularExpression>

namespace p1 {
namespace {

const StageTexts texts{"Importation des patients...",
                       "Erreur lors de l'ouverture de la table [GLB PATIENT] de Sorvane : ", " patient créé",
                       " patients créés"};

class StageFrameTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        test::ensureQtApplication();
        setTextLocale(QLocale(QLocale::French, QLocale::France));
        session.ADOConnectionSorvane.setConnectionString(sourceConnectionString(practice.source + "V4.mdb"));
        session.ADOConnectionTessaris.setConnectionString(practice.target.connectionString);
        session.ADOConnectionTessaris.setBaseFolder(practice.target.folder);
    }

    void selectTable(const QString& table)
    {
        session.Sorvane_Select.sql() = QStringList{"SELECT * from ", table, "order by [CODE MEDECIN]"};
    }

    test::Practice practice{TargetEngine::Sqlite, {{{5, "Martin"}, {6, "Durand"}, {7, "Petit"}}}};
    RecordingUi ui;
    ImportSession session{ui, TargetEngine::Sqlite};
    ReferenceLookups lookups{session.ADOConnectionSorvane};
    RunContext run{ui,
                   session.ADOConnectionSorvane,
                   session.ADOConnectionSorvaneOrdo,
                   session.ADOConnectionTessaris,
                   session.Sorvane_Select,
                   session.Sorvane_GLB_Medecin,
                   session.Sorvane_Query1,
                   session.Query1,
                   session.Query2,
                   session.Query3,
                   session.Qry1,
                   session.ids,
                   lookups,
                   "PRESCRIPTIONS"};
    StageFrame frame{run, texts};
};

TEST_F(StageFrameTest, WalksEveryRowWithOneProgressStepAndOnePumpBeforeIt)
{
    selectTable("[GLB Medecin]");
    ui.setProgressPosition(9);
    frame.start(session.Sorvane_Select);
    EXPECT_EQ(ui.statusHistory(), QStringList{texts.status});
    EXPECT_EQ(ui.progressMaximum(), 3);
    EXPECT_EQ(ui.progressPosition(), 0);

    QList<std::pair<int, qint64>> seen;
    int pumps = ui.pumpCount();
    frame.forEachRow(session.Sorvane_Select, [&] {
        EXPECT_EQ(ui.pumpCount(), ++pumps);
        seen.append({ui.progressPosition(), session.Sorvane_Select.field("CODE MEDECIN").asInteger()});
    });
    EXPECT_EQ(seen, (QList<std::pair<int, qint64>>{{1, 5}, {2, 6}, {3, 7}}));
}

TEST_F(StageFrameTest, KeepsThePositionWhenAsked)
{
    selectTable("[GLB Medecin]");
    ui.setProgressPosition(2);
    frame.start(session.Sorvane_Select, true);
    EXPECT_EQ(ui.progressPosition(), 2);
}

TEST_F(StageFrameTest, AnUnopenableSourceShowsItsDialogAndEndsTheRun)
{
    selectTable("[GLB NULLE PART]");
    EXPECT_THROW(frame.start(session.Sorvane_Select), RunEnded);
    ASSERT_EQ(ui.dialogs().size(), 1);
    EXPECT_EQ(ui.dialogs()[0].kind, RecordingUi::DialogKind::Error);
    EXPECT_TRUE(ui.dialogs()[0].text.startsWith(texts.openingError));
    EXPECT_GT(ui.dialogs()[0].text.size(), texts.openingError.size());
    EXPECT_EQ(ui.statusHistory(), QStringList{texts.status});
}

TEST_F(StageFrameTest, ARefusedRowIsLoggedAndCancelledSoTheNextOneCanBeStored)
{
    TargetDataset& MEDECINS = session.Query1;
    MEDECINS.setCommandText("SELECT * FROM MEDECINS");
    MEDECINS.open();
    const auto store = [&](qint64 code) {
        MEDECINS.append();
        MEDECINS.setValue("MEDECINS_ID", code);
        MEDECINS.setValue("NOM", "Martin");
        return frame.guard(" : importation de l'utilisateur n°" + QString::number(code), [&] { MEDECINS.post(); },
                           {&MEDECINS, &session.Query2});
    };
    EXPECT_TRUE(store(1));
    EXPECT_TRUE(ui.logLines().isEmpty());

    EXPECT_FALSE(store(1));
    EXPECT_FALSE(MEDECINS.isPending());
    ASSERT_EQ(ui.logLines().size(), 2);
    EXPECT_TRUE(QRegularExpression(R"(^\d\d/\d\d/\d{4} \d\d:\d\d:\d\d : importation de l'utilisateur n°1$)")
                    .match(ui.logLines()[0])
                    .hasMatch())
        << ui.logLines()[0].toStdString();
    EXPECT_TRUE(ui.logLines()[1].startsWith("   ERREUR : "));
    EXPECT_GT(ui.logLines()[1].size(), QString("   ERREUR : ").size());

    EXPECT_TRUE(store(2));
    MEDECINS.close();
    EXPECT_EQ(test::countRows(session.ADOConnectionTessaris, "MEDECINS"), 2);
}

TEST_F(StageFrameTest, SummaryUsesTheSingularForNoneAndOne)
{
    const struct {
        qint64 count;
        const char* line;
    } cases[] = {{0, "0 patient créé"}, {1, "1 patient créé"}, {2, "2 patients créés"}, {1234, "1234 patients créés"}};
    for (const auto& c : cases) {
        ui.setStatus("Patient importé");
        ui.setProgressPosition(3);
        frame.finish(c.count);
        EXPECT_EQ(ui.logLines().last(), QString::fromUtf8(c.line));
        EXPECT_EQ(ui.status(), "");
        EXPECT_EQ(ui.progressPosition(), 0);
    }
}

} // namespace
} // namespace p1
