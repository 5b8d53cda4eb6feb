#include "common/ini_file.h"

#include <QFile>
#include <QTemporaryDir>

#include "tests/support/qt_printers.h"

#include <gtest/gtest.h>

namespace {

class IniFileTest : public ::testing::Test {
protected:
    QString write(const QByteArray& content)
    {
        const QString path = dir.filePath("EDITOR.INI");
        QFile file(path);
        EXPECT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(content);
        return path;
    }
    QTemporaryDir dir;
};

TEST_F(IniFileTest, KeysComeInFileOrderWithTheFirstOccurrenceWinning)
{
    const p1::IniFile ini(write("[DataBases]\r\nZeta=1\r\nalpha=Prescriptions\r\nMiddle = 2 \r\nALPHA=second\r\n"));
    EXPECT_EQ(ini.keys("DataBases"), QStringList({"Zeta", "alpha", "Middle"}));
    EXPECT_EQ(ini.value("DataBases", "Alpha"), "Prescriptions");
    EXPECT_EQ(ini.value("DataBases", "middle"), "2");
}

TEST_F(IniFileTest, SectionsAndKeysIgnoreCaseAndValuesKeepBackslashes)
{
    const p1::IniFile ini(write("; comment\n[dbkernel]\nDatabaseName = C:\\Bases\\new\\tessaris \n"
                                "ServerName=SRV\\SQLEXPRESS\nUserName=\"medic\"\nSAPW='\n[Other]\nServerName=wrong\n"));
    EXPECT_EQ(ini.value("DBKERNEL", "UserName"), "medic");
    EXPECT_EQ(ini.value("DBKERNEL", "SAPW"), "'");
    EXPECT_EQ(ini.value("DBKERNEL", "DATABASENAME"), "C:\\Bases\\new\\tessaris");
    EXPECT_EQ(ini.value("DBKernel", "servername"), "SRV\\SQLEXPRESS");
}

TEST_F(IniFileTest, DefaultsForMissingFileSectionOrKey)
{
    const p1::IniFile missing(dir.filePath("absent.ini"));
    EXPECT_TRUE(missing.keys("DataBases").isEmpty());
    EXPECT_EQ(missing.value("DBKERNEL", "UserName", "sa"), "sa");

    const p1::IniFile ini(write("[DBKERNEL]\nServerName=x\nnot a key line\n"));
    EXPECT_EQ(ini.value("DBKERNEL", "UserName", "sa"), "sa");
    EXPECT_EQ(ini.value("Absent", "ServerName", "d"), "d");
    EXPECT_EQ(ini.keys("DBKERNEL"), QStringList({"ServerName"}));
}

TEST_F(IniFileTest, OnlyTheFirstSectionOfANameCounts)
{
    const p1::IniFile ini(write("[DataBases]\nA=1\n[DATABASES]\nB=2\nA=3\n"));
    EXPECT_EQ(ini.keys("DataBases"), QStringList({"A"}));
    EXPECT_EQ(ini.value("DataBases", "A"), "1");
}

TEST_F(IniFileTest, WindowsSingleByteAndUtf8FilesBothReadRight)
{
    const p1::IniFile ansi(write("[DataBases]\nOrdonnances=Prescriptions r\xe9" "f\xe9rence \x80\n"));
    EXPECT_EQ(ansi.value("DataBases", "Ordonnances"), QString::fromUtf8("Prescriptions référence €"));
    const p1::IniFile utf8(write("\xef\xbb\xbf[DataBases]\nOrdonnances=r\xc3\xa9" "f\xc3\xa9rence\n"));
    EXPECT_EQ(utf8.value("DataBases", "Ordonnances"), QString::fromUtf8("référence"));
}

} // namespace
