#include "stages/patients_stage.h"

#include "common/date_time.h"
#include "tests/stages/patient_source.h"
#include "tests/stages/stage_test_context.h"

namespace p1::test {
namespace {

const QString noValue;

class PatientsStageTest : public TargetEngineTest {
protected:
    // A source with the given patients and the professions 4 (Boulanger) and 5 (blank-framed).
    QStringList importPatientsOf(const QList<SourcePatient>& patients, bool withProfessions = true,
                                 int correspondentColumns = 6)
    {
        SourceFiles source;
        if (withProfessions) {
            professionTable(source.v4())
                .row({qint64(4), QString("Boulanger")})
                .row({qint64(5), QString("  Maçon ")});
        }
        jet::TableBuilder& table = patientTable(source.v4(), correspondentColumns);
        for (const SourcePatient& patient : patients)
            addPatient(table, patient);
        source.write();
        run = std::make_unique<StageRunContext>(source, *connection);
        counts = importPatients(run->context);
        return test::withoutStamps(run->ui.logLines());
    }

    TableRow patientRow(qint64 code)
    {
        for (const TableRow& row : readTable(*connection, "PATIENTS"))
            if (row["PATIENTS_ID"].asInteger() == code)
                return row;
        ADD_FAILURE() << "no PATIENTS row " << code;
        return {};
    }

