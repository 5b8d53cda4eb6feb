// What keeps a run from harming a target: one run per target, a damaged source found before the
// purge, and the log of a stopped run that changed the target.
#include "common/errors.h"
#include "common/files.h"
#include "common/locale_texts.h"
#include "run/import_session.h"
#include "targetdb/target_claim.h"
#include "tests/run/run_fixture.h"
#include "tests/support/qt_printers.h"
#include "tests/support/recording_ui.h"

#include <gtest/gtest.h>

#include <functional>
#include <utility>

#include <QDir>
#include <QFile>
#include <QSqlQuery>

namespace p1 {
namespace {

using test::Practice;
using Kind = RecordingUi::DialogKind;

constexpr int pageSize = 0x1000;

// Points the first row offset of the data page that holds the text at the page's own header:
// the file still opens, the table's rows can no longer be trusted.
void damageRowHolding(const QString& file, const QString& text)
{
    QFile mdb(file);
    ASSERT_TRUE(mdb.open(QIODevice::ReadWrite));
    QByteArray bytes = mdb.readAll();
    qsizetype at = bytes.indexOf(text.toLatin1());
    if (at < 0)
        at = bytes.indexOf(QByteArray(reinterpret_cast<const char*>(text.utf16()), text.size() * 2));
    ASSERT_GE(at, 0);
    const qsizetype page = at / pageSize * pageSize;
    ASSERT_EQ(bytes[page], 0x01); // a data page
    bytes[page + 14] = 0x02;
    bytes[page + 15] = 0x00;
    mdb.seek(0);
    mdb.write(bytes);
}

class RunGuardsTest : public test::RunOnEngineTest {
protected:
    void chooseLocations(ImportSession& session, RecordingUi& ui)
    {
        session.lettersFolderChosen(practice.letters);
        ASSERT_TRUE(session.targetChosen(practice.target.folder + "Kelvanor.ver"));
        session.sourceBaseChosen(practice.source + "V4.mdb");
        ASSERT_TRUE(ui.isImportEnabled());
    }

    // Ordo.mdb with prescription items of the given names (and no prescription to import them).
    void writeOrdoWithItems(const QStringList& names)
    {
        jet::DatabaseBuilder ordo;
        sample::prescriptionTable(ordo);
        jet::TableBuilder& items = sample::prescriptionItemTable(ordo);
        for (qsizetype i = 0; i < names.size(); ++i)
            items.row({qint64(1), qint64(i + 1), names[i], QString("1 cp"), QString(), QString()});
        QFile::remove(practice.source + "Ordo.mdb");
        ordo.write(practice.source + "Ordo.mdb");
    }

    int physicians() { return test::countRows(*test::connectTo(practice.target), "MEDECINS"); }

