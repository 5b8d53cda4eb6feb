#include "dbaccess/purge.h"

#include "dbaccess/letter_store.h"
#include "dbaccess/sql_names.h"
#include "common/date_time.h"
#include "common/errors.h"

#include <QDir>

namespace p1 {

namespace {

const QStringList fixedTables = {
    "PATMEDTR",     "MEDTRAIT", "IMAGES",   "ANTECED",    "LETTERS",  "LETTERS_EMAILED",
    "LETTERS_WORKLIST", "SIMPLIFY", "TASKS", "IMPDATA",   "PLANNING", "PL_SUBJ_PARAM",
    "PL_SUBJ_EXAM", "PL_SUBJ",  "CPACTES",  "CPBANKS",    "CPMAIN",   "CPGEST",
    "CPORDPAY",     "CPORG",    "CPREM",    "CPTRANS",    "CPNLOTS",  "CPSVFACT",
    "CPSVMED",      "CPSVNOE",  "CPSVXMD2", "VIDAL",      "DICOM_EXPORTS", "FAMILY_ID",
    "DATA_PRESCR_BLANKS", "DRUGS_CURRENT", "MOTCONSU", "PATIENTS", "MEDECINS",
};

// Owner-qualified names ("DBO.DATA12") lose their first four characters.
QString withoutOwner(const QString& name)
{
    return name.contains(QStringLiteral("DBO.")) ? name.mid(4, 100) : name;
}

bool isShortName(const QString& name)
{
    return name.size() < 11;
}

bool isWorkingTable(const QString& name)
{
    return name.left(4) == QStringLiteral("DATA");
}

const QString lettersTable = QStringLiteral("LETTERS");

// The purge promises an empty table when it says so: each deletion is committed before its line.
void commitDeletion(TargetConnection& target, const QString& name)
{
    if (!target.commitGroup())
        throw TargetUnavailable("La connexion à la base Tessaris a été perdue : la purge de la table " + name
                                + " n'a pas été enregistrée.");
}

bool emptyTable(const QString& name, TargetConnection& target, TargetStatement& Qry1, IdAllocator& ids,
                RunMonitor& ui)
{
    showStatusAtOnce(ui, "Purge de la table [" + name + "] de la base Tessaris...");
    try {
        const std::optional<QString> nameInSql = tableNameInSql(target.engine(), name);
        if (!nameInSql)
            throw Error(QStringLiteral("ce nom de table ne peut pas être employé dans une requête."));
        Qry1.sql() = QStringList{"DELETE FROM " + *nameInSql};
        Qry1.execute();
        ids.RaiseLastValue(name, 0, true);
        commitDeletion(target, name);
        ui.addLogLine("Purge de la table " + name + " effectuée.");
        ui.logLinesCommitted();
        ui.processMessages();
        return true;
    } catch (const TargetUnavailable&) {
        // Going on would leave tables of the previous practice among the new rows.
        throw;
    } catch (const std::exception& error) {
        ui.addLogLine("La table " + name + " n'a pas pu être vidée :" + errorMessage(error));
        return false;
    }
}

// The letters of the emptied table keep their files, out of the way of the new ones.
bool setLetterStoreAsideFor(const PurgeScope& scope, RunMonitor& ui)
{
    const QString asideName = letterStoreSetAsideName(scope.targetBaseFolder, currentWallClock());
    if (asideName.isEmpty())
        return false;
    const QString store = QDir::toNativeSeparators(letterStoreFolder(scope.targetBaseFolder).chopped(1));
    const QString aside = QDir::toNativeSeparators(scope.targetBaseFolder + asideName);
    if (!scope.moveLetterStore) {
        ui.addLogLine("Le dossier des courriers [" + store + "] serait déplacé en [" + aside + "].");
        return true;
    }
    setLetterStoreAside(scope.targetBaseFolder, asideName);
    ui.addLogLine("Le dossier des courriers [" + store + "] a été déplacé en [" + aside + "].");
    ui.logLinesCommitted();
    ui.processMessages();
    return true;
}

} // namespace

QStringList purgeList(const QStringList& discoveredNames, const QString& prescriptionTable)
{
    QStringList names;
    for (const QString& discovered : discoveredNames) {
        const QString name = withoutOwner(discovered.toUpper());
        if (isShortName(name) && isWorkingTable(name))
            names.append(name);
    }
    names += fixedTables;
    if (!prescriptionTable.isEmpty() && !names.contains(prescriptionTable.toUpper()))
        names.append(prescriptionTable.toUpper());
    return names;
}

PurgeOutcome PurgeTarget(TargetConnection& target, TargetStatement& Qry1, IdAllocator& ids, RunMonitor& ui,
                         const PurgeScope& scope)
{
    target.startRunStep();
    ids.forgetValues();
    showStatusAtOnce(ui, QStringLiteral("Récupération des tables de la base Tessaris..."));
    const QStringList discovered = target.tableAndViewNames();
    showStatus(ui, QStringLiteral("Récupération des tables de la base Tessaris terminée"));
    const QStringList names = purgeList(discovered, scope.prescriptionTable);
    ui.addLogLine(QStringLiteral("Purge des données de la base de destination en cours..."));
    showStatus(ui, QStringLiteral("Purge des tables de la base Kelvanor..."));
    PurgeOutcome outcome;
    for (const QString& name : names) {
        if (emptyTable(name, target, Qry1, ids, ui) && name == lettersTable && !scope.targetBaseFolder.isEmpty())
            outcome.letterStoreSetAside = setLetterStoreAsideFor(scope, ui);
    }
    ui.addLogLine(QStringLiteral("Purge des données terminée."));
    ui.processMessages();
    return outcome;
}

} // namespace p1
