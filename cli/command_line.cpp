#include "cli/command_line.h"

#include "common/errors.h"
#include "common/files.h"
#include "common/stop_signals.h"
#include "run/import_session.h"
#include "run/run_report.h"
#include "stages/stage_table.h"
#include "run/target_initialisation.h"

#include "p1_version.h"

#include <QFileInfo>

#include <optional>
#include <utility>

namespace p1 {

namespace {

constexpr int exitSuccess = 0;
constexpr int exitRunFailed = 1;
constexpr int exitBadArguments = 2;
constexpr int exitRowsNotImported = 3;

const QString usage = QStringLiteral(
    "Utilisation :\n"
    "  p1import --source <V4.mdb ou son dossier> --letters <dossier des courriers>\n"
    "           --target <Kelvanor.ver ou son dossier> [--no-purge] [--only <étapes>] [--yes]\n"
    "           [--target-engine sqlserver|postgres|sqlite] [--odbc-driver <pilote>]\n"
    "           [--report <fichier>] [--commit-each-row] [--check]\n"
    "  p1import --init-target <dossier> [--target-engine sqlite]\n"
    "  p1import --init-target <dossier> --target-engine postgres --server <serveur>\n"
    "           --database <base> --user <utilisateur>\n"
    "  p1import --help\n"
    "  p1import --version\n"
    "\n"
    "Importe dans la base Tessaris les données de la base Sorvane, sans fenêtre ; sans argument,\n"
    "le programme ouvre sa fenêtre.\n"
    "\n"
    "  --source         le fichier V4.mdb de Sorvane (Ordo.mdb doit être dans le même dossier)\n"
    "  --letters        le dossier des courriers de Sorvane\n"
    "  --target         le fichier Kelvanor.ver de la base Tessaris\n"
    "  --no-purge       ne pas vider la base Tessaris avant l'importation\n"
    "  --only           les étapes à exécuter, séparées par des virgules, parmi :\n"
    "                   medecins, correspondants, patients, antecedents, consultations,\n"
    "                   courriers, prescriptions (toutes par défaut)\n"
    "  --yes            ne pas demander de confirmation\n"
    "  --target-engine  le moteur de la base Tessaris (sqlserver par défaut, ou la variable\n"
    "                   d'environnement P1IMPORT_TARGET_ENGINE)\n"
    "  --odbc-driver    le pilote ODBC (nom de odbcinst.ini) par lequel joindre la base Tessaris :\n"
    "                   FreeTDS par défaut pour sqlserver ; pour postgres ou sqlite, au lieu du\n"
    "                   pilote propre au moteur ; de même avec la variable d'environnement\n"
    "                   P1IMPORT_ODBC_DRIVER\n"
    "  --report         écrit aussi le rapport d'importation dans ce fichier, au format que\n"
    "                   son extension désigne : .html, .json ou .csv\n"
    "  --commit-each-row  valide chaque ligne à part (plus lent) au lieu de valider les lignes\n"
    "                   par groupes, au moins chaque seconde ; de même avec la variable\n"
    "                   d'environnement P1IMPORT_COMMIT_EACH_ROW=1\n"
    "  --check          vérifie ce que l'importation rencontrerait, sans rien écrire dans la\n"
    "                   base Tessaris ni dans son dossier : lignes par étape, lignes refusées,\n"
    "                   courriers manquants, valeurs trop longues, table des prescriptions\n"
    "  --version        affiche la version du programme (et la révision git d'où il a été\n"
    "                   construit)\n"
    "  --init-target    crée dans le dossier une base Tessaris vide (SQLite) : Kelvanor.ver,\n"
    "                   EDITOR.INI et la base avec toutes ses tables ; avec --target-engine\n"
    "                   postgres, les tables sont créées dans une base PostgreSQL existante et\n"
    "                   vide, que Kelvanor.ver désigne :\n"
    "  --server         le serveur PostgreSQL : hôte[:port], ou dossier de son socket[:port]\n"
    "  --database       la base PostgreSQL, existante et vide\n"
    "  --user           l'utilisateur PostgreSQL ; son mot de passe est lu dans la variable\n"
    "                   d'environnement P1IMPORT_TARGET_PASSWORD, jamais sur la ligne de commande\n"
    "\n"
    "Les lignes du journal sont écrites sur la sortie standard et enregistrées dans le fichier\n"
    "« P1Import - <date> <heure>.log » du dossier du programme (ou de P1IMPORT_LOG_FOLDER),\n"
    "ou « P1Import - <date> <heure> (2).log », (3)... quand ce nom est déjà pris ; le rapport\n"
    "d'importation l'accompagne, sous le même nom avec l'extension .html. Pendant le traitement,\n"
    "les lignes du journal sont gardées sur le disque à chaque validation dans « P1Import - <date>\n"
    "<heure>.log.en-cours » (heure du début), supprimé une fois le journal enregistré : s'il reste,\n"
    "l'importation a été interrompue avant sa fin, et l'importation suivante le signale.\n"
    "Ctrl+C (SIGINT), SIGTERM ou SIGHUP arrêtent le traitement à la ligne suivante ; le journal se\n"
    "termine alors par « Traitement interrompu : … » ; un second signal arrête le programme aussitôt.\n"
    "Code de sortie : 0 quand le traitement est allé jusqu'au bout, 1 sinon, 2 pour des\n"
    "arguments incorrects, 3 quand des lignes n'ont pas été importées (refusées, non\n"
    "comptées par leur étape, ou comptées mais absentes de la base Tessaris).\n"
    "Avec --check, aucun journal n'est enregistré ; le rapport de la vérification est écrit dans\n"
    "« P1Import - Vérification <date> <heure>.html » du même dossier. Code de sortie : 0 quand\n"
    "l'importation ne refuserait rien, 3 sinon, 1 quand la vérification n'a pas pu se faire.\n");


// "p1import <version>", with the git commit it was built from, when it was built from a clone.
QString versionText()
{
    const QString commit = QString::fromUtf8(P1_GIT_COMMIT);
    QString text = QStringLiteral("p1import " P1_VERSION);
    if (!commit.isEmpty())
        text += QStringLiteral(" (révision git ") + commit + ')';
    return text + '\n';
}

struct Options {
    bool help = false;
    bool version = false;
    QString source;
    QString letters;
    QString target;
    QString initTarget;
    ServerDatabase server; // --init-target on PostgreSQL
    QString report;
    bool purge = true;
    bool yes = false;
    bool commitEachRow = false;
    bool check = false;
    QList<Box> stages;
    std::optional<TargetEngine> engine;
    std::optional<QString> odbcDriver;
};

class BadArguments : public Error {
public:
    using Error::Error;
};

QList<Box> parseStages(const QString& list)
{
    QList<Box> boxes;
    for (const QString& name : list.split(',', Qt::SkipEmptyParts)) {
        const QList<StageEntry>& stages = stageTable();
        const auto known = std::find_if(stages.begin(), stages.end(),
                                        [&](const StageEntry& stage) { return stage.word == name.trimmed(); });
        if (known == stages.end())
            throw BadArguments("Étape inconnue : « " + name.trimmed() + " ».");
        boxes.append(known->box);
    }
    if (boxes.isEmpty())
        throw BadArguments(QStringLiteral("--only attend au moins une étape."));
    return boxes;
}

// Walks "--name value" and "--name=value" forms.
class ArgumentReader {
public:
    explicit ArgumentReader(const QStringList& arguments) : arguments_(arguments) {}

