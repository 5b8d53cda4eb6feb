#include "run/target_initialisation.h"

#include "dbaccess/target_settings.h"
#include "common/errors.h"
#include "common/files.h"
#include "target/target_schema.h"

namespace p1 {

namespace {

const QString databaseFileName = QStringLiteral("tessaris.sqlite3");

void refuseExistingTarget(const QString& folder)
{
    for (const QString& name : {QStringLiteral("Kelvanor.ver"), databaseFileName}) {
        const QString path = resolveWindowsName(folder, name);
        if (fileExists(path))
            throw Error("Le dossier [" + folder + "] contient déjà une base Tessaris (" + path + ").");
    }
}

TargetConnectionSettings embeddedSettings()
{
    TargetConnectionSettings settings;
    settings.DatabaseName = databaseFileName;
    settings.ServerName = QStringLiteral("local");
    return settings;
}

void writeSettingsFiles(const QString& folder, const TargetConnectionSettings& settings)
{
    writeWindows1252Lines(folder + "Kelvanor.ver", {"[DBKERNEL]", "DatabaseName=" + settings.DatabaseName,
                                                    "ServerName=" + settings.ServerName,
                                                    "UserName=" + settings.UserName, "SAPW="});
    writeWindows1252Lines(folder + "EDITOR.INI", {"[DataBases]", prescriptionsTableName() + "=Prescriptions"});
}

} // namespace

void createEmbeddedTarget(const QString& folder)
{
    refuseExistingTarget(folder);
    if (!makeFolder(folder))
        throw Error("Impossible de créer le dossier [" + folder + "].");
    const TargetConnectionSettings settings = embeddedSettings();
    createSqliteDatabase(folder + settings.DatabaseName);
    TargetConnection connection(TargetEngine::Sqlite);
    connection.setConnectionString(targetConnectionString(settings, QString()));
    connection.setBaseFolder(folder);
    connection.open();
    createTargetSchema(connection);
    connection.close();
    writeSettingsFiles(folder, settings);
}

} // namespace p1
