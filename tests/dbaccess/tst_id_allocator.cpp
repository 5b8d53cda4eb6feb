#include "dbaccess/id_allocator.h"
#include "common/errors.h"
#include "tests/support/recording_ui.h"
#include "tests/support/target_databases.h"

#include <gtest/gtest.h>

namespace p1 {
namespace {

using Kind = RecordingUi::DialogKind;

class IdAllocatorTest : public test::TargetEngineTest {
protected:
    void execute(const QString& statement)
    {
        TargetStatement sql(*connection, {statement});
        sql.execute();
    }

    void store(const QString& key, qint64 value)
    {
        execute("INSERT INTO ID_VALUES (KEY_NAME, LAST_VALUE) VALUES ('" + key + "', " + QString::number(value) + ")");
    }

    // The rows of the key, in no particular order.
    QList<qint64> stored(const QString& key)
    {
        QList<qint64> values;
        for (const auto& row : test::readTable(*connection, "ID_VALUES", "LAST_VALUE"))
            if (row["KEY_NAME"].asText() == key)
                values.append(row["LAST_VALUE"].asInteger());
        return values;
    }

    void recreateIdValues(const QString& columns)
    {
        execute("DROP TABLE ID_VALUES");
        execute("CREATE TABLE ID_VALUES (" + columns + ")");
    }