    std::unique_ptr<StageRunContext> run;
    StageCounts counts;
};

TEST_P(PatientsStageTest, WritesEveryColumnOfAPatientWithItsProfessionAndLinks)
{
    SourcePatient martin{
        .code = qint64(7),
        .owner = 3,
        .surname = "Martin",
        .firstName = "Paul",
        .birthDate = wallClock(QDate(1980, 5, 12)),
        .fileNumber = "ABCDEFGHIJKL",
        .civility = 2,
        .sex = qint64(2),
        .birthName = "Dupont",
        .homePhone = "06.12.34.56.78",
        .workPhone = "0112",
        .fax = "",
        .insuranceNumber = "1 85 05 78 006 084 36",
        .address = "1 rue X",
        .floor = "3",
        .buildingCode = "A12",
        .postCode = "75001",
        .town = "Paris",
        .deleted = true,
        .insuredSurname = "  ",
        .insuredFirstName = "Jean",
        .memo = "  Allergie\r\n",
        .profession = 5,
        .correspondents = {0, 12, 0, 0, 40, 0},
    };

    EXPECT_EQ(importPatientsOf({martin}), QStringList{"1 patient créé"});

    const TableRow row = patientRow(7);
    EXPECT_EQ(row["MEDECINS_ID"].asInteger(), 3);
    EXPECT_EQ(row["NOM"].asText(), "Martin");
    EXPECT_EQ(row["PRENOM"].asText(), "Paul");
    EXPECT_EQ(row["NE_LE"].asDateTime(), wallClock(QDate(1980, 5, 12)));
    EXPECT_EQ(row["ANCIEN_NUMERO_DE_DOSSIER"].asText(), "ABCDEFGHI");
    EXPECT_EQ(row["TITRE"].asInteger(), 0);
    EXPECT_FALSE(row["TITRE"].isNull());
    EXPECT_EQ(row["SEXE"].asInteger(), 1);
    EXPECT_EQ(row["NOM_DE_JEUNE_FILLE"].asText(), "Dupont");
    EXPECT_EQ(row["TELEPHONE"].asText(), "06 12 34 56 78");
    EXPECT_EQ(row["TELEPHONE_BUREAU"].asText(), "01 12");
    EXPECT_EQ(row["FAX"].asText(), "");
    EXPECT_EQ(row["N_SS"].asText(), "1850578006084 36");
    EXPECT_EQ(row["ADRESSE"].asText(), "1 rue X\rÉtage : 3\rCode immeuble : A12");
    EXPECT_EQ(row["CP"].asText(), "75001");
    EXPECT_EQ(row["VILLE"].asText(), "Paris");
    EXPECT_TRUE(row["DOSSIER_EXIT"].asBoolean());
    EXPECT_EQ(row["NOM_DE_L_ASSURE"].asText(), " Jean");
    EXPECT_EQ(row["AUTRES_INFORMATIONS"].asText(), "  Allergie\r\n");

    const QList<TableRow> antecedents = readTable(*connection, "ANTECED");
    ASSERT_EQ(antecedents.size(), 1);
    EXPECT_EQ(antecedents[0]["ANTECED_ID"].asInteger(), 1);
    EXPECT_EQ(antecedents[0]["PATIENTS_ID"].asInteger(), 7);
    EXPECT_EQ(antecedents[0]["PROFESSION_ACTUELLE"].asText(), "Maçon");

    const QList<TableRow> links = readTable(*connection, "PATMEDTR", "PATMEDTR_ID");
    ASSERT_EQ(links.size(), 2);
    EXPECT_EQ(links[0]["PATMEDTR_ID"].asInteger(), 1);
    EXPECT_EQ(links[0]["PATIENTS_ID"].asInteger(), 7);
    EXPECT_EQ(links[0]["MEDTRAIT_ID"].asInteger(), 12);
    EXPECT_EQ(links[1]["PATMEDTR_ID"].asInteger(), 2);
    EXPECT_EQ(links[1]["MEDTRAIT_ID"].asInteger(), 40);

    EXPECT_TRUE(run->ui.statusHistory().contains("Patient n°7 - Martin Paul importé"));
    EXPECT_EQ(run->ui.status(), "");
    EXPECT_EQ(lastValueOf(*connection, "PATIENTS"), 7);
    EXPECT_EQ(lastValueOf(*connection, "ANTECED"), 1);
    EXPECT_EQ(lastValueOf(*connection, "PATMEDTR"), 2);
}

TEST_P(PatientsStageTest, CivilitySexInsuredNameAndMemoFollowTheirRules)
{
    struct Case {
        qint64 code;
        qint64 civility;
        jet::Value sex;
        QString insuredSurname;
        QString insuredFirstName;
        QString memo;
        QVariant title;
        QVariant sexColumn;
        QVariant insuredName;
        QVariant otherInformation;
    };
    const QList<Case> cases = {
        {1, 1, qint64(1), " Durand ", " Anne ", "x", 1, 0, "Durand Anne", "x"},
        {2, 0, qint64(3), "", "", "  \r\n", QVariant(), QVariant(), QVariant(), QVariant()},
        {3, 3, jet::Value(), noValue, noValue, noValue, 2, QVariant(), QVariant(), QVariant()},
        {4, 4, qint64(0), "Durand", "", "", 0, QVariant(), "Durand ", QVariant()},
        {5, 99, qint64(2), noValue, "Jean", "", 2, 1, " Jean", QVariant()},
    };
    QList<SourcePatient> patients;
    for (const Case& c : cases) {
        patients.append({.code = c.code, .surname = "Nom", .firstName = "Prénom",
                         .birthDate = wallClock(QDate(1990, 1, 1)), .civility = c.civility,
                         .sex = c.sex, .insuredSurname = c.insuredSurname,
                         .insuredFirstName = c.insuredFirstName, .memo = c.memo});
    }

    importPatientsOf(patients);

    for (const Case& c : cases) {
        SCOPED_TRACE(c.code);
        const TableRow row = patientRow(c.code);
        EXPECT_EQ(row["TITRE"].isNull(), c.title.isNull());
        if (!c.title.isNull()) {
            EXPECT_EQ(row["TITRE"].asInteger(), c.title.toLongLong());
        }
        EXPECT_EQ(row["SEXE"].isNull(), c.sexColumn.isNull());
        if (!c.sexColumn.isNull()) {
            EXPECT_EQ(row["SEXE"].asInteger(), c.sexColumn.toLongLong());
        }
        EXPECT_EQ(row["NOM_DE_L_ASSURE"].isNull(), c.insuredName.isNull());
        EXPECT_EQ(row["NOM_DE_L_ASSURE"].asText(), c.insuredName.toString());
        EXPECT_EQ(row["AUTRES_INFORMATIONS"].isNull(), c.otherInformation.isNull());
        EXPECT_EQ(row["AUTRES_INFORMATIONS"].asText(), c.otherInformation.toString());
    }
}

TEST_P(PatientsStageTest, BirthDateRuleLogsOneLineForAnInvalidDateAndImportsThePatient)
{
    struct Case {
        qint64 code;
        jet::Value birthDate;
        QVariant stored;      // null: NE_LE left NULL
        QString logLine;      // after the stamp; empty: nothing logged
    };
    const QList<Case> cases = {
        {1, wallClock(QDate(1975, 3, 9)), wallClock(QDate(1975, 3, 9)), {}},
        {2, jet::Value(), QVariant(), " : la date de naissance () de Nom2 Prénom n'est pas correcte"},
        {3, wallClock(QDate(1980, 5, 12), QTime(10, 30)), QVariant(),
         " : la date de naissance (12/05/1980 10:30:00) de Nom3 Prénom n'est pas correcte"},
        {4, wallClock(QDate(1850, 1, 1)), QVariant(), {}},
        {5, zeroDay(), QVariant(), {}},
        {6, wallClock(QDate(1899, 12, 31)), wallClock(QDate(1899, 12, 31)), {}},
    };
    QList<SourcePatient> patients;
    QStringList expectedLog;
    for (const Case& c : cases) {
        patients.append({.code = c.code, .surname = QString("Nom%1").arg(c.code),
                         .firstName = "Prénom", .birthDate = c.birthDate});
        if (!c.logLine.isEmpty())
            expectedLog.append(c.logLine);
    }
    expectedLog.append("6 patients créés");

    EXPECT_EQ(importPatientsOf(patients), expectedLog);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.code);
        const TableRow row = patientRow(c.code);
        EXPECT_EQ(row["NE_LE"].isNull(), c.stored.isNull());
        if (!c.stored.isNull()) {
            EXPECT_EQ(row["NE_LE"].asDateTime(), c.stored.toDateTime());
        }
    }
}

