#include "stages/letters_stage.h"

#include "common/date_time.h"
#include "common/files.h"
#include "tests/stages/stage_test_context.h"

#include <QFile>

#include <sys/stat.h>

namespace p1::test {
namespace {

QByteArray letterBytes(int size, char seed)
{
    QByteArray bytes(size, Qt::Uninitialized);
    for (int i = 0; i < size; ++i)
        bytes[i] = static_cast<char>(seed + i * 7 + i / 251);
    return bytes;
}

void writeFile(const QString& path, const QByteArray& content)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly)) << qPrintable(path);
    file.write(content);
}

QByteArray readFile(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<absent>");
}

class LettersStageTest : public StageTest<importLetters> {
protected:
    // [COU COURRIER GENERE]: CODE COURRIER GENERE, CODE PATIENT, DATE, LIBELLE, NOM FICHIER.
    jet::TableBuilder& letters(SourceFiles& source) { return sample::letterTable(source.v4()); }

    // The stage with the letters folder the operator would have chosen instead of the source's.
    QStringList importWithLettersFolder(const SourceFiles& source, const QString& lettersFolder)
    {
        source.write();
        run = std::make_unique<StageRunContext>(source, *connection, target.folder);
        run->context.sourceLettersFolder = lettersFolder;
        counts = importLetters(run->context);
        return withoutStamps(run->ui.logLines());
    }

    QString patientFolder(qint64 patient) const
    {
        return target.folder + "LETTERS/" + QString::number(patient) + '/';
    }
    QStringList storedFiles(qint64 patient) const
    {
        return QDir(patientFolder(patient)).entryList(QDir::Files | QDir::System, QDir::Name);
    }
    QByteArray storedFile(qint64 patient, const QString& name) const
    {
        return readFile(patientFolder(patient) + name);
    }
};

TEST_P(LettersStageTest, StoresEachLetterWithItsFileUnderTheTargetName)
{
    setLastValue(*connection, "LETTERS", 40);
    SourceFiles source;
    const QString folder = source.lettersFolder();
    writeFile(folder + "lettre1.rtf", letterBytes(300, 'a'));
    writeFile(folder + "cr/COMPTE RENDU 2.RTF", letterBytes(9000, 'b'));
    writeFile(folder + "Scan.DOC.rtf", letterBytes(50, 'c'));
    writeFile(folder + "scan.doc", "not the letter");
    writeFile(patientFolder(12) + "LET46.HED", "earlier letter");
    writeFile(patientFolder(12) + "lettre1.rtf", "not the stage's");
    // A file of the patient's folder bearing a letter's source name is no stopover for its copy.
    writeFile(patientFolder(7) + "lettre1.rtf", "the patient's own");
    const QDateTime morning = wallClock(QDate(2026, 3, 2), QTime(10, 15));
    letters(source)
        .row({qint64(101), qint64(7), morning, text("Lettre à Dr Petit "), text("lettre1.rtf")})
        .row({qint64(102), qint64(7), morning, text("Compte rendu"), text("CR\\Compte Rendu 2")})
        .row({qint64(103), qint64(7), wallClock(QDate(2026, 3, 5)), text("Absent"), text("perdu")})
        .row({qint64(104), qint64(9), wallClock(QDate(2026, 4, 1), QTime(8, 0)), text("Scan"), text("scan.doc")})
        .row({qint64(105), qint64(9), wallClock(QDate(2026, 4, 2)), text("Copie"), text("LETTRE1.RTF")})
        .row({qint64(106), qint64(12), wallClock(QDate(2026, 5, 1)), text("Déjà là"), text("lettre1.rtf")})
        .row({qint64(107), qint64(0), morning, text("Zéro"), text("lettre1.rtf")})
        .row({qint64(108), std::monostate(), morning, text("Vide"), text("lettre1.rtf")})
        .row({qint64(109), qint64(-3), morning, text("Négatif"), text("lettre1.rtf")});

    EXPECT_EQ(importFrom(source),
              QStringList({" : courrier n°103 [perdu] [Absent] du patient n°7 daté du 05/03/2026 inexistant.",
                           " : échec d'importation du courrier n°106 [lettre1.rtf] [Déjà là] du patient n°12 daté "
                           "du 01/05/2026",
                           "4 courriers créés"}));

    const QList<TableRow> rows = readTable(*connection, "LETTERS", "LETTERS_ID");
    ASSERT_EQ(rows.size(), 4);
    const QList<std::tuple<qint64, qint64, QDateTime, QString>> expected{
        {41, 7, morning, "Lettre à Dr Petit "},
        {42, 7, morning, "Compte rendu"},
        {44, 9, wallClock(QDate(2026, 4, 1), QTime(8, 0)), "Scan"},
        {45, 9, wallClock(QDate(2026, 4, 2)), "Copie"},
    };
    for (qsizetype i = 0; i < rows.size(); ++i) {
        const auto& [id, patient, date, description] = expected[i];
        EXPECT_EQ(rows[i]["LETTERS_ID"].asInteger(), id);
        EXPECT_EQ(rows[i]["PATIENTS_ID"].asInteger(), patient);
        EXPECT_EQ(rows[i]["DATE_CONSULTATION"].asDateTime(), date);
        EXPECT_EQ(rows[i]["DESCRIPTION"].asText(), description);
        EXPECT_EQ(rows[i]["FILENAME"].asText(), QString("LET%1.HED").arg(id));
    }
    EXPECT_EQ(storedFiles(7), QStringList({"LET41.HED", "LET42.HED", "lettre1.rtf"}));
    EXPECT_EQ(storedFile(7, "lettre1.rtf"), "the patient's own");
    EXPECT_EQ(storedFile(7, "LET41.HED"), letterBytes(300, 'a'));
    EXPECT_EQ(storedFile(7, "LET42.HED"), letterBytes(9000, 'b'));
    EXPECT_EQ(storedFiles(9), QStringList({"LET44.HED", "LET45.HED"}));
    EXPECT_EQ(storedFile(9, "LET44.HED"), letterBytes(50, 'c'));
    EXPECT_EQ(storedFile(9, "LET45.HED"), letterBytes(300, 'a'));
    EXPECT_EQ(storedFiles(12), QStringList({"LET46.HED", "lettre1.rtf"}));
    EXPECT_EQ(storedFile(12, "LET46.HED"), "earlier letter");
    EXPECT_EQ(storedFile(12, "lettre1.rtf"), "not the stage's");

    EXPECT_EQ(lastValueOf(*connection, "LETTERS"), 46);
    EXPECT_EQ(counts.read, 9);
    EXPECT_EQ(counts.skipped, 3);
    EXPECT_EQ(counts.refused, 2);
    EXPECT_EQ(run->ui.progressMaximum(), 9);
    EXPECT_TRUE(run->ui.statusHistory().contains(
        "Courrier n°101 [Lettre à Dr Petit ] du patient n°7 daté du 02/03/2026 10:15:00 importé"));
}

