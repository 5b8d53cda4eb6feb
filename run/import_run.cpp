#include "run/import_run.h"

#include "dbaccess/purge.h"
#include "dbaccess/sql_names.h"
#include "common/date_time.h"
#include "common/errors.h"
#include "common/files.h"
#include "common/ini_file.h"
#include "common/locale_texts.h"
#include "run/import_session.h"
#include "stages/stage_table.h"
#include "target/target_claim.h"

#include <algorithm>

namespace p1 {

namespace {

const QString noPrescriptionTable = QStringLiteral("erreur");

} // namespace

ImportRun::ImportRun(ImportSession& session, OperatorUi& ui) : session_(session), ui_(ui) {}

bool ImportRun::execute()
{
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
    const QString prescriptionTable = FindPrescriptionTable(ui_.locationText(Location::TargetBase));
    if (prescriptionTable == noPrescriptionTable) {
        ui_.showError(QStringLiteral("Impossible de trouver la table des prescriptions !"));
        restoreIdle();
        return false;
    }
    TargetClaim claim(session_.ADOConnectionTessaris);
    if (!claimed(claim)) {
        restoreIdle();
        return false;
    }
    session_.ADOConnectionTessaris.setCommitMode(session_.commitMode());
    enterRunState();
    try {
        proveSourceReadable();
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
        if (claim.tryAcquire())
            return true;
        ui_.showError(QStringLiteral("Une autre importation est en cours sur cette base Tessaris : "
                                     "elle n'a pas été modifiée."));
    } catch (const std::exception& error) {
        ui_.showError(QStringLiteral("La base Tessaris ne peut pas être réservée pour l'importation : ")
                      + errorMessage(error));
    }
    return false;
}

// Every source table the ticked stages read is read through once, before the purge: a damaged
// file stops the run while the target is still whole. The copies made here serve the stages; a
// missing table is left to the stage that reads it, which reports it as it always has.
void ImportRun::proveSourceReadable()
{
    for (const StageEntry& stage : stageTable()) {
        if (!stage.import || !ui_.isTicked(stage.box))
            continue;
        SourceConnection& file = stage.file == SourceFile::Ordo ? session_.ADOConnectionSorvaneOrdo
                                                                 : session_.ADOConnectionSorvane;
        for (const QString& table : stage.sourceTables) {
            SourceQuery whole(&file, {QStringLiteral("SELECT * from ") + table});
            try {
                whole.open();
            } catch (const SourceDamaged& error) {
                const QString reason = QStringLiteral("Erreur lors de la lecture de la table %1 de Sorvane : ")
                                           .arg(table) + errorMessage(error);
                ui_.showError(reason);
                throw RunEnded(reason);
            } catch (const SourceError&) {
                continue;
            }
        }
    }
}

// A stopped run that changed the target keeps the only record of what it did: its log file,
// ending with the reason it stopped. Its report is kept whenever it reached a stage.
void ImportRun::keepRecordsOfStoppedRun(const QString& reason)
{
    if (endLineWritten_)
        return;
    report_.stopReason = reason;
    const QString logPath = logFolder() + logFileName(currentWallClock());
    if (purged_ || rowsWritten()) {
        ui_.addLogLine(QStringLiteral("Traitement interrompu : ") + reason);
        try {
            writeWindows1252Lines(logPath, ui_.logLines());
        } catch (const std::exception& error) {
            ui_.showError(errorMessage(error));
        }
    }
    writeRunReport(logPath);
}

// The report goes beside the log file, under its name with the extension .html.
void ImportRun::writeRunReport(const QString& logPath)
{
    if (report_.stages.isEmpty())
        return;
    report_.after = takeTargetSnapshot(session_.ADOConnectionTessaris);
    try {
        writeReport(report_, logPath.chopped(QStringLiteral(".log").size()) + QStringLiteral(".html"));
    } catch (const std::exception& error) {
        ui_.showError(errorMessage(error));
    }
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

bool ImportRun::confirmed()
{
    return ui_.confirm(QStringLiteral("Souhaitez-vous lancer l'importation ?"));
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
}

void ImportRun::runStages(const QString& prescriptionTable)
{
    rebindSourceQueries();
    report_.before = takeTargetSnapshot(session_.ADOConnectionTessaris);
    if (ui_.isTicked(Box::Vider)) {
        purged_ = true;
        PurgeTarget(session_.ADOConnectionTessaris, session_.Qry1, session_.ids, ui_);
        commitStoredRows(session_.ADOConnectionTessaris);
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
    for (const StageEntry& stage : stageTable()) {
        if (stage.import && ui_.isTicked(stage.box))
            runStage(stage, run);
        if (stage.resetAfter) {
            showStatus(ui_, QString());
            ui_.setProgressPosition(0);
        }
    }
}

void ImportRun::runStage(const StageEntry& stage, RunContext& run)
{
    const qsizetype before = report_.stages.size();
    const auto nameItsCounts = [&] {
        for (qsizetype i = before; i < report_.stages.size(); ++i)
            report_.stages[i].stage = stage.word;
    };
    try {
        stage.import(run);
    } catch (...) {
        nameItsCounts();
        throw;
    }
    nameItsCounts();
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
    ui_.addLogLine("Traitement terminé. Durée : " + ui_.elapsedText());
    endLineWritten_ = true;
    report_.ended = true;
    const QString logPath = logFolder() + logFileName(currentWallClock());
    // The report first: a log file that cannot be written ends the run through the general error.
    writeRunReport(logPath);
    const QStringList lines = ui_.logLines();
    if (lines.size() > 1)
        writeWindows1252Lines(logPath, lines);
    ui_.setBusy(false);
    ui_.showMessage(QStringLiteral("Le traitement est terminé."));
}

// Everything stored has been committed by now; a rolled-back run is undone here, after its
// report has counted what it would have left. Outside runs, every statement commits on its own.
void ImportRun::cleanUp()
{
    session_.ADOConnectionTessaris.setCommitMode(CommitMode::EachRow);
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

QString logFolder()
{
    const QString overridden = qEnvironmentVariable("P1IMPORT_LOG_FOLDER");
    return overridden.isEmpty() ? programFolder() : EnsureTrailingBackslash(overridden);
}

} // namespace p1