TEST_P(PatientsStageTest, EmptyTextsStayEmptyTextsAndAnEmptyAddressBeginsWithItsFloorLine)
{
    // Left to the data layer by the source product; decided here: the empty text, on every engine.
    importPatientsOf({
        {.code = qint64(1), .surname = "", .firstName = noValue, .birthName = noValue,
         .address = "", .floor = "2"},
        {.code = qint64(2), .surname = "Nom", .address = noValue, .buildingCode = "B"},
        {.code = qint64(3), .surname = "Nom", .address = noValue},
    });

    const TableRow first = patientRow(1);
    for (const char* column : {"NOM", "PRENOM", "NOM_DE_JEUNE_FILLE", "TELEPHONE", "N_SS", "CP"}) {
        EXPECT_FALSE(first[column].isNull()) << column;
        EXPECT_EQ(first[column].asText(), "") << column;
    }
    EXPECT_EQ(first["ADRESSE"].asText(), "\rÉtage : 2");
    EXPECT_EQ(patientRow(2)["ADRESSE"].asText(), "\rCode immeuble : B");
    EXPECT_FALSE(patientRow(3)["ADRESSE"].isNull());
    EXPECT_EQ(patientRow(3)["ADRESSE"].asText(), "");
}

TEST_P(PatientsStageTest, RowsWithoutAPositiveCodeAreSkippedSilently)
{
    const QStringList log = importPatientsOf({
        {.code = qint64(0), .surname = "Zéro"},
        {.code = jet::Value(), .surname = "Vide"},
        {.code = qint64(-5), .surname = "Négatif"},
        {.code = qint64(9), .surname = "Martin", .birthDate = wallClock(QDate(2000, 1, 1))},
    });

    EXPECT_EQ(log, QStringList{"1 patient créé"});
    EXPECT_EQ(countRows(*connection, "PATIENTS"), 1);
    EXPECT_EQ(run->ui.progressMaximum(), 4);
}

