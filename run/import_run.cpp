#include "run/import_run.h"

#include "dbaccess/purge.h"
#include "dbaccess/sql_names.h"
#include "common/date_time.h"
#include "common/errors.h"
#include "common/file_writing.h"
#include "common/files.h"
#include "common/ini_file.h"
#include "common/locale_texts.h"
#include "common/log_journal.h"
#include "common/stop_signals.h"
#include "run/check_findings.h"
#include "run/import_session.h"
#include "stages/stage_table.h"
#include "targetdb/target_claim.h"

#include <QDir>

#include <algorithm>
#include <future>
#include <optional>

namespace p1 {

namespace {

const QString noPrescriptionTable = QStringLiteral("erreur");
const QString prescriptionTableMissing = QStringLiteral("Impossible de trouver la table des prescriptions !");

// The journal goes to the operator seam's commits for the length of the run, whichever way it ends.
class JournalOfTheRun {
public:
    JournalOfTheRun(OperatorUi& ui, LogJournal* journal) : ui_(ui) { ui_.keepLogWith(journal); }
    ~JournalOfTheRun() { ui_.keepLogWith(nullptr); }
    JournalOfTheRun(const JournalOfTheRun&) = delete;
    JournalOfTheRun& operator=(const JournalOfTheRun&) = delete;

private:
    OperatorUi& ui_;
};

// A stop asked by a signal, at a boundary between two steps of the run.
void stopWhenAsked()
{
    if (stopSignal() != 0)
        throw RunEnded(stopReason());
}

QString withoutExtension(const QString& name)
{
    return name.left(name.lastIndexOf(u'.'));
}

} // namespace

ImportRun::ImportRun(ImportSession& session, OperatorUi& ui, RunMode mode)
    : session_(session), ui_(ui), mode_(mode)
{
    report_.check = checking();
}

ImportRun::~ImportRun() = default;

bool ImportRun::execute()
{
    forgetStopRequest();
    if (!sourceFilesPresent())
        return false;
    ui_.setBusy(true);
    ui_.setImportEnabled(false);
    ui_.setStatus(QString());
    ui_.setStatusVisible(true);
    ui_.showLogPanel();
    if (!confirmed()) {
        restoreIdle();
        return false;
    }
    // From here on SIGINT, SIGTERM and SIGHUP stop the run at its next row boundary.
    const StopSignals stopSignals;
    const QString prescriptionTable = FindPrescriptionTable(ui_.locationText(Location::TargetBase));
    if (prescriptionTable != noPrescriptionTable)
        prescriptionTable_ = prescriptionTable;
    // A check goes on without the prescriptions stage, and reports the table missing.
    if (prescriptionTable == noPrescriptionTable && !checking()) {
        ui_.showError(prescriptionTableMissing);
        restoreIdle();
        return false;
    }
    TargetClaim claim(session_.ADOConnectionTessaris);
    if (!claimed(claim)) {
        restoreIdle();
        return false;
    }
    // The one place a check selects what makes it write nothing: every statement of the run in one
    // group, which cleanUp() rolls back once the report has counted what the run would leave.
    session_.ADOConnectionTessaris.allowFileChanges(checking() ? FileChanges::None : FileChanges::Allowed);
    session_.ADOConnectionTessaris.setCommitMode(checking() ? CommitMode::RolledBack : session_.commitMode());
    session_.ADOConnectionTessaris.watchColumnSizes(checking());
    nameJournalsLeft();
    openJournal();
    const JournalOfTheRun journalOfTheRun(ui_, journal_.get());
    enterRunState();
    try {
        stopWhenAsked();
        proveSourceReadable();
        makeSourceIndexesAhead();
        stopWhenAsked();
        provePrescriptionTableThere(prescriptionTable);
        runStages(prescriptionTable);
        end();
    } catch (const RunEnded& ended) {
        keepRecordsOfStoppedRun(ended.reason());
        cleanUp();
        return false;
    } catch (const std::exception& error) {
        keepRecordsOfStoppedRun(errorMessage(error));
        cleanUp();
        throw;
    }
    cleanUp();
    return true;
}

// Two runs on one target would empty and fill it under each other: the second one is refused
// before it changes anything.
bool ImportRun::claimed(TargetClaim& claim)
{
    try {
        if (!claimTaken(claim)) {
            ui_.showError(QStringLiteral("Une autre importation est en cours sur cette base Tessaris : "
                                         "elle n'a pas été modifiée."));
            return false;
        }
        const QString holder = claim.otherSessionHoldingTheTarget();
        if (holder.isEmpty())
            return true;
        claim.release();
        ui_.showError(holder);
    } catch (const std::exception& error) {
        ui_.showError(QStringLiteral("La base Tessaris ne peut pas être réservée pour l'importation : ")
                      + errorMessage(error));
    }
    return false;
}

// A check would read a target half imported, or fail on its locks.
bool ImportRun::claimTaken(TargetClaim& claim)
{
    return checking() ? claim.allowsACheck() : claim.tryAcquire();
}

namespace {

// A table a ticked stage reads, with its place in the order of the run.
struct TableToRead {
    int order;
    QString table;
};

struct UnreadableTable {
    int order;
    QString reason;
};

// The first damaged table of the list; a table that is missing or cannot be queried is left to
// its stage, which says so.
std::optional<UnreadableTable> firstDamagedTable(SourceConnection& file, const QList<TableToRead>& tables)
{
    for (const TableToRead& entry : tables) {
        SourceQuery whole(&file, {QStringLiteral("SELECT * from ") + entry.table});
        try {
            whole.open();
        } catch (const SourceDamaged& error) {
            return UnreadableTable{entry.order, QStringLiteral("Erreur lors de la lecture de la table %1 de Sorvane : ")
                                                    .arg(entry.table) + errorMessage(error)};
        } catch (const SourceError&) {
        }
    }
    return std::nullopt;
}

} // namespace

// Every source table the ticked stages read is read through once, before the purge: a damaged
// file stops the run while the target is still whole. The copies made here serve the stages; a
// missing table is left to the stage that reads it, which reports it as it always has.
void ImportRun::proveSourceReadable()
{
    QList<TableToRead> v4Tables;
    QList<TableToRead> ordoTables;
    int order = 0;
    for (const StageEntry& stage : stageTable()) {
        if (!stage.import || !ui_.isTicked(stage.box))
            continue;
        for (const QString& table : stage.sourceTables)
            (stage.file == SourceFile::Ordo ? ordoTables : v4Tables).append({order++, table});
    }
    // Each file has its own handle and in-memory copy: the prescriptions' file is read through on
    // a thread of its own while the other one is. The first damaged table in the run's order is
    // the one reported, as when they are read one after the other.
    auto ordoProof = std::async(std::launch::async, firstDamagedTable, std::ref(session_.ADOConnectionSorvaneOrdo),
                                std::cref(ordoTables));
    std::optional<UnreadableTable> damaged = firstDamagedTable(session_.ADOConnectionSorvane, v4Tables);
    const std::optional<UnreadableTable> ordoDamaged = ordoProof.get();
    if (!damaged || (ordoDamaged && ordoDamaged->order < damaged->order))
        damaged = ordoDamaged;
    if (damaged) {
        ui_.showError(damaged->reason);
        throw RunEnded(damaged->reason);
    }
}

// The sorts of the stages' source tables are made while the purge and the stages before theirs
// run, on a thread of each source file, instead of at each stage's start.
void ImportRun::makeSourceIndexesAhead()
{
    for (const StageEntry& stage : stageTable())
        if (stage.import && ui_.isTicked(stage.box))
            fileOf(stage).makeIndexesAhead(stage.indexedStatements);
}

// The prescriptions stage comes last: a table it would not find stops the run before the purge,
// with the target whole. A check names it among its findings instead.
void ImportRun::provePrescriptionTableThere(const QString& prescriptionTable)
{
    if (checking() || !ui_.isTicked(Box::ImportOrdo))
        return;
    const QString problem = prescriptionTableProblem(session_.ADOConnectionTessaris, prescriptionTable);
    if (problem.isEmpty())
        return;
    ui_.showError(problem);
    throw RunEnded(problem);
}

// A journal an earlier run left in the log folder (killed, or the machine stopped, before its log
// file was written) is that run's only record: it is named, and left where it is.
void ImportRun::nameJournalsLeft()
{
    for (const QString& journal : journalsLeftIn(logFolder()))
        ui_.addLogLine(QStringLiteral("Une importation précédente a été interrompue : son journal est [%1].")
                           .arg(QDir::toNativeSeparators(journal)));
}

// The log lines go on the disk as the run goes, from before the purge: a run killed at any point
// after it leaves them up to its last commit. A check writes no log, nor any journal.
void ImportRun::openJournal()
{
    if (checking())
        return;
    journal_ = std::make_unique<LogJournal>(logFolder(), withoutExtension(logFileName(currentWallClock())));
}

// A stopped run that changed the target keeps the only record of what it did: its log file,
// ending with the reason it stopped. Its report is kept whenever it reached a stage.
void ImportRun::keepRecordsOfStoppedRun(const QString& reason)
{
    if (endLineWritten_)
        return;
    report_.stopReason = reason;
    const bool withLog = !checking() && (purged_ || rowsWritten());
    if (withLog)
        ui_.addLogLine(QStringLiteral("Traitement interrompu : ") + reason);
    try {
        writeRecords(withLog);
    } catch (const std::exception& error) {
        ui_.showError(errorMessage(error));
    }
}

// The log file and the report go together into the log folder, under one name that no earlier
// run took (a check's report under a name of its own). The report's "after" is taken before the
// rollback of a check: it is what the run would leave. Throws when they cannot be written whole.
//
// The journal first gets the last lines: should the log file not be written, it is the run's
// record, complete; once the log file is there (or when there is no log to keep), it goes.
void ImportRun::writeRecords(bool withLog)
{
    report_.seconds = runClock_.elapsed() / 1000.0;
    if (journal_)
        journal_->keep(ui_.logLines());
    QList<FileToWrite> files;
    if (withLog)
        files.append({QStringLiteral(".log"), windows1252Lines(ui_.logLines())});
    if (!report_.stages.isEmpty()) {
        report_.after = snapshot();
        files.append({QStringLiteral(".html"), reportHtml(report_).toUtf8()});
    }
    try {
        if (!files.isEmpty()) {
            const QString name = checking() ? checkReportFileName(currentWallClock()) : logFileName(currentWallClock());
            writeNewFilesUnderOneName(logFolder(), withoutExtension(name), files);
        }
    } catch (const std::exception& error) {
        if (!withLog || !journal_ || !journal_->kept()) {
            dropJournal();
            throw;
        }
        throw Error(errorMessage(error) + QStringLiteral(" Le journal de l'importation reste dans [%1].")
                                              .arg(QDir::toNativeSeparators(journal_->path())));
    }
    dropJournal();
}

void ImportRun::dropJournal()
{
    if (journal_)
        journal_->remove();
    journal_.reset();
}

bool ImportRun::rowsWritten() const
{
    return std::any_of(report_.stages.begin(), report_.stages.end(),
                       [](const StageCounts& counts) { return counts.stored + counts.merged > 0; });
}

bool ImportRun::sourceFilesPresent()
{
    const QString folder = ui_.locationText(Location::SourceBase);
    for (const QString& name : {QStringLiteral("V4.mdb"), QStringLiteral("Ordo.mdb")}) {
        if (!fileExists(resolveWindowsName(folder, name))) {
            ui_.showError("Le fichier [" + folder + name + "] n'existe pas.");
            return false;
        }
    }
    return true;
}

// A check empties nothing: there is nothing to confirm.
bool ImportRun::confirmed()
{
    return checking() || ui_.confirm(QStringLiteral("Souhaitez-vous lancer l'importation ?"));
}

QString ImportRun::FindPrescriptionTable(const QString& targetFolder)
{
    const IniFile editorIni(resolveWindowsName(folderOf(targetFolder), QStringLiteral("EDITOR.INI")));
    const QString section = QStringLiteral("DataBases");
    for (const QString& key : editorIni.keys(section)) {
        if (editorIni.value(section, key).toUpper().contains(QStringLiteral("PRESCRIP")))
            return isPlainSqlName(key) ? key.toUpper() : noPrescriptionTable;
    }
    return noPrescriptionTable;
}

void ImportRun::enterRunState()
{
    ui_.setBusy(true);
    ui_.setImportEnabled(false);
    ui_.setCloseEnabled(false);
    ui_.setProgressPosition(0);
    ui_.setElapsedVisible(true);
    ui_.startElapsedTimer();
    report_.startedAt = currentWallClock();
    runClock_.start();
}

void ImportRun::runStages(const QString& prescriptionTable)
{
    rebindSourceQueries();
    report_.before = snapshot();
    report_.start = report_.before;
    PurgeOutcome purge;
    if (ui_.isTicked(Box::Vider)) {
        purged_ = true;
        const PurgeScope scope{prescriptionTable == noPrescriptionTable ? QString() : prescriptionTable,
                               ui_.locationText(Location::TargetBase), !checking()};
        purge = PurgeTarget(session_.ADOConnectionTessaris, session_.Qry1, session_.ids, ui_, scope);
        commitStoredRows(session_.ADOConnectionTessaris);
        ui_.logLinesCommitted();
        report_.start = snapshot();
    }
    RunContext run{ui_,
                   session_.ADOConnectionSorvane,
                   session_.ADOConnectionSorvaneOrdo,
                   session_.ADOConnectionTessaris,
                   session_.Sorvane_Select,
                   session_.Sorvane_GLB_Medecin,
                   session_.Sorvane_Query1,
                   session_.Query1,
                   session_.Query2,
                   session_.Query3,
                   session_.Qry1,
                   session_.ids,
                   *session_.lookups_,
                   prescriptionTable,
                   ui_.locationText(Location::SourceLetters),
                   ui_.locationText(Location::TargetBase),
                   &report_.stages,
                   &report_.letters};
    run.letterFiles = checking() ? LetterFiles::Checked : LetterFiles::Copied;
    run.letterStoreSetAside = purge.letterStoreSetAside;
    const std::optional<PresentIdentifiers> present =
        checking() && !purged_ ? std::optional(PresentIdentifiers::read(session_.ADOConnectionTessaris))
                               : std::nullopt;
    for (const StageEntry& stage : stageTable()) {
        if (stage.import && ui_.isTicked(stage.box) && stageCanRun(stage, prescriptionTable)) {
            stopWhenAsked();
            runStage(stage, run);
            releaseSourceCopiesAfter(stage);
        }
        if (stage.resetAfter) {
            showStatus(ui_, QString());
            ui_.setProgressPosition(0);
        }
    }
    if (present)
        report_.findings.presentIdentifiers = present->amongRefusals(report_.stages);
}

// A check goes on where the run would not start, or would end at the prescriptions stage: without
// that stage, its reason among the findings.
bool ImportRun::stageCanRun(const StageEntry& stage, const QString& prescriptionTable)
{
    if (!checking() || stage.box != Box::ImportOrdo)
        return true;
    report_.findings.prescriptionTableProblem = prescriptionTableProblem(
        session_.ADOConnectionTessaris,
        prescriptionTable == noPrescriptionTable ? std::nullopt : std::optional(prescriptionTable));
    return report_.findings.prescriptionTableProblem.isEmpty();
}

void ImportRun::runStage(const StageEntry& stage, RunContext& run)
{
    const qsizetype before = report_.stages.size();
    const auto nameItsCounts = [&] {
        for (qsizetype i = before; i < report_.stages.size(); ++i)
            report_.stages[i].stage = stage.word;
    };
    report_.stageTables.insert(stage.word, {createdTable(stage), stage.uncountedTables});
    run.stageWord = stage.word;
    try {
        stage.import(run);
    } catch (...) {
        nameItsCounts();
        throw;
    }
    nameItsCounts();
    // The stage's summary line follows its last commit.
    ui_.logLinesCommitted();
    measureSourceRows(stage);
}

QString ImportRun::createdTable(const StageEntry& stage) const
{
    return stage.createdTable.isEmpty() ? prescriptionTable_ : stage.createdTable;
}

// Counted apart from the rows the stage walked, by the source itself, before its copy is given back.
void ImportRun::measureSourceRows(const StageEntry& stage)
{
    SourceQuery whole(&fileOf(stage), {QStringLiteral("SELECT * from ") + stage.sourceTables.first()});
    try {
        whole.open();
        report_.sourceRows.insert(stage.word, whole.recordCount());
    } catch (const SourceError&) {
    }
}

// The tables the purge empties, and the prescriptions table, which it does not.
TargetSnapshot ImportRun::snapshot()
{
    return takeTargetSnapshot(session_.ADOConnectionTessaris,
                              prescriptionTable_.isEmpty() ? QStringList() : QStringList{prescriptionTable_});
}

// The copies of the tables a stage read that no later stage of the run reads go back to memory,
// which the stages after it use again instead of adding to it.
void ImportRun::releaseSourceCopiesAfter(const StageEntry& done)
{
    QStringList readLater;
    bool later = false;
    for (const StageEntry& stage : stageTable()) {
        if (later && stage.import && ui_.isTicked(stage.box) && stage.file == done.file)
            readLater += stage.sourceTables;
        later = later || &stage == &done;
    }
    QStringList released;
    for (const QString& table : done.sourceTables)
        if (!readLater.contains(table, Qt::CaseInsensitive))
            released.append(table);
    fileOf(done).releaseCopies(released);
}

SourceConnection& ImportRun::fileOf(const StageEntry& stage)
{
    return stage.file == SourceFile::Ordo ? session_.ADOConnectionSorvaneOrdo : session_.ADOConnectionSorvane;
}

// The prescriptions stage leaves the shared source queries on Ordo.mdb; every other stage expects
// them on V4.mdb with the shared query's lines as the window defines them.
void ImportRun::rebindSourceQueries()
{
    session_.Sorvane_Select.setConnection(&session_.ADOConnectionSorvane);
    session_.Sorvane_Select.sql() = sharedSelectLines();
    session_.Sorvane_Query1.setConnection(&session_.ADOConnectionSorvane);
}

void ImportRun::end()
{
    commitStoredRows(session_.ADOConnectionTessaris);
    showStatus(ui_, QString());
    ui_.setProgressPosition(0);
    if (checking()) {
        addCheckFindings();
        ui_.addLogLine("Vérification terminée, rien n'a été écrit. Durée : " + ui_.elapsedText());
    } else {
        ui_.addLogLine("Traitement terminé. Durée : " + ui_.elapsedText());
    }
    endLineWritten_ = true;
    report_.ended = true;
    // A log file of the end line alone is not written; records that cannot be written end the run
    // through the general error, without the closing message.
    writeRecords(ui_.logLines().size() > 1 && !checking());
    ui_.setBusy(false);
    ui_.showMessage(checking() ? QStringLiteral("La vérification est terminée.")
                               : QStringLiteral("Le traitement est terminé."));
}

// The prescriptions table missing from EDITOR.INI stops a run before it starts: a check names it
// even when it did not run the stage.
void ImportRun::addCheckFindings()
{
    if (report_.findings.prescriptionTableProblem.isEmpty()
        && FindPrescriptionTable(ui_.locationText(Location::TargetBase)) == noPrescriptionTable)
        report_.findings.prescriptionTableProblem = prescriptionTableProblem(session_.ADOConnectionTessaris, std::nullopt);
    for (const QString& line : checkFindingLines(report_))
        ui_.addLogLine(line);
}

// Everything stored has been committed by now; a rolled-back run is undone here, after its
// report has counted what it would have left. Outside runs, every statement commits on its own.
void ImportRun::cleanUp()
{
    session_.ADOConnectionTessaris.setCommitMode(CommitMode::EachRow);
    session_.ADOConnectionTessaris.watchColumnSizes(false);
    ui_.setBusy(false);
    ui_.setStatusVisible(false);
    ui_.setImportEnabled(true);
    ui_.setCloseEnabled(true);
    ui_.setProgressPosition(0);
    ui_.setElapsedVisible(false);
    ui_.stopElapsedTimer();
    ui_.processMessages();
}

void ImportRun::restoreIdle()
{
    ui_.setBusy(false);
    ui_.setImportEnabled(true);
}

QString logFileName(const QDateTime& wallClockTime)
{
    const QString stamp = textLocale().toString(wallClockTime.date(), shortDateFormat()) + ' '
                          + timeText(wallClockTime.time());
    return "P1Import - " + MakeFileNameSafe(stamp) + ".log";
}

QString checkReportFileName(const QDateTime& wallClockTime)
{
    return logFileName(wallClockTime)
        .replace(QStringLiteral("P1Import - "), QStringLiteral("P1Import - Vérification "))
        .replace(QStringLiteral(".log"), QStringLiteral(".html"));
}

QString logFolder()
{
    const QString overridden = qEnvironmentVariable("P1IMPORT_LOG_FOLDER");
    return overridden.isEmpty() ? programFolder() : EnsureTrailingBackslash(overridden);
}

} // namespace p1
