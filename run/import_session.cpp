#include "run/import_session.h"

#include "dbaccess/source_connections.h"
#include "dbaccess/target_settings.h"
#include "common/date_time.h"
#include "common/errors.h"
#include "common/files.h"
#include "run/import_run.h"
#include "run/location_texts.h"
#include "stages/reference_lookups.h"

namespace p1 {

ImportSession::ImportSession(OperatorUi& ui, TargetEngine engine)
    : ADOConnectionTessaris(engine),
      Sorvane_Select(&ADOConnectionSorvane, sharedSelectLines()),
      Sorvane_GLB_Medecin(&ADOConnectionSorvane, {QStringLiteral("SELECT * from [GLB Medecin]")}),
      Sorvane_Query1(&ADOConnectionSorvane),
      Query1(ADOConnectionTessaris),
      Query2(ADOConnectionTessaris),
      Query3(ADOConnectionTessaris),
      Qry1(ADOConnectionTessaris),
      ids(ADOConnectionTessaris, ui),
      ui_(ui),
      lookups_(std::make_unique<ReferenceLookups>(ADOConnectionSorvane))
{
    ADOConnectionTessaris.setOdbcDriver(qEnvironmentVariable("P1IMPORT_ODBC_DRIVER").trimmed());
    nameLocalTimeZone();
}

ImportSession::~ImportSession() = default;

void ImportSession::closeSourceConnections()
{
    ADOConnectionSorvane.close();
    ADOConnectionSorvaneOrdo.close();
}

void ImportSession::sourceBaseChosen(const QString& fileName)
{
    const QString folder = folderOf(fileName);
    ui_.setLocationText(Location::SourceBase, folder);
    ADOConnectionSorvane.setConnectionString(sourceConnectionString(fileName));
    try {
        ADOConnectionSorvane.open();
        applyImportEnablingRule(true);
    } catch (const std::exception& error) {
        ui_.showError("Erreur lors de la connexion à la base de données [" + fileName + "] : " + errorMessage(error));
    }
    ADOConnectionSorvaneOrdo.setConnectionString(ordoConnectionString(folder));
    try {
        ADOConnectionSorvaneOrdo.open();
        applyImportEnablingRule(true);
    } catch (const std::exception& error) {
        ui_.showError("Erreur lors de la connexion à la base de données [" + folder + "Ordo.mdb] : "
                      + errorMessage(error));
    }
}

void ImportSession::closeTargetConnection()
{
    ADOConnectionTessaris.close();
}

bool ImportSession::targetChosen(const QString& settingsFile)
{
    const QString folder = folderOf(settingsFile);
    ui_.setLocationText(Location::TargetBase, folder);
    if (!OpenTargetConnection()) {
        // What the settings file lacks goes between the two lines: the dialog alone would leave
        // the operator guessing.
        const QString problem =
            targetSettingsProblem(resolveWindowsName(folder, QStringLiteral("Kelvanor.ver")));
        ui_.showError("Initialisation de la base de données [" + folder + "] impossible !" + "\r"
                      + (problem.isEmpty() ? QString() : problem + "\r") + "L'application va être fermée.");
        ui_.closeApplication();
        return false;
    }
    applyImportEnablingRule();
    return true;
}

bool ImportSession::OpenTargetConnection()
{
    return openTargetConnection(ADOConnectionTessaris, ui_, ui_.locationText(Location::TargetBase));
}

void ImportSession::lettersFolderChosen(const QString& folder)
{
    if (!folder.isEmpty())
        ui_.setLocationText(Location::SourceLetters, EnsureTrailingBackslash(folder));
    applyImportEnablingRule();
}

void ImportSession::applyImportEnablingRule(bool withSourceConnections)
{
    bool enabled = isLocationChosen(ui_, Location::SourceLetters) && isLocationChosen(ui_, Location::SourceBase)
                   && isLocationChosen(ui_, Location::TargetBase);
    if (withSourceConnections)
        enabled = enabled && ADOConnectionSorvane.isOpen() && ADOConnectionSorvaneOrdo.isOpen();
    ui_.setImportEnabled(enabled);
}

bool ImportSession::ButtonExecuterClick()
{
    return runAs(RunMode::Import);
}

bool ImportSession::checkBeforeImport()
{
    return runAs(RunMode::Check);
}

bool ImportSession::runAs(RunMode mode)
{
    ImportRun run(*this, ui_, mode);
    try {
        const bool ended = run.execute();
        lastRunReport_ = run.report();
        return ended;
    } catch (...) {
        lastRunReport_ = run.report();
        throw;
    }
}

void ImportSession::closeConnections()
{
    ADOConnectionTessaris.close();
    ADOConnectionSorvane.close();
    ADOConnectionSorvaneOrdo.close();
}

} // namespace p1