TEST_P(PatientsStageTest, SummaryIsSingularUpToOne)
{
    EXPECT_EQ(importPatientsOf({}), QStringList{"0 patient créé"});
    EXPECT_EQ(lastValueOf(*connection, "PATIENTS"), 0);
    const QDateTime born = wallClock(QDate(2000, 1, 1));
    EXPECT_EQ(importPatientsOf({{.code = qint64(1), .birthDate = born}}).last(), "1 patient créé");
    EXPECT_EQ(importPatientsOf({{.code = qint64(2), .birthDate = born},
                                {.code = qint64(3), .birthDate = born}}).last(),
              "2 patients créés");
}

TEST_P(PatientsStageTest, ARefusedPatientIsNamedNotCountedAndTheStageGoesOn)
{
    insertRow(*connection, "PATIENTS", {{"PATIENTS_ID", 3}, {"NOM", "Déjà là"}});
    const QDateTime born = wallClock(QDate(2000, 1, 1));
    const QStringList log = importPatientsOf({
        {.code = qint64(3), .surname = "Martin", .firstName = "Paul", .birthDate = born,
         .profession = 4, .correspondents = {1, 2}},
        {.code = qint64(4), .surname = "Durand", .firstName = "Anne", .birthDate = born,
         .profession = 4, .correspondents = {1}},
    });

    ASSERT_EQ(log.size(), 3);
    EXPECT_EQ(log[0], " : importation du patient n°3 Martin Paul");
    EXPECT_TRUE(log[1].startsWith("   ERREUR : "));
    EXPECT_GT(log[1].size(), QString("   ERREUR : ").size());
    EXPECT_EQ(log[2], "1 patient créé");
    EXPECT_EQ(patientRow(3)["NOM"].asText(), "Déjà là");
    const QList<TableRow> antecedents = readTable(*connection, "ANTECED");
    ASSERT_EQ(antecedents.size(), 1);
    EXPECT_EQ(antecedents[0]["PATIENTS_ID"].asInteger(), 4);
    EXPECT_EQ(antecedents[0]["ANTECED_ID"].asInteger(), 1);
    EXPECT_EQ(countRows(*connection, "PATMEDTR"), 1);
    EXPECT_FALSE(run->ui.statusHistory().contains("Patient n°3 - Martin Paul importé"));
    EXPECT_TRUE(run->ui.statusHistory().contains("Patient n°4 - Durand Anne importé"));
}

