#include "run/target_initialisation.h"

#include "dbaccess/target_settings.h"
#include "common/errors.h"
#include "common/file_writing.h"
#include "common/files.h"
#include "common/text_encoding.h"
#include "targetdb/target_schema.h"

#include <QFile>
#include <QSqlDatabase>

namespace p1 {

namespace {

const QString databaseFileName = QStringLiteral("tessaris.sqlite3");

void refuseExistingTarget(const QString& folder, const QStringList& names)
{
    for (const QString& name : names) {
        const QString path = resolveWindowsName(folder, name);
        if (fileExists(path))
            throw Error("Le dossier [" + folder + "] contient déjà une base Tessaris (" + path + ").");
    }
}

void makeTargetFolder(const QString& folder)
{
    if (!makeFolder(folder))
        throw Error("Impossible de créer le dossier [" + folder + "].");
}

TargetConnectionSettings embeddedSettings()
{
    TargetConnectionSettings settings;
    settings.DatabaseName = databaseFileName;
    settings.ServerName = QStringLiteral("local");
    return settings;
}

QStringList settingsFiles(const QString& folder)
{
    return {folder + "Kelvanor.ver", folder + "EDITOR.INI"};
}

void writeSettingsFiles(const QString& folder, const TargetConnectionSettings& settings)
{
    const QStringList files = settingsFiles(folder);
    writeWindows1252Lines(files[0], {"[DBKERNEL]", "DatabaseName=" + settings.DatabaseName,
                                     "ServerName=" + settings.ServerName,
                                     "UserName=" + settings.UserName, "SAPW=" + settings.SAPW});
    writeWindows1252Lines(files[1], {"[DataBases]", prescriptionsTableName() + "=Prescriptions"});
}

// Kelvanor.ver is a Windows-1252 file of "key=value" lines, its values read back trimmed and
// without the quotes around them: a value it would give back otherwise is refused rather than
// written as another name.
bool readBackAsWritten(const QString& value)
{
    const bool quoted = value.size() >= 2 && (value.front() == '"' || value.front() == '\'')
                        && value.back() == value.front();
    return !quoted && value == value.trimmed() && !value.contains('\r') && !value.contains('\n')
           && fromWindows1252(toWindows1252(value)) == value;
}

void refuseUnwritableSetting(const QString& what, const QString& value)
{
    if (value.trimmed().isEmpty())
        throw Error("Valeur vide pour " + what + ".");
    if (!readBackAsWritten(value))
        throw Error("Valeur refusée pour " + what + " : « " + value + " » ne serait pas relue telle quelle dans "
                    "Kelvanor.ver (blancs ou guillemets aux bouts, retour à la ligne, ou caractère hors du jeu "
                    "Windows-1252).");
}

// Checked without being repeated in the message: the password appears in no text.
void refuseUnwritablePassword(const QString& password)
{
    if (fromWindows1252(toWindows1252(password)) != password)
        throw Error(QStringLiteral("Le mot de passe ne peut pas être écrit dans Kelvanor.ver : il contient un "
                                   "caractère hors du jeu Windows-1252."));
}

TargetConnectionSettings serverSettings(const ServerDatabase& server)
{
    refuseUnwritableSetting(QStringLiteral("le serveur"), server.server);
    refuseUnwritableSetting(QStringLiteral("la base"), server.database);
    refuseUnwritableSetting(QStringLiteral("l'utilisateur"), server.user);
    refuseUnwritablePassword(server.password);
    TargetConnectionSettings settings;
    settings.ServerName = server.server;
    settings.DatabaseName = server.database;
    settings.UserName = server.user;
    settings.SAPW = ScrambleServerPassword(server.password);
    return settings;
}

QString databaseWording(const ServerDatabase& server)
{
    return "base PostgreSQL « " + server.database + " » du serveur [" + server.server + "]";
}

void openServerDatabase(TargetConnection& connection, const ServerDatabase& server,
                        const TargetConnectionSettings& settings)
{
    connection.setConnectionString(targetConnectionString(settings, server.password));
    try {
        connection.open();
    } catch (const std::exception& error) {
        throw Error("Connexion impossible à la " + databaseWording(server) + " : " + errorMessage(error));
    }
}

// Tables already there may be a practice's data: nothing is created beside them.
void refuseTablesIn(TargetConnection& connection, const ServerDatabase& server)
{
    const QStringList tables = connection.tableAndViewNames();
    if (!tables.isEmpty())
        throw Error(QStringLiteral("La %1 n'est pas vide (%2 tables ou vues, dont « %3 ») : seule une base vide "
                                   "peut devenir une base Tessaris.")
                        .arg(databaseWording(server), QString::number(tables.size()), tables.first()));
}

QStringList missingFiles(const QStringList& files)
{
    QStringList missing;
    for (const QString& file : files) {
        if (!QFile::exists(file))
            missing.append(file);
    }
    return missing;
}

void removeFiles(const QStringList& files)
{
    for (const QString& file : files)
        QFile::remove(file);
}

// The tables and the settings files come together or not at all: PostgreSQL creates tables in
// a transaction, committed once both files are written.
void createSchemaWithSettings(TargetConnection& connection, const QString& folder,
                              const TargetConnectionSettings& settings)
{
    const QStringList created = missingFiles(settingsFiles(folder));
    QSqlDatabase database = connection.database();
    if (!database.transaction())
        connection.throwFailure(database.lastError());
    try {
        createTargetSchema(connection);
        writeSettingsFiles(folder, settings);
        if (!database.commit())
            connection.throwFailure(database.lastError());
    } catch (...) {
        database.rollback();
        removeFiles(created);
        throw;
    }
    connection.makeDurable();
}

} // namespace

// A target that could not be made whole (a full disk) leaves nothing behind: the folder can be
// made a target again once the cause is gone.
void createEmbeddedTarget(const QString& folder)
{
    refuseExistingTarget(folder, {QStringLiteral("Kelvanor.ver"), databaseFileName});
    makeTargetFolder(folder);
    const TargetConnectionSettings settings = embeddedSettings();
    const QString database = folder + settings.DatabaseName;
    const QStringList created = missingFiles(settingsFiles(folder));
    createSqliteDatabase(database);
    try {
        TargetConnection connection(*engineCreating(TargetCreation::EmbeddedFile));
        connection.setConnectionString(targetConnectionString(settings, QString()));
        connection.setBaseFolder(folder);
        connection.open();
        createTargetSchema(connection);
        connection.close();
        writeSettingsFiles(folder, settings);
    } catch (...) {
        removeFiles(created + QStringList{database, database + "-wal", database + "-shm"});
        throw;
    }
}

void createPostgresTarget(const QString& folder, const ServerDatabase& server)
{
    refuseExistingTarget(folder, {QStringLiteral("Kelvanor.ver")});
    const TargetConnectionSettings settings = serverSettings(server);
    TargetConnection connection(*engineCreating(TargetCreation::ServerDatabase));
    openServerDatabase(connection, server, settings);
    refuseTablesIn(connection, server);
    makeTargetFolder(folder);
    createSchemaWithSettings(connection, folder, settings);
    connection.close();
}

} // namespace p1
