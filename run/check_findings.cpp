#include "run/check_findings.h"

#include "common/errors.h"

#include <QMap>

namespace p1 {

namespace {

// The tables whose identifier is the code of the stage's source row.
struct CodeTable {
    QString stage;
    QString table;
    QString column;
};

const QList<CodeTable>& codeTables()
{
    static const QList<CodeTable> tables = {
        {"medecins", "MEDECINS", "MEDECINS_ID"},
        {"medecins", "PL_SUBJ", "PL_SUBJ_ID"},
        {"correspondants", "MEDTRAIT", "MEDTRAIT_ID"},
        {"patients", "PATIENTS", "PATIENTS_ID"},
    };
    return tables;
}

QSet<QString> codesIn(TargetConnection& target, const CodeTable& table)
{
    TargetStatement codes(target, {"SELECT " + table.column + " AS CODE FROM " + table.table});
    codes.open();
    QSet<QString> present;
    for (; !codes.eof(); codes.next())
        present.insert(QString::number(codes.field(QStringLiteral("CODE")).asInteger()));
    codes.close();
    return present;
}

bool holdsTable(TargetConnection& target, const QString& table)
{
    for (const QString& name : target.tableAndViewNames())
        if (name.section(u'.', -1).compare(table, Qt::CaseInsensitive) == 0)
            return true;
    return false;
}

QString presentIdentifiersLine(const QString& stage, const QString& table, qsizetype count)
{
    return QStringLiteral("Étape %1 : %2 identifiant%3 déjà dans la table %4 de la base Tessaris, "
                          "donc refusé%3 par l'importation.")
        .arg(stage)
        .arg(count)
        .arg(count > 1 ? QStringLiteral("s") : QString(), table);
}

QString oversizedLine(const QString& stage, const OversizedValue& oversized)
{
    return QStringLiteral("Étape %1, code source %2 : valeur de %3 caractères pour la colonne %4.%5, "
                          "qui en admet %6.")
        .arg(stage, oversized.sourceCode)
        .arg(oversized.text.value.size())
        .arg(oversized.text.table, oversized.text.column)
        .arg(oversized.text.size);
}

} // namespace

PresentIdentifiers PresentIdentifiers::read(TargetConnection& target)
{
    PresentIdentifiers present;
    for (const CodeTable& table : codeTables()) {
        // A table the target lacks holds no identifier; its stage reports it when it opens it.
        if (holdsTable(target, table.table))
            present.codesByTable_.insert(table.table, codesIn(target, table));
    }
    return present;
}

// A refused row is named once, with the first of its stage's tables that held its code.
QList<PresentIdentifier> PresentIdentifiers::amongRefusals(const QList<StageCounts>& stages) const
{
    QList<PresentIdentifier> found;
    for (const StageCounts& counts : stages) {
        QSet<QString> named;
        for (const FailureRecord& failure : counts.failureLines) {
            if (named.contains(failure.sourceCode))
                continue;
            for (const CodeTable& table : codeTables()) {
                if (table.stage == counts.stage && codesByTable_.value(table.table).contains(failure.sourceCode)) {
                    named.insert(failure.sourceCode);
                    found.append({counts.stage, table.table, failure.sourceCode});
                    break;
                }
            }
        }
    }
    return found;
}

QString prescriptionTableProblem(TargetConnection& target, const std::optional<QString>& namedInEditorIni)
{
    if (!namedInEditorIni)
        return QStringLiteral("Impossible de trouver la table des prescriptions ! EDITOR.INI, à côté de "
                              "Kelvanor.ver, n'en nomme aucune dans sa section [DataBases].");
    if (!holdsTable(target, *namedInEditorIni))
        return "La table des prescriptions " + *namedInEditorIni
               + ", nommée par EDITOR.INI, n'existe pas dans la base Tessaris.";
    return {};
}

QStringList checkFindingLines(const RunReport& report)
{
    QStringList lines;
    if (!report.findings.prescriptionTableProblem.isEmpty())
        lines.append(report.findings.prescriptionTableProblem);
    QMap<std::pair<QString, QString>, qsizetype> presentByTable;
    for (const PresentIdentifier& present : report.findings.presentIdentifiers)
        ++presentByTable[{present.stage, present.table}];
    for (auto found = presentByTable.cbegin(); found != presentByTable.cend(); ++found)
        lines.append(presentIdentifiersLine(found.key().first, found.key().second, found.value()));
    for (const StageCounts& counts : report.stages)
        for (const OversizedValue& oversized : counts.oversizedValues)
            lines.append(oversizedLine(counts.stage, oversized));
    return lines;
}

} // namespace p1