TEST_P(PatientsStageTest, RefusedProfessionAndLinkUseUpTheirNumbersAndThePatientGoesOn)
{
    insertRow(*connection, "ANTECED", {{"ANTECED_ID", 1}, {"PATIENTS_ID", 99}});
    insertRow(*connection, "PATMEDTR", {{"PATMEDTR_ID", 2}, {"PATIENTS_ID", 99}, {"MEDTRAIT_ID", 1}});
    const QDateTime born = wallClock(QDate(2000, 1, 1));
    const QStringList log = importPatientsOf({
        {.code = qint64(5), .surname = "Martin", .firstName = "Paul", .birthDate = born,
         .profession = 4, .correspondents = {11, 12, 13}},
        {.code = qint64(6), .surname = "Durand", .firstName = "Anne", .birthDate = born,
         .profession = 4},
    });

    ASSERT_EQ(log.size(), 5);
    EXPECT_EQ(log[0], " : importation de la profession du patient n°5 Martin Paul");
    EXPECT_TRUE(log[1].startsWith("   ERREUR : "));
    EXPECT_EQ(log[2], " : importation du médecin traitant du patient n°5 Martin Paul");
    EXPECT_TRUE(log[3].startsWith("   ERREUR : "));
    EXPECT_EQ(log[4], "2 patients créés");
    const QList<TableRow> antecedents = readTable(*connection, "ANTECED", "ANTECED_ID");
    ASSERT_EQ(antecedents.size(), 2);
    EXPECT_EQ(antecedents[1]["ANTECED_ID"].asInteger(), 2);
    EXPECT_EQ(antecedents[1]["PATIENTS_ID"].asInteger(), 6);
    const QList<TableRow> links = readTable(*connection, "PATMEDTR", "PATMEDTR_ID");
    ASSERT_EQ(links.size(), 3);
    EXPECT_EQ(links[0]["MEDTRAIT_ID"].asInteger(), 11);
    EXPECT_EQ(links[2]["PATMEDTR_ID"].asInteger(), 3);
    EXPECT_EQ(links[2]["MEDTRAIT_ID"].asInteger(), 13);
    EXPECT_TRUE(run->ui.statusHistory().contains("Patient n°5 - Martin Paul importé"));
    EXPECT_EQ(lastValueOf(*connection, "ANTECED"), 2);
    EXPECT_EQ(lastValueOf(*connection, "PATMEDTR"), 3);
}

TEST_P(PatientsStageTest, AFailingProfessionLookupLosesTheProfessionOnly)
{
    const QStringList log = importPatientsOf(
        {{.code = qint64(5), .surname = "Martin", .firstName = "Paul",
          .birthDate = wallClock(QDate(2000, 1, 1)), .profession = 4, .correspondents = {11}}},
        false);

    ASSERT_EQ(log.size(), 3);
    EXPECT_EQ(log[0], " : importation de la profession du patient n°5 Martin Paul");
    EXPECT_TRUE(log[1].startsWith("   ERREUR : "));
    EXPECT_EQ(log[2], "1 patient créé");
    EXPECT_EQ(countRows(*connection, "PATIENTS"), 1);
    EXPECT_EQ(countRows(*connection, "ANTECED"), 0);
    EXPECT_EQ(countRows(*connection, "PATMEDTR"), 1);
}

TEST_P(PatientsStageTest, CountersContinueFromIdValuesAndKeysAreNeverLowered)
{
    setLastValue(*connection, "PATIENTS", 12);
    setLastValue(*connection, "ANTECED", 40);
    const QDateTime born = wallClock(QDate(2000, 1, 1));
    importPatientsOf({
        {.code = qint64(3), .birthDate = born, .profession = 4, .correspondents = {1}},
        {.code = qint64(7), .birthDate = born, .profession = 4},
        {.code = qint64(10), .birthDate = born},
    });
    EXPECT_EQ(lastValueOf(*connection, "PATIENTS"), 12);
    EXPECT_EQ(lastValueOf(*connection, "ANTECED"), 42);
    EXPECT_EQ(lastValueOf(*connection, "PATMEDTR"), 1);
    const QList<TableRow> antecedents = readTable(*connection, "ANTECED", "ANTECED_ID");
    ASSERT_EQ(antecedents.size(), 2);
    EXPECT_EQ(antecedents[0]["ANTECED_ID"].asInteger(), 41);
    EXPECT_EQ(antecedents[1]["ANTECED_ID"].asInteger(), 42);

    // A second run on the same target, not emptied: its professions and links go in after the
    // first run's.
    const QStringList log = importPatientsOf(
        {{.code = qint64(20), .birthDate = born, .profession = 4, .correspondents = {2, 3}}});
    EXPECT_EQ(log, QStringList{"1 patient créé"});
    EXPECT_EQ(lastValueOf(*connection, "PATIENTS"), 20);
    EXPECT_EQ(lastValueOf(*connection, "ANTECED"), 43);
    EXPECT_EQ(lastValueOf(*connection, "PATMEDTR"), 3);
    EXPECT_EQ(readTable(*connection, "ANTECED", "ANTECED_ID").last()["PATIENTS_ID"].asInteger(), 20);
    EXPECT_EQ(readTable(*connection, "PATMEDTR", "PATMEDTR_ID").last()["MEDTRAIT_ID"].asInteger(), 3);
}