    RecordingUi ui;
};

TEST_P(IdAllocatorTest, ReadingAMissingKeyCreatesItWithZero)
{
    IdAllocator ids(*connection, ui);
    store("MOTCONSU", 17);
    EXPECT_EQ(ids.ReadLastValue("LETTERS"), 0);
    EXPECT_EQ(stored("LETTERS"), QList<qint64>{0});
    EXPECT_EQ(ids.ReadLastValue("MOTCONSU"), 17);
    EXPECT_EQ(ids.ReadLastValue("LETTERS"), 0);
    EXPECT_EQ(stored("LETTERS"), QList<qint64>{0}); // created once
    EXPECT_TRUE(ui.dialogs().isEmpty());
}

TEST_P(IdAllocatorTest, RaisingNeverLowersUnlessForced)
{
    const struct {
        qint64 storedValue;
        qint64 value;
        bool force;
        qint64 expected;
    } cases[] = {
        {12, 12, false, 12}, {11, 12, false, 12}, {40, 12, false, 40},
        {57, 0, true, 0},    {5, 5, true, 5},     {-3, 0, false, 0},
    };
    IdAllocator ids(*connection, ui);
    for (const auto& c : cases) {
        execute("DELETE FROM ID_VALUES");
        store("MEDTRAIT", c.storedValue);
        ids.forgetValues();
        ids.RaiseLastValue("MEDTRAIT", c.value, c.force);
        EXPECT_EQ(stored("MEDTRAIT"), QList<qint64>{c.expected}) << c.storedValue << " -> " << c.value;
    }
    EXPECT_TRUE(ui.dialogs().isEmpty());
}

TEST_P(IdAllocatorTest, RaisingAMissingKeyCreatesItFirst)
{
    IdAllocator ids(*connection, ui);
    ids.RaiseLastValue("PATIENTS", 9);
    ids.RaiseLastValue("ANTECED", 0);
    ids.RaiseLastValue("PATMEDTR", 0, true);
    EXPECT_EQ(stored("PATIENTS"), QList<qint64>{9});
    EXPECT_EQ(stored("ANTECED"), QList<qint64>{0});
    EXPECT_EQ(stored("PATMEDTR"), QList<qint64>{0});
}

TEST_P(IdAllocatorTest, ADuplicatedKeyReadsAsItsHighestValueAndGetsNoMoreRows)
{
    IdAllocator ids(*connection, ui);
    store("LETTERS", 4);
    store("LETTERS", 8);
    EXPECT_EQ(ids.ReadLastValue("LETTERS"), 8);
    EXPECT_EQ(stored("LETTERS"), (QList<qint64>{4, 8}));
    ids.RaiseLastValue("LETTERS", 6);
    EXPECT_EQ(stored("LETTERS"), (QList<qint64>{4, 8}));
    ids.RaiseLastValue("LETTERS", 12);
    EXPECT_EQ(stored("LETTERS"), (QList<qint64>{12, 12}));
}

// Within a run step the allocator answers from what it read or stored; another writer's change
// before the next step must not be raised over with a stale value.
TEST_P(IdAllocatorTest, ACounterChangedBetweenRunStepsIsReadAgain)
{
    IdAllocator ids(*connection, ui);
    store("LETTERS", 4);
    EXPECT_EQ(ids.ReadLastValue("LETTERS"), 4);
    ids.RaiseLastValue("LETTERS", 7);
    EXPECT_EQ(ids.ReadLastValue("LETTERS"), 7);
    execute("UPDATE ID_VALUES SET LAST_VALUE = 30 WHERE KEY_NAME = 'LETTERS'");
    ids.forgetValues();
    EXPECT_EQ(ids.ReadLastValue("LETTERS"), 30);
    ids.RaiseLastValue("LETTERS", 20);
    EXPECT_EQ(stored("LETTERS"), QList<qint64>{30});
}

// While rows go ahead, a raise is written with the group just before its commit, once however
// often it was raised; a forced one (the purge) is written at once.
TEST_P(IdAllocatorTest, RaisesWhileRowsGoAheadAreWrittenWithTheGroupsCommit)
{
    IdAllocator ids(*connection, ui);
    store("MOTCONSU", 10);
    connection->setCommitMode(CommitMode::Grouped);
    connection->setRowsAhead(true);
    ASSERT_EQ(connection->sendsRowsAhead(), connection->rowsAheadPossible());
    ids.RaiseLastValue("MOTCONSU", 11);
    ids.RaiseLastValue("MOTCONSU", 12);
    ids.RaiseLastValue("PATIENTS", 3, true);
    EXPECT_EQ(ids.ReadLastValue("MOTCONSU"), 12);
    if (connection->sendsRowsAhead()) {
        EXPECT_EQ(stored("MOTCONSU"), QList<qint64>{10});
    }
    ASSERT_TRUE(connection->commitGroup());
    connection->setRowsAhead(false);
    connection->setCommitMode(CommitMode::EachRow);
    EXPECT_EQ(stored("MOTCONSU"), QList<qint64>{12});
    EXPECT_EQ(stored("PATIENTS"), QList<qint64>{3});
    EXPECT_TRUE(ui.dialogs().isEmpty());
}

// A stage's counter is kept at or above the numbers it gave, never lowered, without a word when
// the target refuses it; what the allocator remembers does not change.
TEST_P(IdAllocatorTest, KeepingACounterAtLeastAValueNeverLowersItAndSaysNothing)
{
    IdAllocator ids(*connection, ui);
    store("ANTECED", 10);
    EXPECT_EQ(ids.ReadLastValue("ANTECED"), 10);
    ids.keepAtLeast("ANTECED", 15);
    EXPECT_EQ(stored("ANTECED"), QList<qint64>{15});
    ids.keepAtLeast("ANTECED", 12);
    EXPECT_EQ(stored("ANTECED"), QList<qint64>{15});
    EXPECT_EQ(ids.ReadLastValue("ANTECED"), 10);
    recreateIdValues("KEY_NAME VARCHAR(30), LAST_VALUE INTEGER CHECK (LAST_VALUE < 20)");
    store("ANTECED", 10);
    ids.keepAtLeast("ANTECED", 25);
    EXPECT_EQ(stored("ANTECED"), QList<qint64>{10});
    EXPECT_TRUE(ui.dialogs().isEmpty());
}

TEST_P(IdAllocatorTest, AFailedInsertWarnsWithTheStatementAndReadsAsZero)
{
    recreateIdValues("KEY_NAME VARCHAR(50), LAST_VALUE INTEGER, OWNER_ID INTEGER NOT NULL");
    IdAllocator ids(*connection, ui);
    EXPECT_EQ(ids.ReadLastValue("LETTERS"), 0);
    EXPECT_EQ(ui.dialogs(), QList<RecordingUi::Dialog>({{Kind::Warning,
                                                         "La requête INSERT INTO ID_VALUES values (:chaine, 0)\r\n"
                                                         " avec le paramètre chaine=LETTERS a échoué."}}));
}

TEST_P(IdAllocatorTest, AFailedUpdateWarnsAndKeepsTheStoredValue)
{
    recreateIdValues("KEY_NAME VARCHAR(50), LAST_VALUE INTEGER CHECK (LAST_VALUE < 1000)");
    store("MOTCONSU", 3);
    IdAllocator ids(*connection, ui);
    ids.RaiseLastValue("MOTCONSU", 5000);
    EXPECT_EQ(ui.dialogs(),
              QList<RecordingUi::Dialog>(
                  {{Kind::Warning, "La requête UPDATE ID_VALUES SET LAST_VALUE = :last_value WHERE KEY_NAME = :key_name\r\n"
                                   " avec les paramètres key_name=MOTCONSU et last_value=5000 a échoué."}}));
    EXPECT_EQ(stored("MOTCONSU"), QList<qint64>{3});
    ids.RaiseLastValue("MOTCONSU", 6); // the allocator is usable afterwards
    EXPECT_EQ(stored("MOTCONSU"), QList<qint64>{6});
}

TEST_P(IdAllocatorTest, AnUnreadableCounterTableReachesTheCaller)
{
    execute("DROP TABLE ID_VALUES");
    IdAllocator ids(*connection, ui);
    EXPECT_THROW(ids.ReadLastValue("PATIENTS"), TargetError);
    EXPECT_THROW(ids.RaiseLastValue("PATIENTS", 3), TargetError);
    EXPECT_TRUE(ui.dialogs().isEmpty());
}

INSTANTIATE_TEST_SUITE_P(Engines, IdAllocatorTest, test::testEngines(), test::engineTestName);

} // namespace
} // namespace p1