// A check finds out what the stage would do with each file, logs it as a run would, and copies none.
TEST_P(LettersStageTest, ACheckCountsWhatItWouldCopyAndCopiesNothing)
{
    setLastValue(*connection, "LETTERS", 40);
    SourceFiles source;
    writeFile(source.lettersFolder() + "lettre1.rtf", letterBytes(300, 'a'));
    writeFile(source.lettersFolder() + "cr/COMPTE RENDU 2.RTF", letterBytes(9000, 'b'));
    writeFile(patientFolder(12) + "LET43.HED", "earlier letter");
    const QDateTime morning = wallClock(QDate(2026, 3, 2), QTime(10, 15));
    letters(source)
        .row({qint64(101), qint64(7), morning, text("Lettre"), text("lettre1.rtf")})
        .row({qint64(102), qint64(7), morning, text("Compte rendu"), text("CR\\Compte Rendu 2")})
        .row({qint64(103), qint64(12), morning, text("Déjà là"), text("lettre1.rtf")})
        .row({qint64(104), qint64(12), morning, text("Absent"), text("perdu")});
    source.write();
    run = std::make_unique<StageRunContext>(source, *connection, target.folder);
    LetterCounts files;
    run->context.lettersOfTheRun = &files;
    run->context.letterFiles = LetterFiles::Checked;
    counts = importLetters(run->context);

    EXPECT_EQ(withoutStamps(run->ui.logLines()),
              QStringList({" : échec d'importation du courrier n°103 [lettre1.rtf] [Déjà là] du patient n°12 daté "
                           "du 02/03/2026 10:15:00",
                           " : courrier n°104 [perdu] [Absent] du patient n°12 daté du 02/03/2026 10:15:00 inexistant.",
                           "2 courriers créés"}));
    EXPECT_EQ(files.filesCopied, 2);
    EXPECT_EQ(files.bytesCopied, 9300);
    EXPECT_EQ(files.filesMissing, 1);
    EXPECT_FALSE(QDir(patientFolder(7)).exists());
    EXPECT_EQ(storedFiles(12), QStringList({"LET43.HED"}));
}

