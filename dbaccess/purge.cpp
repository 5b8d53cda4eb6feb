#include "dbaccess/purge.h"

#include "dbaccess/sql_names.h"
#include "common/errors.h"

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

void emptyTable(const QString& name, TargetEngine engine, TargetStatement& Qry1, IdAllocator& ids,
                RunMonitor& ui)
{
    showStatusAtOnce(ui, "Purge de la table [" + name + "] de la base Tessaris...");
    try {
        const std::optional<QString> nameInSql = tableNameInSql(engine, name);
        if (!nameInSql)
            throw Error(QStringLiteral("ce nom de table ne peut pas être employé dans une requête."));
        Qry1.sql() = QStringList{"DELETE FROM " + *nameInSql};
        Qry1.execute();
        ids.RaiseLastValue(name, 0, true);
        ui.addLogLine("Purge de la table " + name + " effectuée.");
        ui.processMessages();
    } catch (const TargetUnavailable&) {
        // Going on would leave tables of the previous practice among the new rows.
        throw;
    } catch (const std::exception& error) {
        ui.addLogLine("La table " + name + " n'a pas pu être vidée :" + errorMessage(error));
    }
}

} // namespace

QStringList purgeList(const QStringList& discoveredNames)
{
    QStringList names;
    for (const QString& discovered : discoveredNames) {
        const QString name = withoutOwner(discovered.toUpper());
        if (isShortName(name) && isWorkingTable(name))
            names.append(name);
    }
    return names + fixedTables;
}

void PurgeTarget(TargetConnection& target, TargetStatement& Qry1, IdAllocator& ids, RunMonitor& ui)
{
    target.startRunStep();
    ids.forgetValues();
    showStatusAtOnce(ui, QStringLiteral("Récupération des tables de la base Tessaris..."));
    const QStringList discovered = target.tableAndViewNames();
    showStatus(ui, QStringLiteral("Récupération des tables de la base Tessaris terminée"));
    const QStringList names = purgeList(discovered);
    ui.addLogLine(QStringLiteral("Purge des données de la base de destination en cours..."));
    showStatus(ui, QStringLiteral("Purge des tables de la base Kelvanor..."));
    for (const QString& name : names)
        emptyTable(name, target.engine(), Qry1, ids, ui);
    ui.addLogLine(QStringLiteral("Purge des données terminée."));
    ui.processMessages();
}

} // namespace p1
