#include "stages/users_stage.h"

#include "tests/stages/stage_test_context.h"

namespace p1::test {
namespace {

// [GLB Medecin] with its columns in this order: CODE MEDECIN, NOM, PRENOM, CODE SPECIALITE,
// ADRESSE, CODE POSTAL, VILLE, TELEPHONE, FAX, MOT DE PASSE MEDECIN.
jet::TableBuilder& usersTable(SourceFiles& source)
{
    sample::specialtyTable(source.v4()).row({qint64(1), QString("  Cardiologue ")});
    return sample::physicianTable(source.v4());
}

using UsersStageTest = StageTest<importUsers>;

TEST_P(UsersStageTest, WritesEachUserAndItsPlanningSubjectUnderTheSourceCode)
{
    SourceFiles source;
    jet::TableBuilder& users = usersTable(source);
    users.row({qint64(12), text("Martin"), text("Paul"), qint64(1), text("1 rue X "), text("75001"),
               text("Paris"), text("01.02.03.04.05"), text(" 01 02"), text("sésame")});
    addPerson(users, qint64(0), "Zéro", "");
    addPerson(users, std::monostate(), "Vide", "");
    addPerson(users, qint64(-4), "Négatif", "");
    users.row({qint64(3), text("Durand"), std::monostate(), qint64(99), std::monostate(),
               std::monostate(), std::monostate(), std::monostate(), std::monostate(),
               std::monostate()});

    EXPECT_EQ(importFrom(source), QStringList{"2 utilisateurs créés"});

    const QList<TableRow> physicians = readTable(*connection, "MEDECINS", "MEDECINS_ID");
    ASSERT_EQ(physicians.size(), 2);
    const TableRow& durand = physicians[0];
    EXPECT_EQ(durand["MEDECINS_ID"].asInteger(), 3);
    EXPECT_EQ(durand["NOM"].asText(), "Durand");
    EXPECT_EQ(durand["SPECIALISATION"].asText(), "");
    const TableRow& martin = physicians[1];
    EXPECT_EQ(martin["MEDECINS_ID"].asInteger(), 12);
    EXPECT_EQ(martin["NOM"].asText(), "Martin");
    EXPECT_EQ(martin["PRENOM"].asText(), "Paul");
    EXPECT_EQ(martin["SYSTEM_FLAGS"].asText(), "*US PA RE CO DO CP TA CM SR AN");
    EXPECT_EQ(martin["N_AGENDA"].asInteger(), 12);
    EXPECT_EQ(martin["N_MODELE"].asInteger(), 1);
    EXPECT_FALSE(martin["N_USE_PLAN"].asBoolean());
    EXPECT_FALSE(martin["N_USE_PLAN"].isNull());
    EXPECT_FALSE(martin["ACCESSTOSV"].asBoolean());
    EXPECT_FALSE(martin["ACCESSTOSV"].isNull());
    EXPECT_EQ(martin["DATE_EUROSTART"].asDateTime().date(), QDate(2002, 1, 1));
    EXPECT_EQ(martin["SPECIALISATION"].asText(), "Cardiologue");
    EXPECT_EQ(martin["ADRESSE"].asText(), "1 rue X ");
    EXPECT_EQ(martin["CP"].asText(), "75001");
    EXPECT_EQ(martin["VILLE"].asText(), "Paris");
    EXPECT_EQ(martin["TELEPHONE"].asText(), "01.02.03.04.05");
    EXPECT_EQ(martin["FAX"].asText(), " 01 02");
    EXPECT_EQ(martin["ACCESS_CODE"].asText(), "sésame");

    const QList<TableRow> subjects = readTable(*connection, "PL_SUBJ", "PL_SUBJ_ID");
    ASSERT_EQ(subjects.size(), 2);
    EXPECT_EQ(subjects[0]["NAME"].asText(), "Durand ");
    EXPECT_EQ(subjects[1]["PL_SUBJ_ID"].asInteger(), 12);
    EXPECT_EQ(subjects[1]["NAME"].asText(), "Martin Paul");
    EXPECT_EQ(subjects[1]["OWNER_TYPE"].asInteger(), 2);
    EXPECT_EQ(subjects[1]["OWNER_ID"].asInteger(), 12);
    EXPECT_TRUE(subjects[1]["USE_PLAN"].asBoolean());
    EXPECT_EQ(subjects[1]["SUBJ_ORDER"].asInteger(), 12);

    EXPECT_EQ(lastValueOf(*connection, "MEDECINS"), 12);
    EXPECT_EQ(lastValueOf(*connection, "PL_SUBJ"), 12);
    EXPECT_EQ(run->ui.progressMaximum(), 5);
    EXPECT_EQ(run->ui.progressPosition(), 0);
    EXPECT_TRUE(run->ui.statusHistory().contains("Utilisateur Martin Paul importé"));
    EXPECT_TRUE(run->ui.statusHistory().contains("Utilisateur Durand  importé"));
    EXPECT_EQ(run->ui.status(), "");
}

TEST_P(UsersStageTest, SummaryIsSingularUpToOne)
{
    const std::vector<std::pair<QList<qint64>, QString>> cases = {
        {{}, "0 utilisateur créé"}, {{1}, "1 utilisateur créé"}, {{2, 3}, "2 utilisateurs créés"}};
    for (const auto& [codes, summary] : cases) {
        SourceFiles source;
        jet::TableBuilder& users = usersTable(source);
        for (qint64 code : codes)
            addPerson(users, code, "Martin", "Paul");
        EXPECT_EQ(importFrom(source).last(), summary);
    }
}

TEST_P(UsersStageTest, ARefusedPhysicianIsLoggedNotCountedAndGetsNoPlanningSubject)
{
    insertRow(*connection, "MEDECINS", {{"MEDECINS_ID", 3}, {"NOM", "Déjà là"}});
    SourceFiles source;
    jet::TableBuilder& users = usersTable(source);
    addPerson(users, qint64(3), "Martin", "Paul");
    addPerson(users, qint64(5), "Durand", "Paul");

    const QStringList log = importFrom(source);

    ASSERT_EQ(log.size(), 3);
    EXPECT_EQ(log[0], " : importation de l'utilisateur n°3");
    EXPECT_TRUE(log[1].startsWith("   ERREUR : ")) << log[1].toStdString();
    EXPECT_GT(log[1].size(), QString("   ERREUR : ").size());
    EXPECT_EQ(log[2], "1 utilisateur créé");
    EXPECT_EQ(countRows(*connection, "PL_SUBJ"), 1);
    EXPECT_EQ(readTable(*connection, "PL_SUBJ")[0]["PL_SUBJ_ID"].asInteger(), 5);
    EXPECT_FALSE(run->ui.statusHistory().contains("Utilisateur Martin Paul importé"));
}

TEST_P(UsersStageTest, ARefusedPlanningSubjectAloneKeepsThePhysicianCounted)
{
    insertRow(*connection, "PL_SUBJ", {{"PL_SUBJ_ID", 7}, {"NAME", "Occupé"}});
    SourceFiles source;
    jet::TableBuilder& users = usersTable(source);
    addPerson(users, qint64(7), "Martin", "Paul");
    addPerson(users, qint64(8), "Durand", "Paul");

    const QStringList log = importFrom(source);

    ASSERT_EQ(log.size(), 3);
    EXPECT_EQ(log[0], " : importation de l'utilisateur n°7 dans le planning");
    EXPECT_TRUE(log[1].startsWith("   ERREUR : "));
    EXPECT_EQ(log[2], "2 utilisateurs créés");
    EXPECT_EQ(countRows(*connection, "MEDECINS"), 2);
    EXPECT_EQ(countRows(*connection, "PL_SUBJ"), 2);
    // The status names the user just imported, not whatever row the planning dataset shows.
    EXPECT_TRUE(run->ui.statusHistory().contains("Utilisateur Martin Paul importé"));
    EXPECT_EQ(lastValueOf(*connection, "PL_SUBJ"), 8);
}

TEST_P(UsersStageTest, AStoredPhysicianWhoseKeyCannotBeRaisedIsNamedButKeptAndCounted)
{
    TargetStatement drop(*connection, {"DROP TABLE ID_VALUES"});
    drop.execute();
    SourceFiles source;
    addPerson(usersTable(source), qint64(7), "Martin", "Paul");

    const QStringList log = importFrom(source);

    ASSERT_EQ(log.size(), 5);
    EXPECT_EQ(log[0], " : importation de l'utilisateur n°7");
    EXPECT_TRUE(log[1].startsWith("   ERREUR : "));
    EXPECT_EQ(log[2], " : importation de l'utilisateur n°7 dans le planning");
    EXPECT_TRUE(log[3].startsWith("   ERREUR : "));
    EXPECT_EQ(log[4], "1 utilisateur créé");
    EXPECT_EQ(countRows(*connection, "MEDECINS"), 1);
    EXPECT_EQ(countRows(*connection, "PL_SUBJ"), 1);
}

TEST_P(UsersStageTest, KeysAreRaisedToNewCodesButNeverLowered)
{
    setLastValue(*connection, "MEDECINS", 50);
    SourceFiles source;
    jet::TableBuilder& users = usersTable(source);
    addPerson(users, qint64(3), "Martin", "Paul");
    addPerson(users, qint64(12), "Durand", "Paul");
    importFrom(source);
    EXPECT_EQ(lastValueOf(*connection, "MEDECINS"), 50);
    EXPECT_EQ(lastValueOf(*connection, "PL_SUBJ"), 12);

    SourceFiles later;
    addPerson(usersTable(later), qint64(120), "Petit", "Paul");
    importFrom(later);
    EXPECT_EQ(lastValueOf(*connection, "MEDECINS"), 120);
}

TEST_P(UsersStageTest, AValueTooLongForItsColumnRefusesThatUserAlone)
{
    SourceFiles source;
    jet::TableBuilder& users = usersTable(source);
    addPerson(users, qint64(4), QString(200, u'x'), "Paul");
    addPerson(users, qint64(6), "Durand", "Paul");

    const QStringList log = importFrom(source);

    ASSERT_EQ(log.size(), 3);
    EXPECT_EQ(log[0], " : importation de l'utilisateur n°4");
    EXPECT_TRUE(log[1].startsWith("   ERREUR : "));
    EXPECT_EQ(log[2], "1 utilisateur créé");
    EXPECT_EQ(countRows(*connection, "MEDECINS"), 1);
}

INSTANTIATE_TEST_SUITE_P(Engines, UsersStageTest, testEngines(), engineTestName);

} // namespace
} // namespace p1::test
