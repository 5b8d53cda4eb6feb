#include "stages/letters_stage.h"

#include "dbaccess/letter_store.h"
#include "common/errors.h"
#include "common/files.h"
#include "common/locale_texts.h"

#include <QDir>
#include <QFileInfo>

namespace p1 {

namespace {

const StageTexts lettersTexts{
    QStringLiteral("Importation des courriers"),
    QStringLiteral("Erreur lors de l'ouverture de la table [COU COURRIER GENERE] de Sorvane : "),
    QStringLiteral(" courrier créé"),
    QStringLiteral(" courriers créés"),
};
const QString letterFailure = QStringLiteral(" : importation du courrier n°");
const QString missingFileLine = QStringLiteral(" : courrier n°");
const QString renameFailureLine = QStringLiteral(" : échec d'importation du courrier n°");
const QString rtfExtension = QStringLiteral(".RTF");

QString letterFileName(qint64 letterNumber)
{
    return QStringLiteral("LET") + QString::number(letterNumber) + QStringLiteral(".HED");
}

const QString sourceTable = QStringLiteral("[COU COURRIER GENERE]");
const QString sourceOrder = QStringLiteral("ORDER BY [CODE PATIENT], [DATE], [CODE COURRIER GENERE]");

class LettersStage : public ImportStage, private OutsideWork {
public:
    explicit LettersStage(RunContext& run)
        : ImportStage(run, lettersTexts,
                      {run.Sorvane_Select, &run.ADOConnectionSorvane, sourceTable, sourceOrder},
                      {{run.Query1, wholeTable(QStringLiteral("LETTERS"))}}),
          LETTERS(run.Query1), lettersFolder_(run.sourceLettersFolder), filesOfLettersFolder_(run.sourceLettersFolder),
          letterNumber_(counter(QStringLiteral("LETTERS")))
    {
        identifyRowsBy(QStringLiteral("CODE COURRIER GENERE"));
        sendRowsAhead();
        leavesOutsideTables(*this);
    }

private:
    // A number is used up as soon as its row is started, whatever becomes of the letter.
    RowOutcome importRow() override
    {
        const qint64 patient = integer(QStringLiteral("CODE PATIENT"));
        if (patient <= 0)
            return RowOutcome::Skipped;
        LETTERS.append();
        const qint64 letterNumber = letterNumber_.next();
        const QString newName = letterFileName(letterNumber);
        LETTERS.setValue(QStringLiteral("LETTERS_ID"), letterNumber);
        LETTERS.setValue(QStringLiteral("PATIENTS_ID"), patient);
        LETTERS.setValue(QStringLiteral("Date_Consultation"), field(QStringLiteral("DATE")).asDateTime());
        LETTERS.setValue(QStringLiteral("Description"), text(QStringLiteral("LIBELLE")));
        LETTERS.setValue(QStringLiteral("FileName"), newName);
        if (!ImportLetterFile(patient, text(QStringLiteral("NOM FICHIER")), newName)) {
            LETTERS.cancel();
            return RowOutcome::Refused;
        }
        if (!guard(letterFailure + letterTitle() + ofPatient(), [this] { LETTERS.post(); }, {&LETTERS}))
            return RowOutcome::Refused;
        showStatus(QStringLiteral("Courrier n°") + letterTitle() + ofPatient() + QStringLiteral(" importé"));
        return RowOutcome::Stored;
    }

    void groupStarted() override
    {
        inGroups_ = true;
        filesOfGroup_.clear();
        if (run_.lettersOfTheRun)
            lettersAtGroupStart_ = *run_.lettersOfTheRun;
    }

    bool settle() override
    {
        const FileCopiesAhead::Outcome copies = copiesAhead_.settle();
        filesOfGroup_.append(copies.made);
        countLetters(&LetterCounts::bytesCopied, copies.bytes);
        return copies.allMade;
    }

    // The files the group copied go with its rows: run again, it copies them again.
    void undo() override
    {
        filesOfGroup_.append(copiesAhead_.settle().made);
        for (const QString& path : std::as_const(filesOfGroup_)) {
            if (!DeleteFileIfExists(path))
                throw TargetUnavailable(QStringLiteral("Le fichier %1 n'a pas pu être retiré du dossier des courriers.")
                                            .arg(QDir::toNativeSeparators(path)));
        }
        filesOfGroup_.clear();
        if (run_.lettersOfTheRun)
            *run_.lettersOfTheRun = lettersAtGroupStart_;
    }

    // The rows are on disk at the stage's end: so are the files they name, and their folders.
    void madeDurable() override
    {
        if (filesCopied_)
            syncFileSystemOf(letterStoreFolder(run_.targetBaseFolder));
    }

    // Puts the letter's file in the patient's folder of the letter store under its new name; false
    // (with a log line, and its refusal recorded) when the source file is missing or the new name
    // is taken. A file that cannot be copied is an error that leaves the run.
    bool ImportLetterFile(qint64 patient, const QString& fileName, const QString& newName)
    {
        const QString sourcePath = sourceFileOf(fileName);
        if (sourcePath.isEmpty() || !filesOfLettersFolder_.holds(sourcePath)) {
            countLetters(sourcePath.isEmpty() ? &LetterCounts::namesRefused : &LetterCounts::filesMissing);
            refuseLetter(missingFileLine + letterIdentification() + QStringLiteral(" inexistant."),
                         whyNotRead(sourcePath));
            return false;
        }
        const QString patientFolder = patientLetterFolder(run_.targetBaseFolder, patient);
        if (storeLetterFile(sourcePath, patientFolder, newName))
            return true;
        refuseLetter(renameFailureLine + letterIdentification(),
                     QStringLiteral("le nom %1 est déjà pris dans le dossier [%2] : aucun fichier n'y est remplacé.")
                         .arg(newName, QDir::toNativeSeparators(patientFolder)));
        return false;
    }