TEST_P(PatientsStageTest, ValuesTheRulesChangeAreNotedWithTheirRowUnlessTheRowIsRefused)
{
    insertRow(*connection, "PATIENTS", {{"PATIENTS_ID", 3}, {"NOM", "Déjà là"}});
    const QDateTime born = wallClock(QDate(2000, 1, 1));
    importPatientsOf({
        {.code = qint64(1), .surname = "Martin", .birthDate = born, .fileNumber = "AB-1234567",
         .insuranceNumber = "1 80 2A 123 456 78"},
        {.code = qint64(2), .surname = "Durand", .birthDate = born, .fileNumber = "123456789",
         .insuranceNumber = "1 80 75 123 456 78"},
        {.code = qint64(4), .surname = "Ancien", .birthDate = wallClock(QDate(1897, 3, 2))},
        {.code = qint64(3), .surname = "Refusé", .birthDate = born, .fileNumber = "0123456789",
         .insuranceNumber = "2B"},
    });

    QStringList changes;
    for (const ChangedValue& change : counts.changedValues)
        changes.append(QStringList{change.sourceCode, change.column, change.sourceValue, change.storedValue}.join('|'));
    EXPECT_EQ(changes, QStringList({"1|ANCIEN_NUMERO_DE_DOSSIER|AB-1234567|AB-123456",
                                    "1|N_SS|1 80 2A 123 456 78|180212345678",
                                    "4|NE_LE|02/03/1897|"}));
    EXPECT_EQ(patientRow(1)["ANCIEN_NUMERO_DE_DOSSIER"].asText(), "AB-123456");
    EXPECT_TRUE(patientRow(4)["NE_LE"].isNull());
}

TEST_P(PatientsStageTest, AValueTooLongForItsColumnRefusesThatPatientAlone)
{
    const QDateTime born = wallClock(QDate(2000, 1, 1));
    const QString longName(200, u'x');
    const QStringList log = importPatientsOf({
        {.code = qint64(1), .surname = longName, .firstName = "Paul", .birthDate = born,
         .profession = 4},
        {.code = qint64(2), .surname = "Durand", .firstName = "Anne", .birthDate = born},
    });

    ASSERT_EQ(log.size(), 3);
    EXPECT_EQ(log[0], " : importation du patient n°1 " + longName + " Paul");
    EXPECT_TRUE(log[1].startsWith("   ERREUR : "));
    EXPECT_EQ(log[2], "1 patient créé");
    EXPECT_EQ(countRows(*connection, "PATIENTS"), 1);
    EXPECT_EQ(countRows(*connection, "ANTECED"), 0);
}

TEST_P(PatientsStageTest, AnUnreadableLinkColumnLosesThatLinkAloneAndTheStoredPatientCounts)
{
    const QDateTime born = wallClock(QDate(2000, 1, 1));
    const QStringList log = importPatientsOf(
        {
            {.code = qint64(1), .surname = "Martin", .firstName = "Paul", .birthDate = born, .profession = 4,
             .correspondents = {3, 0, 0, 0, 0, 0}},
            {.code = qint64(2), .surname = "Durand", .firstName = "Anne", .birthDate = born},
        },
        true, 5);

    const QString missingColumn =
        "   ERREUR : Le champ [CODE CORRESPONDANT 6] n'existe pas dans la table [GLB PATIENT].";
    EXPECT_EQ(log, QStringList({" : importation du médecin traitant du patient n°1 Martin Paul", missingColumn,
                                " : importation du médecin traitant du patient n°2 Durand Anne", missingColumn,
                                "2 patients créés"}));
    EXPECT_EQ(countRows(*connection, "PATIENTS"), 2);
    EXPECT_EQ(countRows(*connection, "ANTECED"), 1);
    EXPECT_EQ(countRows(*connection, "PATMEDTR"), 1);
    EXPECT_TRUE(run->ui.statusHistory().contains("Patient n°1 - Martin Paul importé"));
    EXPECT_EQ(lastValueOf(*connection, "PATIENTS"), 2);
}

