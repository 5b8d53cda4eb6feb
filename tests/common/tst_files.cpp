#include "common/errors.h"
#include "common/file_writing.h"
#include "common/files.h"
#include "common/text_encoding.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include "tests/support/file_size_limit.h"
#include "tests/support/qt_printers.h"

#include <gtest/gtest.h>

namespace {

using p1::test::FileSizeLimit;

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

// Every byte value, nulls and line ends included, over the given size.
QByteArray letterBytes(int size)
{
    QByteArray bytes(size, Qt::Uninitialized);
    for (int i = 0; i < size; ++i)
        bytes[i] = static_cast<char>((i * 7 + i / 256) % 256);
    return bytes;
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

TEST(Files, FoldersAreMadeWithTheirParents)
{
    QTemporaryDir dir;
    touch(dir.filePath("c"), "first");
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
    // Windows ignores the blanks and dots that end a part of a path.
    EXPECT_EQ(p1::resolveWindowsName(folder, "Courriers \\Patient12.\\Lettre Du 3.RTF . "),
              folder + "Courriers/Patient12/Lettre Du 3.RTF");
    for (const char* nothing : {"Courriers\\ . \\x.rtf", "...", "Courriers\\ ..\\..\\x"})
        EXPECT_EQ(p1::resolveWindowsName(folder, nothing), QString()) << nothing;
    for (const char* outside : {"..\\..\\etc\\passwd", "Courriers\\..\\..\\x", "C:\\Temp\\x.rtf", ".\\x", ""})
        EXPECT_EQ(p1::resolveWindowsName(folder, outside), QString()) << outside;
}

TEST(Files, AFolderHoldsANameWhateverItsLetterCase)
{
    QTemporaryDir dir;
    touch(dir.filePath("let20.hed"));
    EXPECT_TRUE(p1::folderHoldsName(dir.path(), "LET20.HED"));
    EXPECT_TRUE(p1::folderHoldsName(dir.path(), "let20.hed"));
    EXPECT_FALSE(p1::folderHoldsName(dir.path(), "LET2.HED"));
    EXPECT_FALSE(p1::folderHoldsName(dir.filePath("absent"), "LET20.HED"));
}

TEST(Files, WindowsNamesThatWouldLeaveTheFolderAreRefused)
{
    QTemporaryDir dir;
    const QString folder = p1::EnsureTrailingBackslash(dir.path());
    for (const char* outside :
         {"\\etc\\passwd", "/etc/passwd", "\\\\serveur\\partage\\x.rtf", "C:x.rtf", "lettre.rtf:flux", "CON",
          "con.rtf", "Nul.RTF", "COM1.txt", "lpt9", "AUX .rtf", "sous\\prn.doc.rtf", "CONOUT$"})
        EXPECT_EQ(p1::resolveWindowsName(folder, outside), QString()) << outside;
    for (const char* inside : {"CONSULT.rtf", "COM10.rtf", "LPT.rtf", "nullite.rtf", "a..b.rtf", "sous\\con-1.rtf"})
        EXPECT_EQ(p1::resolveWindowsName(folder, inside), folder + QString(inside).replace('\\', '/')) << inside;
}

// Sizes around the 8192-byte buffer: empty, one buffer exactly, several with a remainder.
TEST(CopyFileAsNew, CopiesEveryByteAndTellsHowMany)
{
    QTemporaryDir dir;
    for (int size : {0, 1, 8191, 8192, 8193, 20000}) {
        const QString source = dir.filePath(QString("lettre%1.rtf").arg(size));
        touch(source, letterBytes(size));
        EXPECT_EQ(p1::copyFileAsNew(source, dir.filePath(QString("LET%1.HED").arg(size))), size);
        EXPECT_EQ(readAll(dir.filePath(QString("LET%1.HED").arg(size))), letterBytes(size)) << size;
    }
}

TEST(CopyFileAsNew, NeverReplacesAFileOrAFolderAlreadyThere)
{
    QTemporaryDir dir;
    const QString source = dir.filePath("lettre.rtf");
    touch(source, "new");
    touch(dir.filePath("LET1.HED"), "earlier letter");
    QDir(dir.path()).mkdir("LET2.HED");
    EXPECT_EQ(p1::copyFileAsNew(source, dir.filePath("LET1.HED")), std::nullopt);
    EXPECT_EQ(readAll(dir.filePath("LET1.HED")), "earlier letter");
    EXPECT_EQ(p1::copyFileAsNew(source, dir.filePath("LET2.HED")), std::nullopt);
    EXPECT_TRUE(QFileInfo(dir.filePath("LET2.HED")).isDir());
    // Taken wins over unreadable: the source is not opened then.
    EXPECT_EQ(p1::copyFileAsNew(dir.filePath("absent.rtf"), dir.filePath("LET1.HED")), std::nullopt);
}

// Made in order, each in its folder; after one that could not be made (a taken name, then a
// missing source) none is tried until the next settle.
TEST(FileCopiesAhead, MakesTheCopiesInOrderAndStopsAtTheFirstThatCannotBeMade)
{
    QTemporaryDir dir;
    const QString source = dir.filePath("lettre.rtf");
    touch(source, letterBytes(9000));
    const QString store = dir.filePath("LETTERS/");
    p1::FileCopiesAhead copies;
    ASSERT_TRUE(copies.add(source, store + "1/", store + "1/LET1.HED"));
    ASSERT_TRUE(copies.add(source, store + "2/", store + "2/LET2.HED"));
    const p1::FileCopiesAhead::Outcome made = copies.settle();
    EXPECT_EQ(made.made, QStringList({store + "1/LET1.HED", store + "2/LET2.HED"}));
    EXPECT_EQ(made.bytes, 18000);
    EXPECT_TRUE(made.allMade);
    EXPECT_EQ(readAll(store + "2/LET2.HED"), letterBytes(9000));

    for (const QString& unmade : {store + "1/LET1.HED", dir.filePath("absent.rtf")}) {
        SCOPED_TRACE(unmade.toStdString());
        const bool taken = unmade.endsWith(".HED");
        ASSERT_TRUE(copies.add(source, store + "3/", store + "3/LET3.HED"));
        ASSERT_TRUE(copies.add(taken ? source : unmade, store + "4/", taken ? unmade : store + "4/LET4.HED"));
        ASSERT_TRUE(copies.add(source, store + "5/", store + "5/LET5.HED"));
        const p1::FileCopiesAhead::Outcome stopped = copies.settle();
        EXPECT_EQ(stopped.made, QStringList{store + "3/LET3.HED"});
        EXPECT_FALSE(stopped.allMade);
        EXPECT_FALSE(QFile::exists(store + "4/LET4.HED"));
        EXPECT_FALSE(QFile::exists(store + "5/LET5.HED"));
        QFile::remove(store + "3/LET3.HED");
    }
    EXPECT_TRUE(copies.settle().allMade);
}

TEST(CopyFileAsNew, NamesTheFileItCouldNotOpenOrCreateAndLeavesNothing)
{
    QTemporaryDir dir;
    const QString source = dir.filePath("lettre.rtf");
    touch(source);
    try {
        p1::copyFileAsNew(dir.filePath("absent.rtf"), dir.filePath("LET1.HED"));
        ADD_FAILURE() << "no error";
    } catch (const p1::FileOpenError& error) {
        EXPECT_EQ(error.message(), "Impossible d'ouvrir le fichier " + dir.filePath("absent.rtf"));
    }
    EXPECT_FALSE(QFile::exists(dir.filePath("LET1.HED")));
    try {
        p1::copyFileAsNew(source, dir.filePath("LETTERS/12/LET1.HED"));
        ADD_FAILURE() << "no error";
    } catch (const p1::FileCreateError& error) {
        EXPECT_EQ(error.message(), "Impossible de créer le fichier " + dir.filePath("LETTERS/12/LET1.HED"));
    }
}

TEST(CopyFileAsNew, AWriteCutShortIsAnErrorAndLeavesNoTruncatedCopy)
{
    QTemporaryDir dir;
    const QString source = dir.filePath("lettre.rtf");
    touch(source, letterBytes(20000));
    {
        FileSizeLimit limit(10000);
        try {
            p1::copyFileAsNew(source, dir.filePath("copie.rtf"));
            ADD_FAILURE() << "no error";
        } catch (const p1::FileCopyError& error) {
            EXPECT_EQ(error.message(), "Impossible d'écrire le fichier " + dir.filePath("copie.rtf")
                                           + " : écriture incomplète");
        }
    }
    EXPECT_FALSE(QFile::exists(dir.filePath("copie.rtf")));
}

TEST(CopyFileAsNew, AReadErrorIsAnErrorAndLeavesNoCopy)
{
    QTemporaryDir dir;
    try {
        p1::copyFileAsNew("/proc/self/mem", dir.filePath("mem"));
        ADD_FAILURE() << "no error";
    } catch (const p1::FileCopyError& error) {
        EXPECT_TRUE(error.message().startsWith("Impossible de lire le fichier /proc/self/mem : ")) << error.what();
        EXPECT_FALSE(dynamic_cast<const p1::FileOpenError*>(&error));
    }
    EXPECT_FALSE(QFile::exists(dir.filePath("mem")));
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

QStringList entriesOf(const QString& folder)
{
    return QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
}

// A content short enough to wait in a buffer until the file is closed is checked as a long one.
TEST(WholeFiles, AWriteCutShortIsAnErrorAndLeavesTheFolderAsItWas)
{
    QTemporaryDir dir;
    const QString earlier = dir.filePath("rapport.html");
    touch(earlier, "earlier report");
    for (const int size : {200, 20000}) {
        SCOPED_TRACE(size);
        FileSizeLimit limit(100);
        try {
            p1::writeWholeFile(earlier, letterBytes(size));
            ADD_FAILURE() << "no error";
        } catch (const p1::FileWriteError& error) {
            EXPECT_EQ(error.message(), "Impossible d'écrire le fichier " + earlier + " : " + error.reason());
            EXPECT_FALSE(error.reason().isEmpty());
        }
        EXPECT_THROW(p1::writeNewFilesUnderOneName(p1::EnsureTrailingBackslash(dir.path()), "P1Import",
                                                   {{".log", "short"}, {".html", letterBytes(size)}}),
                     p1::FileWriteError);
        EXPECT_EQ(readAll(earlier), "earlier report");
        EXPECT_EQ(entriesOf(dir.path()), QStringList{"rapport.html"});
    }
}

// A name is taken whichever file of the set holds it, a folder included.
TEST(WholeFiles, FilesWrittenTogetherTakeTheFirstNameFreeForAllOfThem)
{
    QTemporaryDir dir;
    const QString folder = p1::EnsureTrailingBackslash(dir.path());
    touch(folder + "P1Import.log", "earlier log");
    touch(folder + "P1Import (2).html", "earlier report");
    QDir(folder).mkdir("P1Import (3).log");

    EXPECT_EQ(p1::writeNewFilesUnderOneName(folder, "P1Import", {{".log", "log"}, {".html", "report"}}),
              "P1Import (4)");
    EXPECT_EQ(p1::writeNewFilesUnderOneName(folder, "P1Import", {{".html", "alone"}}), "P1Import");

    EXPECT_EQ(readAll(folder + "P1Import.log"), "earlier log");
    EXPECT_EQ(readAll(folder + "P1Import (2).html"), "earlier report");
    EXPECT_EQ(readAll(folder + "P1Import (4).log"), "log");
    EXPECT_EQ(readAll(folder + "P1Import (4).html"), "report");
    EXPECT_EQ(readAll(folder + "P1Import.html"), "alone");
    EXPECT_EQ(entriesOf(folder).size(), 6);
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