    // The letter's one log line, and its refusal for the report.
    void refuseLetter(const QString& wording, const QString& reason)
    {
        addLogLine(currentDateTimeText() + wording);
        recordRefusal(wording, reason);
    }

    QString whyNotRead(const QString& sourcePath) const
    {
        if (sourcePath.isEmpty())
            return QStringLiteral("le nom du fichier sort du dossier des courriers [%1] (chemin absolu, lecteur, "
                                  "partie « .. » ou nom de périphérique) : il n'est pas lu.")
                .arg(QDir::toNativeSeparators(run_.sourceLettersFolder));
        if (!QFileInfo::exists(sourcePath))
            return QStringLiteral("le fichier [%1] n'existe pas.").arg(QDir::toNativeSeparators(sourcePath));
        return QStringLiteral("[%1] n'est pas un fichier ordinaire du dossier des courriers (lien qui en sort, tube, "
                              "périphérique ou dossier) : il n'est pas lu.")
            .arg(QDir::toNativeSeparators(sourcePath));
    }

    // True when the file is now in the store under its new name, or would be when the run only
    // checks (it then counts what it would copy, and copies nothing). False when the new name is
    // taken: nothing is copied then, and no file of the store is overwritten.
    bool storeLetterFile(const QString& sourcePath, const QString& patientFolder, const QString& newName)
    {
        // The store lives on Windows, where let20.hed takes the name LET20.HED.
        if (!run_.letterStoreSetAside && folderHoldsName(patientFolder, newName))
            return false;
        const QString newPath = patientFolder + newName;
        if (run_.letterFiles == LetterFiles::Checked) {
            countCopy(QFileInfo(sourcePath).size());
            return true;
        }
        // While rows go ahead, so do their files: one that cannot be made takes the group back,
        // and the copy is made again here, with its outcome, when the group runs again.
        if (workMayGoAhead() && copiesAhead_.add(sourcePath, patientFolder, newPath)) {
            filesCopied_ = true;
            countLetters(&LetterCounts::filesCopied);
            return true;
        }
        makeFolder(patientFolder);
        const std::optional<qint64> copied = copyFileAsNew(sourcePath, newPath);
        if (!copied)
            return false;
        filesCopied_ = true;
        if (inGroups_)
            filesOfGroup_.append(newPath);
        countCopy(*copied);
        return true;
    }

    void countCopy(qint64 bytes)
    {
        countLetters(&LetterCounts::filesCopied);
        countLetters(&LetterCounts::bytesCopied, bytes);
    }

    void countLetters(qint64 LetterCounts::*counter, qint64 amount = 1)
    {
        if (run_.lettersOfTheRun)
            run_.lettersOfTheRun->*counter += amount;
    }

    // The letters folder and NOM FICHIER, a Windows name, with ".RTF" appended unless the whole
    // path holds it already; empty for a name that would leave the letters folder.
    QString sourceFileOf(const QString& fileName)
    {
        const QString& folder = run_.sourceLettersFolder;
        const bool hasExtension = (folder + fileName).toUpper().contains(rtfExtension);
        return lettersFolder_.resolve(hasExtension ? fileName : fileName + rtfExtension);
    }

    QString letterCode() const { return text(QStringLiteral("CODE COURRIER GENERE")); }
    QString bracketed(const QString& column) const { return u'[' + text(column) + u']'; }
    // CODE COURRIER GENERE [LIBELLE]
    QString letterTitle() const { return letterCode() + u' ' + bracketed(QStringLiteral("LIBELLE")); }
    // " du patient n°" + CODE PATIENT + " daté du " + DATE
    QString ofPatient() const
    {
        return QStringLiteral(" du patient n°") + text(QStringLiteral("CODE PATIENT"))
               + QStringLiteral(" daté du ") + text(QStringLiteral("DATE"));
    }
    // What the file lines name: CODE COURRIER GENERE [NOM FICHIER as stored] [LIBELLE], patient, date.
    QString letterIdentification() const
    {
        return letterCode() + u' ' + bracketed(QStringLiteral("NOM FICHIER")) + u' '
               + bracketed(QStringLiteral("LIBELLE")) + ofPatient();
    }

    TargetDataset& LETTERS;
    WindowsNameResolver lettersFolder_;
    RegularFilesWithin filesOfLettersFolder_;
    StageCounter& letterNumber_;
    bool inGroups_ = false;
    QStringList filesOfGroup_; // copied since the group began
    FileCopiesAhead copiesAhead_;
    LetterCounts lettersAtGroupStart_;
    bool filesCopied_ = false; // into the store, by this stage
};

} // namespace

StageCounts importLetters(RunContext& run)
{
    return LettersStage(run).run();
}

QStringList lettersSourceStatements()
{
    return {wholeTableStatement(sourceTable, sourceOrder)};
}

} // namespace p1
