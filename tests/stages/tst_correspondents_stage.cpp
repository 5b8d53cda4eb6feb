#include "common/errors.h"
#include "stages/correspondents_stage.h"

#include "tests/stages/stage_test_context.h"

namespace p1::test {
namespace {

// [ADR CARNET ADRESSE] with its columns in this order: CODE CARNET ADRESSE, NOM, PRENOM,
// CODE FONCTION, RUE, CODE POSTAL, VILLE, ETAT, TELEPHONE PERSONNEL, TELEPHONE PROFESSIONNEL,
// FAX, DIVERS.
jet::TableBuilder& addressBook(SourceFiles& source)
{
    sample::functionTable(source.v4()).row({qint64(2), text(" Kinésithérapeute  ")});
    return sample::addressBookTable(source.v4());
}

using CorrespondentsStageTest = StageTest<importCorrespondents>;

TEST_P(CorrespondentsStageTest, WritesEachEntryUnderItsSourceCode)
{
    SourceFiles source;
    jet::TableBuilder& entries = addressBook(source);
    entries.row({qint64(41), text("Durand"), text("Anne"), qint64(2), text("3 rue Y"), text("69000"),
                 text("Lyon"), text("France"), text("04.01.02.03.04"), text("04 99 88"),
                 text("0400"), text("Ligne 1\r\nLigne 2")});
    addPerson(entries, qint64(0), "Zéro", "");
    addPerson(entries, std::monostate(), "Vide", "");
    addPerson(entries, qint64(-2), "Négatif", "");
    entries.row({qint64(17), text("Petit"), std::monostate(), qint64(8), std::monostate(),
                 std::monostate(), std::monostate(), std::monostate(), std::monostate(),
                 std::monostate(), std::monostate(), std::monostate()});

    EXPECT_EQ(importFrom(source), QStringList{"2 correspondants créés"});

    const QList<TableRow> rows = readTable(*connection, "MEDTRAIT", "MEDTRAIT_ID");
    ASSERT_EQ(rows.size(), 2);
    EXPECT_EQ(rows[0]["MEDTRAIT_ID"].asInteger(), 17);
    EXPECT_EQ(rows[0]["SPECIALISATION"].asText(), "");
    const TableRow& durand = rows[1];
    EXPECT_EQ(durand["MEDTRAIT_ID"].asInteger(), 41);
    EXPECT_EQ(durand["NOM"].asText(), "Durand");
    EXPECT_EQ(durand["PRENOM"].asText(), "Anne");
    EXPECT_EQ(durand["SPECIALISATION"].asText(), "Kinésithérapeute");
    EXPECT_EQ(durand["ADRESSE"].asText(), "3 rue Y");
    EXPECT_EQ(durand["CP"].asText(), "69000");
    EXPECT_EQ(durand["VILLE"].asText(), "Lyon");
    EXPECT_EQ(durand["PAYS"].asText(), "France");
    EXPECT_EQ(durand["TEL"].asText(), "04.01.02.03.04");
    EXPECT_EQ(durand["TELBUREAU"].asText(), "04 99 88");
    EXPECT_EQ(durand["FAX"].asText(), "0400");
    EXPECT_EQ(durand["COMMENTAIRE"].asText(), "Ligne 1\r\nLigne 2");

    EXPECT_EQ(lastValueOf(*connection, "MEDTRAIT"), 41);
    EXPECT_EQ(run->ui.progressMaximum(), 5);
    EXPECT_TRUE(run->ui.statusHistory().contains("Correspondant Durand Anne importé"));
    EXPECT_TRUE(run->ui.statusHistory().contains("Correspondant Petit  importé"));
}

TEST_P(CorrespondentsStageTest, ARefusedEntryIsNamedAndNeitherCountedNorRaisingTheKey)
{
    setLastValue(*connection, "MEDTRAIT", 500);
    insertRow(*connection, "MEDTRAIT", {{"MEDTRAIT_ID", 900}, {"NOM", "Déjà là"}});
    SourceFiles source;
    jet::TableBuilder& entries = addressBook(source);
    addPerson(entries, qint64(320), "Petit", "Jean");
    addPerson(entries, qint64(900), "Durand", "Anne");

    const QStringList log = importFrom(source);

    ASSERT_EQ(log.size(), 3);
    EXPECT_EQ(log[0], " : importation du correspondant n°900 Durand Anne");
    EXPECT_TRUE(log[1].startsWith("   ERREUR : "));
    EXPECT_GT(log[1].size(), QString("   ERREUR : ").size());
    EXPECT_EQ(log[2], "1 correspondant créé");
    EXPECT_EQ(lastValueOf(*connection, "MEDTRAIT"), 500);
    EXPECT_FALSE(run->ui.statusHistory().contains("Correspondant Durand Anne importé"));

    SourceFiles later;
    addPerson(addressBook(later), qint64(640), "Moreau", "Luc");
    importFrom(later);
    EXPECT_EQ(lastValueOf(*connection, "MEDTRAIT"), 640);
}

TEST_P(CorrespondentsStageTest, AnEmptyAddressBookCreatesTheKeyAtZero)
{
    SourceFiles source;
    addressBook(source);
    EXPECT_EQ(importFrom(source), QStringList{"0 correspondant créé"});
    EXPECT_EQ(lastValueOf(*connection, "MEDTRAIT"), 0);
    EXPECT_EQ(run->ui.progressMaximum(), 0);
}

TEST_P(CorrespondentsStageTest, ReadsTheAddressBookWhereverTheSharedQueryWasLeft)
{
    SourceFiles source;
    addPerson(addressBook(source), qint64(5), "Durand", "Anne");
    sample::prescriptionTable(source.ordo());
    source.write();
    run = std::make_unique<StageRunContext>(source, *connection);
    run->Sorvane_Select.setConnection(&run->ADOConnectionSorvaneOrdo);
    run->Sorvane_Select.sql() = QStringList{"SELECT * from ", "[ORD ORDONNANCE]",
                                            "ORDER BY [CODE ORDONNANCE], [DATE]"};

    importCorrespondents(run->context);

    EXPECT_EQ(test::withoutStamps(run->ui.logLines()), QStringList{"1 correspondant créé"});
    EXPECT_EQ(run->Sorvane_Select.connection(), &run->ADOConnectionSorvane);
}

TEST_P(CorrespondentsStageTest, AValueTooLongForItsColumnRefusesThatEntryAlone)
{
    SourceFiles source;
    jet::TableBuilder& entries = addressBook(source);
    const QByteArray longName(200, 'x');
    addPerson(entries, qint64(4), QString(longName), "Anne");
    addPerson(entries, qint64(6), "Durand", "Luc");

    const QStringList log = importFrom(source);

    ASSERT_EQ(log.size(), 3);
    EXPECT_EQ(log[0], " : importation du correspondant n°4 " + QString(longName) + " Anne");
    EXPECT_TRUE(log[1].startsWith("   ERREUR : "));
    EXPECT_EQ(log[2], "1 correspondant créé");
    EXPECT_EQ(countRows(*connection, "MEDTRAIT"), 1);
}

TEST_P(CorrespondentsStageTest, AnAddressBookThatCannotBeOpenedShowsItsDialogAndEndsTheRun)
{
    SourceFiles source;
    sample::functionTable(source.v4());
    source.write();
    run = std::make_unique<StageRunContext>(source, *connection);

    EXPECT_THROW(importCorrespondents(run->context), RunEnded);

    const QStringList errors = run->ui.dialogTexts(RecordingUi::DialogKind::Error);
    ASSERT_EQ(errors.size(), 1);
    const QString opening = "Erreur lors de l'ouverture de la table [ADR CARNET ADRESSE] de Sorvane : ";
    EXPECT_TRUE(errors[0].startsWith(opening)) << errors[0].toStdString();
    EXPECT_GT(errors[0].size(), opening.size());
    EXPECT_TRUE(run->ui.logLines().isEmpty());
    EXPECT_EQ(lastValueOf(*connection, "MEDTRAIT"), -1);
}

// A lookup that fails is no refusal of one row: it ends the run, and what was stored stays.
TEST_P(CorrespondentsStageTest, AFailingFunctionLookupEndsTheRunKeepingTheStoredRowsWithoutRaisingTheKey)
{
    SourceFiles source;
    source.v4()
        .table("REF FONCTION")
        .column("CODE FONCTION", jet::ColumnType::Long)
        .column("NOM", jet::ColumnType::Text, 50)
        .row({qint64(2), text("Kinésithérapeute")});
    jet::TableBuilder& entries = sample::addressBookTable(source.v4());
    addPerson(entries, qint64(5), "Durand", "Anne"); // function 0: found nowhere, no label read
    QList<jet::Value> withFunction{qint64(6), text("Petit"), text("Luc"), qint64(2)};
    while (withFunction.size() < entries.columns().size())
        withFunction.append(QString());
    entries.row(withFunction);
    source.write();
    run = std::make_unique<StageRunContext>(source, *connection);

    EXPECT_THROW(importCorrespondents(run->context), SourceError);

    const QList<TableRow> rows = readTable(*connection, "MEDTRAIT");
    ASSERT_EQ(rows.size(), 1);
    EXPECT_EQ(rows[0]["MEDTRAIT_ID"].asInteger(), 5);
    EXPECT_EQ(lastValueOf(*connection, "MEDTRAIT"), -1);
    EXPECT_TRUE(run->ui.logLines().isEmpty());
}

INSTANTIATE_TEST_SUITE_P(Engines, CorrespondentsStageTest, testEngines(), engineTestName);

} // namespace
} // namespace p1::test
