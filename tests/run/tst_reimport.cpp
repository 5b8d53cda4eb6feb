// Importing again onto a target already imported into, the purge ticked, as an operator does who
// tries an import, looks at it, then imports the practice for good: each import leaves exactly
// what a single import leaves, tables and letter store alike, and the earlier letter files are
// kept beside the store.

#include "tests/run/run_record.h"
#include "tests/support/qt_printers.h"

#include <gtest/gtest.h>

#include <QSet>

namespace p1 {
namespace {

class ReimportTest : public test::PracticeRunTest {
protected:
    void SetUp() override
    {
        PracticeRunTest::SetUp();
        if (HasFatalFailure() || IsSkipped())
            return;
        writePractice({.patients = 40, .lettersPerPatient = 2});
    }

    test::RunRecord importWithPurge(const test::TestTarget& target)
    {
        test::RunRecord record = test::recordRun(target, practice, CommitMode::Grouped, true);
        EXPECT_TRUE(record.ended) << record.escaped.toStdString();
        return record;
    }
};

QSet<qint64> integersOf(const test::TestTarget& target, const QString& table, const QString& column)
{
    QSet<qint64> values;
    for (const test::TableRow& row : test::readTable(*test::connectTo(target), table))
        values.insert(row.value(column).asInteger());
    return values;
}

TEST_P(ReimportTest, EachImportOfThePracticeLeavesWhatASingleImportLeaves)
{
    const test::TestTarget single = newTarget();
    const test::RunRecord once = importWithPurge(single);
    const test::TestTarget repeated = newTarget();
    QList<test::RunRecord> runs;
    for (int run = 0; run < 3; ++run)
        runs.append(importWithPurge(repeated));

    EXPECT_GT(once.content.value("DATAPRESCR").size(), 40);
    EXPECT_EQ(runs.last().content, once.content);
    EXPECT_GT(once.letterFiles.size(), 40);
    EXPECT_EQ(runs.last().letterFiles, once.letterFiles);
    EXPECT_TRUE(integersOf(repeated, "MOTCONSU", "MOTCONSU_ID")
                    .contains(integersOf(repeated, "DATAPRESCR", "MOTCONSU_ID")));

    // The first import found no store to move; each later one moved the one before aside.
    const QString setAside = "Le dossier des courriers [<cible>/LETTERS] a été déplacé en [<cible>/LETTERS.avant "
                             "<horodatage>].";
    EXPECT_FALSE(once.log.contains(setAside));
    for (int run = 1; run < 3; ++run) {
        QStringList log = runs[run].log;
        EXPECT_EQ(log.removeAll(setAside), 1);
        EXPECT_EQ(log, once.log);
    }
    EXPECT_EQ(QDir(repeated.folder).entryList({"LETTERS.avant *"}, QDir::Dirs).size(), 2);
}

INSTANTIATE_TEST_SUITE_P(Engines, ReimportTest, test::testEngines(), test::engineTestName);

} // namespace
} // namespace p1