    bool atEnd() const { return index_ >= arguments_.size(); }

    QString nextName()
    {
        QString argument = arguments_[index_++];
        const qsizetype equals = argument.indexOf('=');
        if (argument.startsWith(QStringLiteral("--")) && equals > 0) {
            inlineValue_ = argument.mid(equals + 1);
            argument.truncate(equals);
        }
        return argument;
    }

    QString valueOf(const QString& name)
    {
        if (inlineValue_) {
            const QString value = *inlineValue_;
            inlineValue_.reset();
            return value;
        }
        if (atEnd() || arguments_[index_].startsWith(QStringLiteral("--")))
            throw BadArguments("L'option " + name + " attend une valeur.");
        return arguments_[index_++];
    }

    void refuseValue(const QString& name)
    {
        if (inlineValue_)
            throw BadArguments("L'option " + name + " ne prend pas de valeur.");
    }

private:
    const QStringList& arguments_;
    qsizetype index_ = 0;
    std::optional<QString> inlineValue_;
};

Options parseOptions(const QStringList& arguments)
{
    Options options;
    ArgumentReader reader(arguments);
    while (!reader.atEnd()) {
        const QString name = reader.nextName();
        if (name == "--help" || name == "-h") {
            options.help = true;
        } else if (name == "--version") {
            reader.refuseValue(name);
            options.version = true;
        } else if (name == "--source") {
            options.source = reader.valueOf(name);
        } else if (name == "--letters") {
            options.letters = reader.valueOf(name);
        } else if (name == "--target") {
            options.target = reader.valueOf(name);
        } else if (name == "--init-target") {
            options.initTarget = reader.valueOf(name);
        } else if (name == "--server") {
            options.server.server = reader.valueOf(name);
        } else if (name == "--database") {
            options.server.database = reader.valueOf(name);
        } else if (name == "--user") {
            options.server.user = reader.valueOf(name);
        } else if (name == "--report") {
            options.report = reader.valueOf(name);
            if (!isReportFileName(options.report))
                throw BadArguments("Le rapport [" + options.report + "] doit se terminer par .html, .json ou .csv.");
        } else if (name == "--only") {
            options.stages = parseStages(reader.valueOf(name));
        } else if (name == "--target-engine") {
            const QString engine = reader.valueOf(name);
            options.engine = targetEngineFromName(engine);
            if (!options.engine)
                throw BadArguments("Moteur inconnu : « " + engine + " » (sqlserver, postgres ou sqlite).");
        } else if (name == "--odbc-driver") {
            options.odbcDriver = reader.valueOf(name).trimmed();
            if (options.odbcDriver->isEmpty())
                throw BadArguments(QStringLiteral("--odbc-driver demande le nom d'un pilote ODBC."));
        } else if (name == "--no-purge") {
            reader.refuseValue(name);
            options.purge = false;
        } else if (name == "--commit-each-row") {
            reader.refuseValue(name);
            options.commitEachRow = true;
        } else if (name == "--check") {
            reader.refuseValue(name);
            options.check = true;
        } else if (name == "--yes") {
            reader.refuseValue(name);
            options.yes = true;
        } else {
            throw BadArguments("Argument inconnu : « " + name + " ».");
        }
    }
    return options;
}

void refuseServerOptions(const Options& options, const QString& message)
{
    const ServerDatabase& server = options.server;
    if (!server.server.isEmpty() || !server.database.isEmpty() || !server.user.isEmpty())
        throw BadArguments(message);
}

QString absolutePath(const QString& path)
{
    return QFileInfo(path).absoluteFilePath();
}

// A file given directly, or by its folder (found there whatever its letter case).
QString fileOrFileInFolder(const QString& path, const QString& fileName, const QString& what,
                           const QString& option)
{
    if (path.isEmpty())
        throw BadArguments("L'option " + option + " est obligatoire.");
    const QFileInfo info(path);
    const QString file =
        info.isDir() ? resolveWindowsName(EnsureTrailingBackslash(absolutePath(path)), fileName) : absolutePath(path);
    if (!fileExists(file))
        throw BadArguments(what + " [" + file + "] n'existe pas.");
    return file;
}

QString existingFolder(const QString& path)
{
    if (path.isEmpty())
        throw BadArguments(QStringLiteral("L'option --letters est obligatoire."));
    if (!QFileInfo(path).isDir())
        throw BadArguments("Le dossier des courriers [" + path + "] n'existe pas.");
    return absolutePath(path);
}

void tickBoxes(TerminalUi& ui, const Options& options)
{
    ui.setTicked(Box::Vider, options.purge);
    for (const StageEntry& stage : stageTable())
        ui.setTicked(stage.box, options.stages.isEmpty() || options.stages.contains(stage.box));
}

bool writeRequestedReport(TerminalUi& ui, const RunReport& report, const QString& path)
{
    if (report.stages.isEmpty()) {
        ui.printError("Aucun rapport écrit dans [" + path + "] : le traitement n'a atteint aucune étape.");
        return false;
    }
    try {
        writeReport(report, path);
        return true;
    } catch (const std::exception& error) {
        ui.printError(QStringLiteral("Erreur : ") + errorMessage(error));
        return false;
    }
}

// A run that reached its end line may still have left rows out: a refused row, or a part of a
// stored one (a profession, a link), each named by its failure lines.
bool everyRowStored(const QList<StageCounts>& counts)
{
    return std::all_of(counts.begin(), counts.end(),
                       [](const StageCounts& stage) { return stage.refused == 0 && stage.failures == 0; });
}

// A check that did not reach its end line could not check; one that did says whether the run
// would leave anything out.
int checkStatus(const RunReport& report, bool reachedItsEnd)
{
    if (!reachedItsEnd)
        return exitRunFailed;
    return report.balanced() && report.nothingRefused() ? exitSuccess : exitRowsNotImported;
}

int runImport(const Options& options, const TerminalStreams& streams)
{
    refuseServerOptions(options, QStringLiteral("--server, --database et --user ne servent qu'avec --init-target."));
    const QString sourceFile = fileOrFileInFolder(options.source, "V4.mdb", "La base source", "--source");
    const QString letters = existingFolder(options.letters);
    const QString targetFile = fileOrFileInFolder(options.target, "Kelvanor.ver", "La base cible", "--target");

    TerminalUi ui(streams);
    tickBoxes(ui, options);
    if (options.yes)
        ui.answerYesInAdvance();
    ImportSession session(ui, options.engine.value_or(defaultTargetEngine()));
    if (options.odbcDriver)
        session.ADOConnectionTessaris.setOdbcDriver(*options.odbcDriver);
    if (options.commitEachRow)
        session.setCommitMode(CommitMode::EachRow);
    session.lettersFolderChosen(letters);
    if (!session.targetChosen(targetFile))
        return exitRunFailed;
    session.sourceBaseChosen(sourceFile);
    if (!ui.isImportEnabled()) {
        ui.printError(QStringLiteral("L'importation ne peut pas commencer : la base source n'a pas pu être ouverte."));
        session.closeConnections();
        return exitRunFailed;
    }
    bool reachedItsEnd = false;
    try {
        reachedItsEnd = options.check ? session.checkBeforeImport() : session.ButtonExecuterClick();
    } catch (const std::exception& error) {
        ui.printError(QStringLiteral("Erreur : ") + errorMessage(error));
    }
    session.closeConnections();
    if (!options.report.isEmpty() && !writeRequestedReport(ui, session.lastRunReport(), options.report))
        return exitRunFailed;
    if (options.check)
        return checkStatus(session.lastRunReport(), reachedItsEnd);
    // A run a signal stopped did not do what was asked, whatever its counts say.
    if (!reachedItsEnd && stopSignal() != 0)
        return exitRunFailed;
    // Rows the counts do not account for are rows left out, whether or not the run ended.
    if (!session.lastRunReport().balanced())
        return exitRowsNotImported;
    if (!reachedItsEnd)
        return exitRunFailed;
    return everyRowStored(session.lastRunCounts()) ? exitSuccess : exitRowsNotImported;
}

int initialiseEmbeddedTarget(const Options& options, const QString& folder, const TerminalStreams& streams)
{
    refuseServerOptions(options, QStringLiteral("--server, --database et --user ne servent qu'à une base PostgreSQL "
                                                "(--target-engine postgres)."));
    createEmbeddedTarget(folder);
    printText(streams.out, "Base Tessaris vide créée dans [" + folder + "].\n");
    return exitSuccess;
}

// The password comes from the environment: a command line is seen by every user of the machine.
int initialisePostgresTarget(const Options& options, const QString& folder, const TerminalStreams& streams)
{
    for (const auto& [option, value] : {std::pair{"--server", options.server.server},
                                        std::pair{"--database", options.server.database},
                                        std::pair{"--user", options.server.user}}) {
        if (value.isEmpty())
            throw BadArguments(QStringLiteral("L'option %1 est obligatoire avec --target-engine postgres.").arg(option));
    }
    ServerDatabase server = options.server;
    server.password = qEnvironmentVariable("P1IMPORT_TARGET_PASSWORD");
    createPostgresTarget(folder, server);
    printText(streams.out, "Base Tessaris vide créée : tables créées dans la base PostgreSQL « " + server.database
                               + " » du serveur [" + server.server + "], Kelvanor.ver et EDITOR.INI écrits dans ["
                               + folder + "].\n");
    return exitSuccess;
}

int initialiseTarget(const Options& options, const TerminalStreams& streams)
{
    if (!options.source.isEmpty() || !options.letters.isEmpty() || !options.target.isEmpty())
        throw BadArguments(QStringLiteral("--init-target ne se combine pas avec --source, --letters ou --target."));
    if (options.check)
        throw BadArguments(QStringLiteral("--check ne se combine pas avec --init-target."));
    const QString folder = EnsureTrailingBackslash(absolutePath(options.initTarget));
    const std::optional<TargetEngine> engine =
        options.engine ? options.engine : engineCreating(TargetCreation::EmbeddedFile);
    switch (defaultEngineUnit(*engine).creation()) {
    case TargetCreation::EmbeddedFile:
        return initialiseEmbeddedTarget(options, folder, streams);
    case TargetCreation::ServerDatabase:
        return initialisePostgresTarget(options, folder, streams);
    case TargetCreation::None:
        break;
    }
    throw BadArguments(QStringLiteral("--init-target crée une base SQLite ou PostgreSQL (--target-engine sqlite ou postgres)."));
}

} // namespace

int runCommandLine(const QStringList& arguments)
{
    return runCommandLine(arguments, TerminalStreams{});
}

int runCommandLine(const QStringList& arguments, const TerminalStreams& streams)
{
    try {
        const Options options = parseOptions(arguments);
        if (options.help) {
            printText(streams.out, usage);
            return exitSuccess;
        }
        if (options.version) {
            printText(streams.out, versionText());
            return exitSuccess;
        }
        if (!options.initTarget.isEmpty())
            return initialiseTarget(options, streams);
        return runImport(options, streams);
    } catch (const BadArguments& error) {
        printText(streams.err, error.message() + "\n\n" + usage);
        return exitBadArguments;
    } catch (const std::exception& error) {
        printText(streams.err, "Erreur : " + errorMessage(error) + "\n");
        return exitRunFailed;
    }
}

} // namespace p1
