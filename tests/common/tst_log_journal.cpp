// The run's journal: its log lines on the disk as the run goes, in the log file's own form.
#include "common/file_writing.h"
#include "common/log_journal.h"
#include "tests/support/file_size_limit.h"
#include "tests/support/qt_printers.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

namespace p1 {
namespace {

QByteArray readBytes(const QString& path)
{
    QFile file(path);
    EXPECT_TRUE(file.open(QIODevice::ReadOnly)) << path.toStdString();
    return file.readAll();
}

class LogJournalTest : public ::testing::Test {
protected:
    QStringList entries() const
    {
        return QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot, QDir::Name);
    }

    QTemporaryDir temporary;
    QString folder = temporary.path() + '/';
};

TEST_F(LogJournalTest, AppendsTheLinesNotKeptYetInTheLogFilesOwnForm)
{
    LogJournal journal(folder, "P1Import - 09-12-2026 10-00-00");
    ASSERT_TRUE(journal.kept());
    EXPECT_EQ(journal.path(), folder + "P1Import - 09-12-2026 10-00-00.log.en-cours");
    EXPECT_EQ(readBytes(journal.path()), QByteArray());

    QStringList lines{"Purge des données terminée.", "3 utilisateurs créés"};
    journal.keep(lines);
    journal.keep(lines); // nothing new
    lines << "Traitement interrompu : l'arrêt a été demandé.";
    journal.keep(lines);

    EXPECT_EQ(readBytes(journal.path()), windows1252Lines(lines));
    journal.remove();
    EXPECT_FALSE(journal.kept());
    EXPECT_EQ(entries(), QStringList());
}

TEST_F(LogJournalTest, ANameTakenGetsANumberAndNoJournalIsReplaced)
{
    LogJournal first(folder, "P1Import - 09-12-2026 10-00-00");
    LogJournal second(folder, "P1Import - 09-12-2026 10-00-00");
    first.keep({"premier"});
    second.keep({"second"});

    EXPECT_EQ(second.path(), folder + "P1Import - 09-12-2026 10-00-00 (2).log.en-cours");
    EXPECT_EQ(readBytes(first.path()), "premier\r\n");
    EXPECT_EQ(readBytes(second.path()), "second\r\n");
}

// A program running holds its journal; one whose program ended, however it ended, holds none.
TEST_F(LogJournalTest, OnlyTheJournalsNoRunningProgramHoldsAreLeftOnes)
{
    {
        LogJournal ended(folder, "P1Import - 09-12-2026 09-00-00");
        ended.keep({"une ligne"});
    }
    LogJournal running(folder, "P1Import - 09-12-2026 10-00-00");
    QFile other(folder + "P1Import - 09-12-2026 08-00-00.log");
    ASSERT_TRUE(other.open(QIODevice::WriteOnly));
    other.close();

    EXPECT_EQ(journalsLeftIn(folder), QStringList({folder + "P1Import - 09-12-2026 09-00-00.log.en-cours"}));
    running.remove();
    EXPECT_EQ(journalsLeftIn(folder).size(), 1);
}

// The journal holds every line up to the last commit, or it is not there.
TEST_F(LogJournalTest, AJournalThatCannotBeAppendedIsRemovedAndGivenUp)
{
    LogJournal journal(folder, "P1Import - 09-12-2026 10-00-00");
    journal.keep({"avant"});
    {
        const test::FileSizeLimit limit(64);
        journal.keep({"avant", QString(200, u'x')});
    }
    EXPECT_FALSE(journal.kept());
    EXPECT_EQ(entries(), QStringList());
    journal.keep({"avant", QString(200, u'x'), "après"});
    EXPECT_EQ(entries(), QStringList());
}

TEST_F(LogJournalTest, AJournalThatCannotBeCreatedIsGivenUpAtOnce)
{
    // A folder below a regular file cannot exist, even for root.
    QFile file(folder + "fichier");
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.close();

    LogJournal journal(folder + "fichier/", "P1Import - 09-12-2026 10-00-00");
    journal.keep({"une ligne"});

    EXPECT_FALSE(journal.kept());
    EXPECT_EQ(entries(), QStringList({"fichier"}));
}

} // namespace
} // namespace p1
