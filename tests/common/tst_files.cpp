#include "common/errors.h"
#include "common/files.h"
#include "common/text_encoding.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include "tests/support/qt_printers.h"

#include <gtest/gtest.h>

namespace {

void touch(const QString& path, const QByteArray& content = "x")
{
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(content);
}

QByteArray readAll(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

TEST(Files, EnsureTrailingBackslashAddsOneSeparatorOnly)
{
    EXPECT_EQ(p1::EnsureTrailingBackslash("/data/courriers"), "/data/courriers/");
    EXPECT_EQ(p1::EnsureTrailingBackslash("/data/courriers/"), "/data/courriers/");
    EXPECT_EQ(p1::EnsureTrailingBackslash("/"), "/");
}

TEST(Files, DeleteFileIfExistsTellsWhetherTheFileIsGone)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("PDOXUSRS.LCK");
    EXPECT_TRUE(p1::DeleteFileIfExists(path));
    touch(path);
    EXPECT_TRUE(p1::DeleteFileIfExists(path));
    EXPECT_FALSE(QFile::exists(path));
    QDir(dir.path()).mkdir("PARADOX.LCK");
    EXPECT_FALSE(p1::DeleteFileIfExists(dir.filePath("PARADOX.LCK")));
}

TEST(Files, RenameNeverReplacesAnExistingFile)
{
    QTemporaryDir dir;
    touch(dir.filePath("a"), "first");
    touch(dir.filePath("b"), "second");
    EXPECT_FALSE(p1::renameFile(dir.filePath("a"), dir.filePath("b")));
    EXPECT_EQ(readAll(dir.filePath("b")), "second");
    EXPECT_TRUE(p1::renameFile(dir.filePath("a"), dir.filePath("c")));
    EXPECT_TRUE(p1::makeFolder(dir.filePath("x/y/z")));
    EXPECT_TRUE(p1::copyFile(dir.filePath("c"), dir.filePath("x/y/z/c")));
    EXPECT_EQ(readAll(dir.filePath("x/y/z/c")), "first");
}

TEST(Files, WindowsNamesMatchWithoutRegardToCase)
{
    QTemporaryDir dir;
    QDir(dir.path()).mkpath("Courriers/Patient12");
    touch(dir.filePath("Courriers/Patient12/Lettre Du 3.RTF"));
    const QString folder = p1::EnsureTrailingBackslash(dir.path());
    EXPECT_EQ(p1::resolveWindowsName(folder, "COURRIERS\\patient12\\lettre du 3.rtf"),
              folder + "Courriers/Patient12/Lettre Du 3.RTF");
    EXPECT_EQ(p1::resolveWindowsName(folder, "absent\\x.rtf"), folder + "absent/x.rtf");
    for (const char* outside : {"..\\..\\etc\\passwd", "Courriers\\..\\..\\x", "C:\\Temp\\x.rtf", ".\\x", ""})
        EXPECT_EQ(p1::resolveWindowsName(folder, outside), QString()) << outside;
}

TEST(Files, LogLinesAreWrittenInWindows1252WithCrLf)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("P1Import - 07-12-2026 14-15-00.log");
    touch(path, "old content that must go");
    p1::writeWindows1252Lines(path, {QString::fromUtf8("Purge effectuée."), QString::fromUtf8("Œuvre 5 € ’ 漢")});
    EXPECT_EQ(readAll(path), QByteArray("Purge effectu\xe9" "e.\r\n\x8c" "uvre 5 \x80 \x92 ?\r\n"));
    EXPECT_THROW(p1::writeWindows1252Lines(path + "/inside-a-file.log", {"x"}), p1::Error);
}

TEST(TextEncoding, Windows1252RoundTripsEveryDefinedByte)
{
    QByteArray all;
    for (int byte = 1; byte < 256; ++byte) {
        if (byte != 0x81 && byte != 0x8D && byte != 0x8F && byte != 0x90 && byte != 0x9D)
            all.append(static_cast<char>(byte));
    }
    EXPECT_EQ(p1::toWindows1252(p1::fromWindows1252(all)), all);
}

} // namespace