    Practice practice{GetParam(), {{{3, "Martin"}, {8, "Zyxwvut"}}}};
    RecordingUi ui;
    ImportSession session{ui, GetParam()};
};

// A second run would empty and fill the target under the first; a check would read it half
// imported, or wait for its locks: both are refused while a run holds the claim, and neither once
// its run is gone, even when it left its lock file behind.
TEST_P(RunGuardsTest, ARunOrACheckOnAClaimedTargetIsRefusedAndTouchesNothing)
{
    chooseLocations(session, ui);
    session.ButtonExecuterClick();
    ASSERT_EQ(physicians(), 2);
    const std::pair<const char*, std::function<bool()>> attempts[] = {
        {"run", [&] { return session.ButtonExecuterClick(); }},
        {"check", [&] { return session.checkBeforeImport(); }},
    };
    for (const auto& [name, attempt] : attempts) {
        SCOPED_TRACE(name);
        const QStringList logBefore = ui.logLines();
        const QStringList recordsBefore = QDir(practice.logs).entryList(QDir::Files);
        const qsizetype errorsBefore = ui.dialogTexts(Kind::Error).size();
        auto otherRun = test::connectTo(practice.target);
        TargetClaim held(*otherRun);
        ASSERT_TRUE(held.tryAcquire());

        EXPECT_FALSE(attempt());

        EXPECT_EQ(ui.dialogTexts(Kind::Error).mid(errorsBefore),
                  QStringList{"Une autre importation est en cours sur cette base Tessaris : elle n'a pas été modifiée."});
        EXPECT_EQ(ui.logLines(), logBefore);
        EXPECT_EQ(QDir(practice.logs).entryList(QDir::Files), recordsBefore);
        EXPECT_EQ(physicians(), 2);
        EXPECT_TRUE(ui.isImportEnabled());
        held.release();
        if (GetParam() == TargetEngine::Sqlite)
            test::writeTextFile(session.ADOConnectionTessaris.sqliteDatabaseFile() + ".p1import-lock", "999999\n");
        EXPECT_TRUE(attempt());
    }
}

// The two files are read through side by side; the table reported is the first damaged one in
// the order of the run, whichever file holds it.
TEST_P(RunGuardsTest, ADamagedSourceTableStopsTheRunBeforeThePurge)
{
    chooseLocations(session, ui);
    session.ButtonExecuterClick();
    ASSERT_EQ(physicians(), 2);
    session.closeSourceConnections();
    writeOrdoWithItems({"Doliprane", "Qwertzu"});
    const QString pristineV4 = practice.source + "pristine-V4.mdb";
    const QString pristineOrdo = practice.source + "pristine-Ordo.mdb";
    ASSERT_TRUE(QFile::copy(practice.source + "V4.mdb", pristineV4));
    ASSERT_TRUE(QFile::copy(practice.source + "Ordo.mdb", pristineOrdo));
    const struct {
        bool v4Damaged;
        bool ordoDamaged;
        QString table;
    } cases[] = {
        {true, false, "[GLB Medecin]"},
        {false, true, "[ORD PRESCRIPTION]"},
        {true, true, "[GLB Medecin]"},
    };
    for (const auto& c : cases) {
        for (const QString& file : {QString("V4.mdb"), QString("Ordo.mdb")}) {
            QFile::remove(practice.source + file);
            ASSERT_TRUE(QFile::copy(practice.source + "pristine-" + file, practice.source + file));
        }
        if (c.v4Damaged)
            damageRowHolding(practice.source + "V4.mdb", "Zyxwvut");
        if (c.ordoDamaged)
            damageRowHolding(practice.source + "Ordo.mdb", "Qwertzu");

        RecordingUi later;
        ImportSession again(later, GetParam());
        chooseLocations(again, later);
        EXPECT_FALSE(again.ButtonExecuterClick());

        const QStringList errors = later.dialogTexts(Kind::Error);
        ASSERT_EQ(errors.size(), 1) << qPrintable(c.table);
        EXPECT_TRUE(errors[0].startsWith("Erreur lors de la lecture de la table " + c.table + " de Sorvane : Le fichier ["))
            << errors[0].toStdString();
        EXPECT_TRUE(errors[0].contains("est endommagé"));
        EXPECT_TRUE(later.logLines().isEmpty()); // nothing purged, nothing to keep
        EXPECT_EQ(physicians(), 2);
    }
}

// The table EDITOR.INI names is looked for before the purge, not when the last stage is reached.
TEST_P(RunGuardsTest, APrescriptionsTableTheTargetLacksStopsTheRunBeforeThePurge)
{
    chooseLocations(session, ui);
    session.ButtonExecuterClick();
    ASSERT_EQ(physicians(), 2);
    const QStringList firstRun = ui.logLines();
    const QStringList firstLogs = practice.logFiles();
    test::writeTargetSettings(practice.target, "[DataBases]\r\nORDONNANCES=Prescriptions\r\n");

    EXPECT_FALSE(session.ButtonExecuterClick());

    EXPECT_EQ(ui.dialogTexts(Kind::Error),
              QStringList{"La table des prescriptions ORDONNANCES, nommée par EDITOR.INI, n'existe pas dans la base "
                          "Tessaris."});
    EXPECT_EQ(ui.logLines(), firstRun);
    EXPECT_EQ(practice.logFiles(), firstLogs);
    EXPECT_EQ(physicians(), 2);
    EXPECT_TRUE(ui.isImportEnabled());

    ui.setTicked(Box::ImportOrdo, false);
    EXPECT_TRUE(session.ButtonExecuterClick());
}

TEST_P(RunGuardsTest, AStoppedRunThatChangedTheTargetKeepsItsLogWithTheReason)
{
    TargetStatement(*test::connectTo(practice.target), {"DROP TABLE PATIENTS"}).execute();
    chooseLocations(session, ui);

    EXPECT_THROW(session.ButtonExecuterClick(), TargetError); // the patients stage cannot open its table

    ASSERT_FALSE(ui.logLines().isEmpty());
    EXPECT_TRUE(ui.logLines().contains("2 utilisateurs créés"));
    EXPECT_TRUE(ui.logLines().last().startsWith("Traitement interrompu : ")) << ui.logLines().last().toStdString();
    ASSERT_EQ(practice.logFiles().size(), 1);
    QFile log(practice.logs + practice.logFiles().first());
    ASSERT_TRUE(log.open(QIODevice::ReadOnly));
    EXPECT_TRUE(log.readAll().endsWith("\r\n"));
    EXPECT_EQ(physicians(), 2);
}

INSTANTIATE_TEST_SUITE_P(Engines, RunGuardsTest, test::testEngines(), test::engineTestName);

class ServerSessionGuardsTest : public RunGuardsTest {};

// The session of a run whose program vanished keeps its transaction open, with its locks, until the
// server ends it; no claim of its own is left. A run would purge, then stop on a lock midway.
TEST_P(ServerSessionGuardsTest, ATargetAnotherSessionStillHoldsIsRefusedBeforeThePurge)
{
    chooseLocations(session, ui);
    session.ButtonExecuterClick();
    ASSERT_EQ(physicians(), 2);
    const QStringList firstRun = ui.logLines();
    auto vanished = test::connectTo(practice.target);
    QSqlQuery held(vanished->database());
    ASSERT_TRUE(held.exec("BEGIN") && held.exec("UPDATE ID_VALUES SET LAST_VALUE = LAST_VALUE"));

    EXPECT_FALSE(session.ButtonExecuterClick());

    const QStringList errors = ui.dialogTexts(Kind::Error);
    ASSERT_EQ(errors.size(), 1);
    EXPECT_TRUE(errors[0].startsWith("Une autre session du serveur (processus ")) << errors[0].toStdString();
    EXPECT_EQ(ui.logLines(), firstRun);
    held.exec("ROLLBACK");
    EXPECT_EQ(physicians(), 2);
    EXPECT_TRUE(session.ButtonExecuterClick());
}

INSTANTIATE_TEST_SUITE_P(Engines, ServerSessionGuardsTest, ::testing::Values(TargetEngine::Postgres),
                         test::engineTestName);

} // namespace
} // namespace p1