TEST_P(PatientsStageTest, FloorAndBuildingLinesOnlyWhenNotBlankAndAPatientWithoutOwner)
{
    const QDateTime born = wallClock(QDate(2000, 1, 1));
    struct Case {
        qint64 code;
        QString floor;
        QString buildingCode;
        QString address;
    };
    const QList<Case> cases = {
        {1, "  ", "\t", "1 rue X"},
        {2, " 2e ", noValue, "1 rue X\rÉtage :  2e "},
        {3, noValue, " B ", "1 rue X\rCode immeuble :  B "},
        {4, "", "", "1 rue X"},
    };
    QList<SourcePatient> patients;
    for (const Case& c : cases)
        patients.append({.code = c.code, .birthDate = born, .address = "1 rue X", .floor = c.floor,
                         .buildingCode = c.buildingCode});

    importPatientsOf(patients);

    for (const Case& c : cases) {
        SCOPED_TRACE(c.code);
        const TableRow row = patientRow(c.code);
        EXPECT_EQ(row["ADRESSE"].asText(), c.address);
        // No owner physician and not deleted: 0 and false, both stored.
        EXPECT_FALSE(row["MEDECINS_ID"].isNull());
        EXPECT_EQ(row["MEDECINS_ID"].asInteger(), 0);
        EXPECT_FALSE(row["DOSSIER_EXIT"].isNull());
        EXPECT_FALSE(row["DOSSIER_EXIT"].asBoolean());
    }
}

TEST_P(PatientsStageTest, TextsAreStoredAsWholeCharacters)
{
    const QDateTime born = wallClock(QDate(2000, 1, 1));
    const QString emoji = QString::fromUtf8("😀");
    struct Case {
        qint64 code;
        QString surname;
        QString fileNumber;
        QString storedSurname;
        QString storedFileNumber;
    };
    const QList<Case> cases = {
        // A surrogate pair cut by the nine-unit file number is left out whole.
        {1, "Nom", "12345678" + emoji + "9", "Nom", "12345678"},
        {2, "Nom", "1234567" + emoji + "89", "Nom", "1234567" + emoji},
        // A lone surrogate becomes U+FFFD and keeps the character after it.
        {3, QString(QChar(0xD83D)) + "Xyz", "1", QString(QChar::ReplacementCharacter) + "Xyz", "1"},
        {4, "Xy" + QString(QChar(0xDE00)), "1", "Xy" + QString(QChar::ReplacementCharacter), "1"},
        {5, emoji + "Z", "1", emoji + "Z", "1"},
    };
    QList<SourcePatient> patients;
    for (const Case& c : cases)
        patients.append({.code = c.code, .surname = c.surname, .birthDate = born, .fileNumber = c.fileNumber});

    EXPECT_EQ(importPatientsOf(patients).last(), "5 patients créés");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.code);
        const TableRow row = patientRow(c.code);
        EXPECT_EQ(row["NOM"].asText(), c.storedSurname);
        EXPECT_EQ(row["ANCIEN_NUMERO_DE_DOSSIER"].asText(), c.storedFileNumber);
    }
}

INSTANTIATE_TEST_SUITE_P(Engines, PatientsStageTest, testEngines(), engineTestName);

} // namespace
} // namespace p1::test
