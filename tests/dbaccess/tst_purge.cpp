#include "common/errors.h"
#include "common/locale_texts.h"
#include "dbaccess/letter_store.h"
#include "dbaccess/purge.h"
#include "dbaccess/sql_names.h"
#include "tests/support/recording_ui.h"
#include "tests/support/target_databases.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QSqlQuery>
#include <QThread>

namespace p1 {
namespace {

const QStringList fixedTables = {
    "PATMEDTR", "MEDTRAIT", "IMAGES",   "ANTECED",  "LETTERS",  "LETTERS_EMAILED", "LETTERS_WORKLIST",
    "SIMPLIFY", "TASKS",    "IMPDATA",  "PLANNING", "PL_SUBJ_PARAM", "PL_SUBJ_EXAM", "PL_SUBJ",
    "CPACTES",  "CPBANKS",  "CPMAIN",   "CPGEST",   "CPORDPAY", "CPORG",    "CPREM",   "CPTRANS",
    "CPNLOTS",  "CPSVFACT", "CPSVMED",  "CPSVNOE",  "CPSVXMD2", "VIDAL",    "DICOM_EXPORTS",
    "FAMILY_ID", "DATA_PRESCR_BLANKS", "DRUGS_CURRENT", "MOTCONSU", "PATIENTS", "MEDECINS",
};

TEST(PurgeList, KeepsTheShortDataTablesBeforeTheFixedList)
{
    const struct {
        QStringList discovered;
        QStringList kept;
    } cases[] = {
        {{"DATA7", "dbo.DATA12", "DATA_PRESCR_BLANKS"}, {"DATA7", "DATA12"}},
        {{"DATA1234567", "DATA123456"}, {"DATA123456"}},      // 11 characters are too many
        {{"MYDATA", "data5", "Patients"}, {"DATA5"}},           // upper-cased before the filters
        {{"DBO.DATA1234567"}, {}},                              // too long even without its owner
        {{"XDBO.DATA9", "ADBO.X"}, {}},                         // four characters go, wherever DBO. stands
        {{}, {}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(purgeList(c.discovered), c.kept + fixedTables) << c.discovered.join(",").toStdString();
}

// The import fills the prescriptions table: left out, its rows would take the new ones in.
TEST(PurgeList, EndsWithThePrescriptionsTableWhenNeitherListHoldsIt)
{
    EXPECT_EQ(purgeList({"DATA7"}, "ORDONNANCES"), QStringList{"DATA7"} + fixedTables + QStringList{"ORDONNANCES"});
    EXPECT_EQ(purgeList({"dbo.DATAPRESCR"}, "DATAPRESCR"), QStringList{"DATAPRESCR"} + fixedTables);
    EXPECT_EQ(purgeList({}, "DATA_PRESCR_BLANKS"), fixedTables);
    EXPECT_EQ(purgeList({}, QString()), fixedTables);
}

class PurgeTest : public test::TargetEngineTest {
protected:
    void execute(const QString& statement)
    {
        TargetStatement sql(*connection, {statement});
        sql.execute();
    }

    void createFilledTable(const QString& name)
    {
        execute("CREATE TABLE " + name + " (N INTEGER)");
        execute("INSERT INTO " + name + " (N) VALUES (1)");
    }

    qint64 counter(const QString& key)
    {
        for (const auto& row : test::readTable(*connection, "ID_VALUES"))
            if (row["KEY_NAME"].asText() == key)
                return row["LAST_VALUE"].asInteger();
        return -1;
    }

    PurgeOutcome purge(const PurgeScope& scope = {})
    {
        TargetStatement Qry1(*connection);
        IdAllocator ids(*connection, ui);
        return PurgeTarget(*connection, Qry1, ids, ui, scope);
    }

    PurgeScope withLetterStore(bool moved = true) const { return {QString(), target.folder, moved}; }

    void writeLetter(const QString& store, const QString& name)
    {
        QDir().mkpath(target.folder + store + "/5");
        QFile letter(target.folder + store + "/5/" + name);
        ASSERT_TRUE(letter.open(QIODevice::WriteOnly));
        letter.write("{\\rtf1 lettre}");
    }

    QStringList storesBesideTheTarget() const
    {
        return QDir(target.folder).entryList({"LETTERS*"}, QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name);
    }

    // The line that follows the last one of LETTERS.
    QString lineAfterLetters() const
    {
        const QStringList lines = ui.logLines();
        const qsizetype letters = lines.lastIndexOf("Purge de la table LETTERS effectuée.");
        return letters >= 0 && letters + 1 < lines.size() ? lines[letters + 1] : QString();
    }

    RecordingUi ui;
};

TEST_P(PurgeTest, EmptiesTheListedTablesResetsTheirCountersAndGoesOnPastFailures)
{
    for (const QString& name : QStringList{"DATA7", "DATA123456", "DATA1234567", "MYDATA"})
        createFilledTable(name);
    execute("DROP TABLE IMAGES");
    execute("INSERT INTO MEDECINS (MEDECINS_ID, NOM) VALUES (4, 'Martin')");
    execute("INSERT INTO ID_VALUES (KEY_NAME, LAST_VALUE) VALUES ('PATIENTS', 57)");

    purge();

    const QStringList lines = ui.logLines();
    ASSERT_FALSE(lines.isEmpty());
    EXPECT_EQ(lines.first(), "Purge des données de la base de destination en cours...");
    EXPECT_EQ(lines.last(), "Purge des données terminée.");
    EXPECT_TRUE(lines.contains("Purge de la table DATA7 effectuée."));
    EXPECT_TRUE(lines.contains("Purge de la table DATA123456 effectuée."));
    EXPECT_FALSE(lines.join('\n').contains("DATA1234567"));
    EXPECT_FALSE(lines.join('\n').contains("MYDATA"));
    EXPECT_EQ(lines.filter("DATA_PRESCR_BLANKS").size(), 1);

    const qsizetype images = lines.indexOf(QRegularExpression("(?s)La table IMAGES n'a pas pu être vidée :\\S.*"));
    ASSERT_GE(images, 0) << lines.join('\n').toStdString();
    EXPECT_EQ(lines[images - 1], "Purge de la table MEDTRAIT effectuée.");
    EXPECT_EQ(lines[images + 1], "Purge de la table ANTECED effectuée.");
    EXPECT_EQ(lines.size(), 2 + 2 + 35 + 1); // and the prescriptions table, DATAPRESCR

    EXPECT_EQ(test::countRows(*connection, "DATA7"), 0);
    EXPECT_EQ(test::countRows(*connection, "DATA1234567"), 1);
    EXPECT_EQ(test::countRows(*connection, "MYDATA"), 1);
    EXPECT_EQ(test::countRows(*connection, "MEDECINS"), 0);
    EXPECT_EQ(counter("MEDECINS"), 0); // created
    EXPECT_EQ(counter("PATIENTS"), 0); // forced down
    EXPECT_EQ(counter("IMAGES"), -1);  // a failed table keeps its counter (none here)
    EXPECT_TRUE(ui.dialogs().isEmpty());
    EXPECT_EQ(ui.statusHistory().mid(0, 3),
              QStringList({"Récupération des tables de la base Tessaris...",
                           "Récupération des tables de la base Tessaris terminée",
                           "Purge des tables de la base Kelvanor..."}));
    EXPECT_EQ(ui.statusHistory().last(), "Purge de la table [MEDECINS] de la base Tessaris...");
    // Each deletion blocks the window: its status line is painted before, whatever the throttle.
    QStringList purgeStatuses;
    for (const QString& table : fixedTables)
        purgeStatuses.append("Purge de la table [" + table + "] de la base Tessaris...");
    const QStringList repainted = ui.repaintedStatuses();
    EXPECT_EQ(repainted.first(), "Récupération des tables de la base Tessaris...");
    EXPECT_EQ(repainted.mid(repainted.size() - 35), purgeStatuses);
}

TEST_P(PurgeTest, AFailedCounterWarnsButTheTableCountsAsEmptied)
{
    execute("DROP TABLE ID_VALUES");
    execute("CREATE TABLE ID_VALUES (KEY_NAME VARCHAR(50), LAST_VALUE INTEGER, OWNER_ID INTEGER NOT NULL)");
    purge();
    EXPECT_TRUE(ui.logLines().contains("Purge de la table MEDECINS effectuée."));
    EXPECT_EQ(ui.dialogTexts(RecordingUi::DialogKind::Warning).size(), 35 + 1); // DATAPRESCR too
}

TEST_P(PurgeTest, EmptiesThePrescriptionsTableLastWhenItIsNoWorkingTable)
{
    createFilledTable("ORDONNANCES");
    execute("INSERT INTO ID_VALUES (KEY_NAME, LAST_VALUE) VALUES ('ORDONNANCES', 12)");
    purge({"ORDONNANCES", QString(), true});

    const QStringList lines = ui.logLines();
    ASSERT_GE(lines.size(), 2);
    EXPECT_EQ(lines[lines.size() - 2], "Purge de la table ORDONNANCES effectuée.");
    EXPECT_EQ(test::countRows(*connection, "ORDONNANCES"), 0);
    EXPECT_EQ(counter("ORDONNANCES"), 0);
}

// The emptied LETTERS table named the files of the store: they are kept beside it, and the
// import writes a fresh store whose names no earlier letter takes.
TEST_P(PurgeTest, MovesTheLetterStoreAsideOnceLettersIsEmptied)
{
    writeLetter("LETTERS", "LET1.HED");
    writeLetter("LETTERS.avant 01-01-2026 10-00-00", "LET1.HED");

    EXPECT_TRUE(purge(withLetterStore()).letterStoreSetAside);

    const QStringList stores = storesBesideTheTarget();
    ASSERT_EQ(stores.size(), 2) << stores.join(", ").toStdString();
    const QString aside = stores.last();
    EXPECT_TRUE(QRegularExpression(R"(^LETTERS\.avant \d\d-\d\d-\d{4} \d\d-\d\d-\d\d$)").match(aside).hasMatch())
        << aside.toStdString();
    EXPECT_TRUE(QFile::exists(target.folder + aside + "/5/LET1.HED"));
    EXPECT_EQ(lineAfterLetters(), "Le dossier des courriers [" + target.folder + "LETTERS] a été déplacé en ["
                                      + target.folder + aside + "].");

    // Nothing to move the second time.
    EXPECT_FALSE(purge(withLetterStore()).letterStoreSetAside);
    EXPECT_EQ(lineAfterLetters(), "Purge de la table LETTERS_EMAILED effectuée.");
}

TEST_P(PurgeTest, AStoreSetAsideInTheSameSecondGetsANumber)
{
    setTextLocale(QLocale(QLocale::French, QLocale::France));
    const QDateTime now(QDate(2026, 12, 7), QTime(14, 15));
    EXPECT_EQ(letterStoreSetAsideName(target.folder, now), QString());
    writeLetter("LETTERS", "LET1.HED");
    EXPECT_EQ(letterStoreSetAsideName(target.folder, now), "LETTERS.avant 07-12-2026 14-15-00");
    writeLetter("LETTERS.avant 07-12-2026 14-15-00", "LET1.HED");
    writeLetter("LETTERS.avant 07-12-2026 14-15-00 (2)", "LET1.HED");
    EXPECT_EQ(letterStoreSetAsideName(target.folder, now), "LETTERS.avant 07-12-2026 14-15-00 (3)");
}

TEST_P(PurgeTest, ACheckOrALettersTableNotEmptiedLeavesTheStoreInPlace)
{
    writeLetter("LETTERS", "LET1.HED");
    EXPECT_TRUE(purge(withLetterStore(false)).letterStoreSetAside);
    EXPECT_TRUE(lineAfterLetters().startsWith("Le dossier des courriers [" + target.folder
                                              + "LETTERS] serait déplacé en [" + target.folder + "LETTERS.avant "))
        << lineAfterLetters().toStdString();
    EXPECT_EQ(storesBesideTheTarget(), QStringList{"LETTERS"});

    execute("DROP TABLE LETTERS");
    EXPECT_FALSE(purge(withLetterStore()).letterStoreSetAside);
    EXPECT_EQ(ui.logLines().filter("Le dossier des courriers").size(), 1);
    EXPECT_EQ(storesBesideTheTarget(), QStringList{"LETTERS"});
}

INSTANTIATE_TEST_SUITE_P(Engines, PurgeTest, test::testEngines(), test::engineTestName);

// SQLite lists tables named with any characters: an owner-qualified name is deleted under the
// name without its owner, another name legal on the engine is quoted, and a name holding a
// control character, which no quoting makes safe to show and to paste, is refused.
TEST(PurgeDiscoveredNames, QuotesTheNamesLegalOnTheEngineAndRefusesControlCharacters)
{
    test::ensureQtApplication();
    const test::TestTarget target = test::makeSqliteTarget();
    auto connection = test::connectTo(target);
    const QStringList quotedNames = {"\"dbo.DATA12\"", "\"DATA 1\"", "\"DATA$1\"", "\"DATA\"\"Q\"", "\"DATAÉ\"",
                                     "\"DATA\t1\""};
    for (const QString& name : quotedNames) {
        for (const QString& statement : {"CREATE TABLE " + name + " (N INTEGER)", "INSERT INTO " + name + " (N) VALUES (1)"}) {
            TargetStatement sql(*connection, {statement});
            sql.execute();
        }
    }
    RecordingUi ui;
    TargetStatement Qry1(*connection);
    IdAllocator ids(*connection, ui);
    PurgeTarget(*connection, Qry1, ids, ui);

    for (const char* purged : {"DATA 1", "DATA$1", "DATA\"Q", "DATAÉ"}) {
        EXPECT_TRUE(ui.logLines().contains(QStringLiteral("Purge de la table %1 effectuée.").arg(purged))) << purged;
    }
    for (const QString& name : quotedNames.mid(1, 4))
        EXPECT_EQ(test::countRows(*connection, name), 0) << name.toStdString();
    EXPECT_TRUE(ui.logLines().contains(
        "La table DATA\t1 n'a pas pu être vidée :ce nom de table ne peut pas être employé dans une requête."));
    EXPECT_EQ(test::countRows(*connection, "\"DATA\t1\""), 1);
    EXPECT_EQ(ui.logLines().filter(QRegularExpression("^La table DATA12 n'a pas pu être vidée :no such table")).size(), 1);
    EXPECT_EQ(test::countRows(*connection, "\"dbo.DATA12\""), 1);
    EXPECT_EQ(Qry1.sql(), QStringList{"DELETE FROM MEDECINS"});
}

TEST(PurgeDiscoveredNames, EachEngineQuotesInItsOwnWay)
{
    const struct {
        TargetEngine engine;
        QString name;
        std::optional<QString> inSql;
    } cases[] = {
        {TargetEngine::Sqlite, "DATA7", "DATA7"},
        {TargetEngine::Postgres, "DATA7", "DATA7"},
        {TargetEngine::SqlServer, "DATA_7", "DATA_7"},
        {TargetEngine::Sqlite, "DATA\"1", "\"DATA\"\"1\""},
        {TargetEngine::Postgres, "DATA$1", "\"data$1\""}, // an unquoted name folds to lower case
        {TargetEngine::SqlServer, "DATA#1", "[DATA#1]"},
        {TargetEngine::SqlServer, "DATA]É", "[DATA]]É]"},
        {TargetEngine::SqlServer, "DATA\t1", std::nullopt},
        {TargetEngine::Sqlite, "", std::nullopt},
    };
    for (const auto& c : cases)
        EXPECT_EQ(tableNameInSql(c.engine, c.name), c.inSql) << c.name.toStdString();
}

// A listing that fails reads as no table in the engine's driver: it must end the run instead,
// before a single table is emptied.
TEST(PurgeListing, AListingThatFailsEndsThePurgeBeforeAnyDeletion)
{
    P1_REQUIRE_POSTGRES();
    const test::TestTarget target = test::makePostgresTarget();
    auto connection = test::connectTo(target);
    for (const QString& statement : {QStringLiteral("CREATE TABLE DATA7 (N INTEGER)"),
                                     QStringLiteral("INSERT INTO DATA7 (N) VALUES (1)")}) {
        TargetStatement sql(*connection, {statement});
        sql.execute();
    }
    QSqlQuery backend(connection->database());
    ASSERT_TRUE(backend.exec("SELECT pg_backend_pid()") && backend.next());
    const QString pid = backend.value(0).toString();
    auto other = test::connectTo(target);
    QSqlQuery terminate(other->database());
    ASSERT_TRUE(terminate.exec("SELECT pg_terminate_backend(" + pid + ")"));
    for (int wait = 0; wait < 50; ++wait) {
        ASSERT_TRUE(terminate.exec("SELECT count(*) FROM pg_stat_activity WHERE pid = " + pid) && terminate.next());
        if (terminate.value(0).toInt() == 0)
            break;
        QThread::msleep(100);
    }

    RecordingUi ui;
    TargetStatement Qry1(*connection);
    IdAllocator ids(*connection, ui);
    EXPECT_THROW(PurgeTarget(*connection, Qry1, ids, ui), TargetError);
    EXPECT_TRUE(ui.logLines().isEmpty());
    EXPECT_EQ(test::countRows(*other, "DATA7"), 1);
}

} // namespace
} // namespace p1