TEST_P(LettersStageTest, AppendsRtfOnlyWhenTheWholePathLacksIt)
{
    struct Case {
        const char* lettersFolder; // under the source folder
        const char* fileName;      // NOM FICHIER
        const char* onDisk;        // the only letter file, under the letters folder
        bool found;
    };
    const QList<Case> cases{
        {"Courriers/", "lettre12", "lettre12.RTF", true},
        {"Courriers/", "lettre12", "lettre12", false},
        {"Courriers/", "lettre12.Rtf", "lettre12.Rtf", true},
        {"Courriers/", "lettre12.doc", "lettre12.doc", false},
        {"Courriers/", "lettre12.doc", "lettre12.doc.RTF", true},
        {"Courriers/", "lettre.rtf.bak", "lettre.rtf.bak", true},
        {"Archives.Rtf.d/", "lettre12", "lettre12", true},
        {"archives.rtf/", "lettre12.doc", "lettre12.doc", true},
    };
    qint64 patient = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.lettersFolder) + c.fileName);
        ++patient;
        SourceFiles source;
        const QString folder = source.folder() + c.lettersFolder;
        writeFile(folder + c.onDisk, c.onDisk);
        letters(source).row({patient, patient, wallClock(QDate(2026, 1, 2)), text("L"), QString(c.fileName)});

        const QStringList log = importWithLettersFolder(source, folder);

        EXPECT_EQ(log.last(), c.found ? "1 courrier créé" : "0 courrier créé");
        EXPECT_EQ(storedFile(patient, QString("LET%1.HED").arg(patient)), c.found ? c.onDisk : "<absent>");
    }
}

TEST_P(LettersStageTest, ANameThatWouldLeaveTheLettersFolderIsNeverRead)
{
    SourceFiles source;
    const QString secret = source.folder() + "secret.rtf";
    writeFile(secret, "not a letter of the practice");
    writeFile(source.lettersFolder() + "C:/secret.rtf", "hidden under a drive name");
    writeFile(source.lettersFolder() + "nul.rtf", "a device on Windows");
    // The full list of refused names is in the file helpers' tests.
    const QStringList names{"..\\secret.rtf", QString(secret).replace('/', '\\'), secret, "C:\\secret.rtf", "NUL"};
    jet::TableBuilder& table = letters(source);
    for (qsizetype i = 0; i < names.size(); ++i)
        table.row({qint64(i + 1), qint64(5), wallClock(QDate(2026, 1, 2)), text("L"), names[i]});

    const QStringList log = importFrom(source);

    ASSERT_EQ(log.size(), names.size() + 1);
    for (qsizetype i = 0; i < names.size(); ++i)
        EXPECT_EQ(log[i], QString(" : courrier n°%1 [%2] [L] du patient n°5 daté du 02/01/2026 inexistant.")
                              .arg(i + 1)
                              .arg(names[i]));
    EXPECT_EQ(log.last(), "0 courrier créé");
    EXPECT_FALSE(QFileInfo::exists(target.folder + "LETTERS"));
    EXPECT_EQ(lastValueOf(*connection, "LETTERS"), names.size());
}

// Only a regular file of the letters folder is a letter: a link out of the folder (to a system
// file, or a subfolder that is one), a pipe (which would hold the run for ever), a device or a folder is logged as missing.
// A link that stays inside the folder is followed, and every copy gets the store's own mode.
TEST_P(LettersStageTest, OnlyARegularFileInsideTheLettersFolderIsCopied)
{
    SourceFiles source;
    const QString folder = source.lettersFolder();
    writeFile(source.folder() + "dehors.rtf", "not a letter of the practice");
    writeFile(folder + "vrai.rtf", "the letter");
    ASSERT_TRUE(QFile::setPermissions(folder + "vrai.rtf", QFile::ReadOwner));
    ASSERT_TRUE(QFile::link(source.folder() + "dehors.rtf", folder + "lien.rtf"));
    ASSERT_TRUE(QFile::link("/proc/self/mem", folder + "memoire.rtf"));
    ASSERT_TRUE(QFile::link(folder + "vrai.rtf", folder + "alias.rtf"));
    ASSERT_EQ(::mkfifo(QFile::encodeName(folder + "tube.rtf").constData(), 0644), 0);
    ASSERT_TRUE(QFile::link("/dev/zero", folder + "zero.rtf"));
    ASSERT_TRUE(QDir().mkpath(folder + "dossier.rtf"));
    ASSERT_TRUE(QFile::link(source.folder(), folder + "ailleurs"));
    const QStringList refused{"lien.rtf", "memoire.rtf", "tube.rtf", "zero.rtf", "dossier.rtf", "ailleurs\\dehors.rtf"};
    jet::TableBuilder& table = letters(source);
    for (qsizetype i = 0; i < refused.size(); ++i)
        table.row({qint64(i + 1), qint64(5), wallClock(QDate(2026, 1, 2)), text("L"), refused[i]});
    table.row({qint64(9), qint64(5), wallClock(QDate(2026, 1, 2)), text("L"), text("alias.rtf")});

    const QStringList log = importFrom(source);

    ASSERT_EQ(log.size(), refused.size() + 1);
    for (qsizetype i = 0; i < refused.size(); ++i)
        EXPECT_EQ(log[i], QString(" : courrier n°%1 [%2] [L] du patient n°5 daté du 02/01/2026 inexistant.")
                              .arg(i + 1)
                              .arg(refused[i]));
    EXPECT_EQ(log.last(), "1 courrier créé");
    EXPECT_EQ(storedFiles(5), QStringList{"LET7.HED"});
    EXPECT_EQ(storedFile(5, "LET7.HED"), "the letter");
    const mode_t mask = ::umask(0);
    ::umask(mask);
    struct stat status {};
    ASSERT_EQ(::stat(QFile::encodeName(patientFolder(5) + "LET7.HED").constData(), &status), 0);
    EXPECT_EQ(status.st_mode & 0777, 0666 & ~mask);
}

// The store lives on Windows: a file of the new name in other letters blocks it, and the letter
// named with a blank at its end is found, as Windows finds it.
TEST_P(LettersStageTest, NamesAreMatchedAsWindowsMatchesThem)
{
    SourceFiles source;
    writeFile(source.lettersFolder() + "lettre1.rtf", "the letter");
    writeFile(patientFolder(4) + "let1.hed", "an earlier letter");
    letters(source)
        .row({qint64(31), qint64(4), wallClock(QDate(2026, 1, 2)), text("Pris"), text("lettre1.rtf")})
        .row({qint64(32), qint64(4), wallClock(QDate(2026, 1, 3)), text("Blanc"), text("lettre1.rtf ")});

    const QStringList log = importFrom(source);

    ASSERT_EQ(log.size(), 2);
    EXPECT_EQ(log[0], " : échec d'importation du courrier n°31 [lettre1.rtf] [Pris] du patient n°4 daté du 02/01/2026");
    EXPECT_EQ(log[1], "1 courrier créé");
    EXPECT_EQ(storedFiles(4), QStringList({"LET2.HED", "let1.hed"}));
    EXPECT_EQ(storedFile(4, "let1.hed"), "an earlier letter");
    EXPECT_EQ(storedFile(4, "LET2.HED"), "the letter");
}

TEST_P(LettersStageTest, ARowTheTargetRefusesKeepsItsFileAndTheStageGoesOn)
{
    insertRow(*connection, "LETTERS", {{"LETTERS_ID", 1}, {"Description", "already there"}});
    SourceFiles source;
    writeFile(source.lettersFolder() + "a.rtf", "A");
    letters(source)
        .row({qint64(31), qint64(4), wallClock(QDate(2026, 1, 2)), text("Refusé"), text("a.rtf")})
        .row({qint64(32), qint64(4), wallClock(QDate(2026, 1, 3)), text("Suivant"), text("a.rtf")});

    const QStringList log = importFrom(source);

    ASSERT_EQ(log.size(), 3);
    EXPECT_EQ(log[0], " : importation du courrier n°31 [Refusé] du patient n°4 daté du 02/01/2026");
    EXPECT_TRUE(log[1].startsWith("   ERREUR : "));
    EXPECT_EQ(log[2], "1 courrier créé");
    EXPECT_EQ(storedFiles(4), QStringList({"LET1.HED", "LET2.HED"}));
    EXPECT_EQ(readTable(*connection, "LETTERS", "LETTERS_ID")[1]["DESCRIPTION"].asText(), "Suivant");
}

// The second letter's file cannot be made (its patient's folder is taken by a file; a full disk
// is the same to the stage): the run ends with what was stored whole.
TEST_P(LettersStageTest, ACopyThatCannotCompleteEndsTheRunWithNothingHalfStored)
{
    SourceFiles source;
    writeFile(source.lettersFolder() + "a.rtf", "A");
    writeFile(source.lettersFolder() + "b.rtf", "B");
    writeFile(target.folder + "LETTERS/7", "not a folder");
    letters(source)
        .row({qint64(1), qint64(6), wallClock(QDate(2026, 1, 2)), text("Entier"), text("a.rtf")})
        .row({qint64(2), qint64(7), wallClock(QDate(2026, 1, 3)), text("Impossible"), text("b.rtf")});

    EXPECT_THROW(importFrom(source), FileCreateError);

    const QList<TableRow> rows = readTable(*connection, "LETTERS");
    ASSERT_EQ(rows.size(), 1);
    EXPECT_EQ(rows[0]["LETTERS_ID"].asInteger(), 1);
    EXPECT_EQ(storedFiles(6), QStringList{"LET1.HED"});
    EXPECT_EQ(storedFile(6, "LET1.HED"), "A");
    // The counter numbers what was committed, and the number the failed letter used up.
    EXPECT_EQ(lastValueOf(*connection, "LETTERS"), 2);
    EXPECT_TRUE(withoutStamps(run->ui.logLines()).isEmpty());
}

INSTANTIATE_TEST_SUITE_P(Engines, LettersStageTest, testEngines(), engineTestName);

} // namespace
} // namespace p1::test
