#include "run/run_report.h"

#include "common/errors.h"
#include "common/file_writing.h"
#include "dbaccess/purge.h"
#include "dbaccess/sql_names.h"

#include <QJsonArray>
#include <QLocale>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QSet>

#include <algorithm>
#include <functional>

namespace p1 {

namespace {

// ---- Snapshot ----

QString withoutSchema(const QString& name)
{
    return name.mid(name.lastIndexOf(u'.') + 1).toUpper();
}

// The tables the purge empties that the target holds (those the stages fill among them), and the
// others named that it holds.
QStringList reportedTables(TargetConnection& target, const QStringList& alsoTables)
{
    QSet<QString> present;
    const QStringList discovered = target.tableAndViewNames();
    for (const QString& name : discovered)
        present.insert(withoutSchema(name));
    QStringList tables;
    for (const QString& name : purgeList(discovered) + alsoTables)
        if (present.contains(name) && !tables.contains(name))
            tables.append(name);
    return tables;
}

std::optional<qint64> countRows(TargetConnection& target, const QString& table)
{
    const std::optional<QString> nameInSql = tableNameInSql(target.engine(), table);
    if (!nameInSql)
        return std::nullopt;
    TargetStatement count(target, {"SELECT COUNT(*) AS ROWS_FOUND FROM " + *nameInSql});
    try {
        count.open();
        return count.field(QStringLiteral("ROWS_FOUND")).asInteger();
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

QMap<QString, qint64> readLastValues(TargetConnection& target)
{
    TargetStatement values(target, {QStringLiteral("SELECT KEY_NAME, LAST_VALUE FROM ID_VALUES")});
    values.open();
    QMap<QString, qint64> lastValues;
    for (; !values.eof(); values.next())
        lastValues.insert(values.field(QStringLiteral("KEY_NAME")).asText(),
                          values.field(QStringLiteral("LAST_VALUE")).asInteger());
    return lastValues;
}

// ---- Common wording ----

// The number followed by its words, singular below 2 as the summary lines have it.
QString counted(qint64 number, const QString& singular, const QString& plural)
{
    return QString::number(number) + u' ' + (number < 2 ? singular : plural);
}

QString stageBalanceText(const RunReport& report, const StageCounts& counts)
{
    if (!counts.balanced()) {
        const qint64 gap = counts.read - (counts.skipped + counts.stored + counts.merged + counts.refused);
        return QStringLiteral("écart de %1").arg(gap);
    }
    if (!report.stageBalanced(counts))
        return counted(report.sourceRows.value(counts.stage), QStringLiteral("ligne dans la table source"),
                       QStringLiteral("lignes dans la table source"));
    return QStringLiteral("équilibrée");
}

QString tableBalanceText(const TableGrowth& growth)
{
    if (growth.counted == 0 && !growth.gained)
        return {};
    if (growth.balanced())
        return QStringLiteral("équilibrée");
    return counted(growth.counted, QStringLiteral("ligne créée comptée"), QStringLiteral("lignes créées comptées"))
           + QStringLiteral(", ") + counted(*growth.gained, QStringLiteral("gagnée"), QStringLiteral("gagnées"));
}

QString sourceRowsText(const RunReport& report, const StageCounts& counts)
{
    return report.sourceRows.contains(counts.stage) ? QString::number(report.sourceRows.value(counts.stage))
                                                    : QString();
}

QString optionalNumber(const QMap<QString, qint64>& values, const QString& key)
{
    return values.contains(key) ? QString::number(values.value(key)) : QString();
}

QStringList unitedKeys(const QMap<QString, qint64>& first, const QMap<QString, qint64>& second)
{
    QStringList keys = first.keys() + second.keys();
    keys.removeDuplicates();
    std::sort(keys.begin(), keys.end());
    return keys;
}

// The failure's wording as its log line reads after the stamp, without the separator.
QString logWording(const FailureRecord& failure)
{
    static const QRegularExpression separator(QStringLiteral("^\\s*:\\s*"));
    return QString(failure.wording).remove(separator);
}

QString secondsText(double seconds)
{
    return QString::number(seconds, 'f', 3);
}

// ---- HTML ----

const QString htmlStyle = QStringLiteral(
    "body{font-family:sans-serif;margin:2em;color:#111}"
    "table{border-collapse:collapse;margin-bottom:1.5em}"
    "th,td{border:1px solid #888;padding:0.2em 0.6em;text-align:left}"
    "td.nombre{text-align:right}"
    "tr.ecart td{color:#b00000;font-weight:bold}"
    ".bilan-faux{color:#b00000;font-weight:bold}"
    "@media print{body{margin:0}h2{page-break-after:avoid}tr{page-break-inside:avoid}}");

QString cell(const QString& text)
{
    return "<td>" + text.toHtmlEscaped() + "</td>";
}

QString numberCell(const QString& number)
{
    return "<td class=\"nombre\">" + number + "</td>";
}

QString headerRow(const QStringList& titles)
{
    QString row = QStringLiteral("<tr>");
    for (const QString& title : titles)
        row += "<th>" + title.toHtmlEscaped() + "</th>";
    return row + "</tr>\n";
}

QString reportTitle(const RunReport& report)
{
    return report.check ? QStringLiteral("Vérification avant importation") : QStringLiteral("Rapport d'importation");
}

QString htmlSummary(const RunReport& report)
{
    QString html = "<p>Début : " + report.startedAt.toString(QStringLiteral("dd/MM/yyyy HH:mm:ss")) + "</p>\n";
    if (report.check)
        html += QStringLiteral("<p>Rien n'a été écrit : la base Tessaris et le dossier des courriers sont tels "
                               "qu'avant la vérification. Les nombres « après » sont ceux que l'importation "
                               "laisserait.</p>\n");
    if (report.ended)
        html += QStringLiteral("<p>Le traitement est allé jusqu'au bout.</p>\n");
    else
        html += "<p class=\"bilan-faux\">Traitement interrompu : " + report.stopReason.toHtmlEscaped() + "</p>\n";
    if (report.balanced())
        html += QStringLiteral("<p>Chaque ligne lue est comptée une fois : ignorée, créée, fusionnée ou refusée ; "
                               "chaque table a gagné les lignes comptées créées.</p>\n");
    else
        html += QStringLiteral("<p class=\"bilan-faux\">Des lignes ne sont pas comptées, ou pas dans la base "
                               "Tessaris : voir les étapes et les tables en rouge.</p>\n");
    return html;
}

QString htmlStages(const RunReport& report)
{
    QString html = QStringLiteral("<h2>Étapes</h2>\n<table>\n")
                   + headerRow({"Étape", "Lignes source", "Lues", "Ignorées (code 0 ou moins)", "Créées",
                                "Fusionnées", "Refusées", "Échecs", "Secondes", "Bilan"});
    for (const StageCounts& counts : report.stages) {
        html += report.stageBalanced(counts) ? QStringLiteral("<tr>") : QStringLiteral("<tr class=\"ecart\">");
        html += cell(counts.stage) + numberCell(sourceRowsText(report, counts));
        for (qint64 number : {counts.read, counts.skipped, counts.stored, counts.merged, counts.refused,
                              counts.failures})
            html += numberCell(QString::number(number));
        html += numberCell(QLocale(QLocale::French).toString(counts.seconds, 'f', 3))
                + cell(stageBalanceText(report, counts)) + "</tr>\n";
    }
    return html + "</table>\n";
}

QString htmlBeforeAfter(const QString& title, const QString& nameTitle, const QMap<QString, qint64>& before,
                        const QMap<QString, qint64>& after)
{
    QString html = "<h2>" + title + "</h2>\n<table>\n" + headerRow({nameTitle, "Avant", "Après"});
    for (const QString& name : unitedKeys(before, after))
        html += "<tr>" + cell(name) + numberCell(optionalNumber(before, name))
                + numberCell(optionalNumber(after, name)) + "</tr>\n";
    return html + "</table>\n";
}

QString htmlTables(const RunReport& report)
{
    const QMap<QString, qint64>& before = report.before.tableRows;
    const QMap<QString, qint64>& after = report.after.tableRows;
    QString html = QStringLiteral("<h2>Tables de la base Tessaris (lignes)</h2>\n<table>\n")
                   + headerRow({"Table", "Avant", "Après", "Créées comptées", "Bilan"});
    for (const QString& table : unitedKeys(before, after)) {
        const TableGrowth growth = report.growthOf(table);
        html += (growth.balanced() ? QStringLiteral("<tr>") : QStringLiteral("<tr class=\"ecart\">")) + cell(table)
                + numberCell(optionalNumber(before, table)) + numberCell(optionalNumber(after, table))
                + numberCell(QString::number(growth.counted)) + cell(tableBalanceText(growth)) + "</tr>\n";
    }
    return html + "</table>\n";
}

QString htmlLetters(const LetterCounts& letters)
{
    QString html = QStringLiteral("<h2>Courriers</h2>\n<table>\n");
    const QList<std::pair<QString, qint64>> lines = {{"Fichiers copiés", letters.filesCopied},
                                                     {"Octets copiés", letters.bytesCopied},
                                                     {"Fichiers manquants", letters.filesMissing},
                                                     {"Noms refusés", letters.namesRefused}};
    for (const auto& [label, number] : lines)
        html += "<tr><th>" + label + "</th>" + numberCell(QString::number(number)) + "</tr>\n";
    return html + "</table>\n";
}

QString htmlFailures(const RunReport& report)
{
    QString html = QStringLiteral("<h2>Lignes refusées</h2>\n");
    QString rows;
    for (const StageCounts& counts : report.stages)
        for (const FailureRecord& failure : counts.failureLines)
            rows += "<tr>" + cell(counts.stage) + cell(failure.sourceCode) + cell(logWording(failure))
                    + cell(failure.message) + "</tr>\n";
    if (rows.isEmpty())
        return html + QStringLiteral("<p>Aucune.</p>\n");
    return html + "<table>\n" + headerRow({"Étape", "Code source", "Ligne du journal", "Message du moteur"})
           + rows + "</table>\n";
}

QString htmlChangedValues(const RunReport& report)
{
    QString html = QStringLiteral("<h2>Valeurs modifiées par l'importation</h2>\n");
    QString rows;
    for (const StageCounts& counts : report.stages)
        for (const ChangedValue& change : counts.changedValues)
            rows += "<tr>" + cell(counts.stage) + cell(change.sourceCode) + cell(change.column)
                    + cell(change.sourceValue) + cell(change.storedValue) + "</tr>\n";
    if (rows.isEmpty())
        return html + QStringLiteral("<p>Aucune.</p>\n");
    return html + "<table>\n"
           + headerRow({"Étape", "Code source", "Colonne", "Valeur source", "Valeur enregistrée"}) + rows
           + "</table>\n";
}

QString htmlPrescriptionTable(const CheckFindings& findings)
{
    const QString html = QStringLiteral("<h2>Table des prescriptions</h2>\n");
    if (findings.prescriptionTableProblem.isEmpty())
        return html + QStringLiteral("<p>Trouvée dans EDITOR.INI et dans la base Tessaris.</p>\n");
    return html + "<p class=\"bilan-faux\">" + findings.prescriptionTableProblem.toHtmlEscaped() + "</p>\n";
}

QString htmlPresentIdentifiers(const CheckFindings& findings)
{
    QString html = QStringLiteral("<h2>Identifiants déjà présents dans la base Tessaris</h2>\n");
    if (findings.presentIdentifiers.isEmpty())
        return html + QStringLiteral("<p>Aucun.</p>\n");
    html += "<table>\n" + headerRow({"Étape", "Table", "Code source"});
    for (const PresentIdentifier& present : findings.presentIdentifiers)
        html += "<tr>" + cell(present.stage) + cell(present.table) + cell(present.sourceCode) + "</tr>\n";
    return html + "</table>\n";
}

QString htmlOversizedValues(const RunReport& report)
{
    QString html = QStringLiteral("<h2>Valeurs plus longues que leur colonne</h2>\n");
    QString rows;
    for (const StageCounts& counts : report.stages)
        for (const OversizedValue& oversized : counts.oversizedValues)
            rows += "<tr>" + cell(counts.stage) + cell(oversized.sourceCode) + cell(oversized.text.table)
                    + cell(oversized.text.column) + numberCell(QString::number(oversized.text.size))
                    + numberCell(QString::number(oversized.text.value.size())) + cell(oversized.text.value)
                    + "</tr>\n";
    if (rows.isEmpty())
        return html + QStringLiteral("<p>Aucune.</p>\n");
    return html + "<table>\n"
           + headerRow({"Étape", "Code source", "Table", "Colonne", "Taille", "Longueur", "Valeur"}) + rows
           + "</table>\n";
}

QString htmlCheckFindings(const RunReport& report)
{
    if (!report.check)
        return {};
    return htmlPrescriptionTable(report.findings) + htmlPresentIdentifiers(report.findings)
           + htmlOversizedValues(report);
}

// ---- JSON ----

QJsonValue optionalJson(const QMap<QString, qint64>& values, const QString& key)
{
    return values.contains(key) ? QJsonValue(values.value(key)) : QJsonValue(QJsonValue::Null);
}

QJsonArray jsonBeforeAfter(const QString& nameKey, const QMap<QString, qint64>& before,
                           const QMap<QString, qint64>& after)
{
    QJsonArray entries;
    for (const QString& name : unitedKeys(before, after))
        entries.append(QJsonObject{{nameKey, name},
                                   {"avant", optionalJson(before, name)},
                                   {"apres", optionalJson(after, name)}});
    return entries;
}

QJsonArray jsonTables(const RunReport& report)
{
    QJsonArray tables;
    for (const QString& table : unitedKeys(report.before.tableRows, report.after.tableRows)) {
        const TableGrowth growth = report.growthOf(table);
        tables.append(QJsonObject{{"table", table},
                                  {"avant", optionalJson(report.before.tableRows, table)},
                                  {"apres", optionalJson(report.after.tableRows, table)},
                                  {"creees_comptees", growth.counted},
                                  {"equilibre", growth.balanced()}});
    }
    return tables;
}

QJsonArray jsonStages(const RunReport& report)
{
    QJsonArray stages;
    for (const StageCounts& counts : report.stages)
        stages.append(QJsonObject{{"etape", counts.stage},
                                  {"lignes_source", optionalJson(report.sourceRows, counts.stage)},
                                  {"lues", counts.read},
                                  {"ignorees", counts.skipped},
                                  {"creees", counts.stored},
                                  {"fusionnees", counts.merged},
                                  {"refusees", counts.refused},
                                  {"echecs", counts.failures},
                                  {"secondes", counts.seconds},
                                  {"equilibre", report.stageBalanced(counts)}});
    return stages;
}

QJsonArray jsonChangedValues(const RunReport& report)
{
    QJsonArray changes;
    for (const StageCounts& counts : report.stages)
        for (const ChangedValue& change : counts.changedValues)
            changes.append(QJsonObject{{"etape", counts.stage},
                                       {"code_source", change.sourceCode},
                                       {"colonne", change.column},
                                       {"valeur_source", change.sourceValue},
                                       {"valeur_enregistree", change.storedValue}});
    return changes;
}

QJsonArray jsonFailures(const RunReport& report)
{
    QJsonArray failures;
    for (const StageCounts& counts : report.stages)
        for (const FailureRecord& failure : counts.failureLines)
            failures.append(QJsonObject{{"etape", counts.stage},
                                        {"code_source", failure.sourceCode},
                                        {"libelle", logWording(failure)},
                                        {"message", failure.message}});
    return failures;
}

QJsonObject jsonCheckFindings(const RunReport& report)
{
    QJsonArray present;
    for (const PresentIdentifier& identifier : report.findings.presentIdentifiers)
        present.append(QJsonObject{{"etape", identifier.stage},
                                   {"table", identifier.table},
                                   {"code_source", identifier.sourceCode}});
    QJsonArray oversized;
    for (const StageCounts& counts : report.stages)
        for (const OversizedValue& value : counts.oversizedValues)
            oversized.append(QJsonObject{{"etape", counts.stage},
                                         {"code_source", value.sourceCode},
                                         {"table", value.text.table},
                                         {"colonne", value.text.column},
                                         {"taille", value.text.size},
                                         {"longueur", value.text.value.size()},
                                         {"valeur", value.text.value}});
    const QString& problem = report.findings.prescriptionTableProblem;
    return QJsonObject{{"table_prescriptions", problem.isEmpty() ? QJsonValue(QJsonValue::Null) : QJsonValue(problem)},
                       {"identifiants_presents", present},
                       {"valeurs_trop_longues", oversized}};
}

// ---- CSV ----

QString csvField(const QString& text)
{
    if (!text.contains(u';') && !text.contains(u'"') && !text.contains(u'\n') && !text.contains(u'\r'))
        return text;
    return u'"' + QString(text).replace(u'"', QStringLiteral("\"\"")) + u'"';
}

QString csvLine(const QStringList& fields)
{
    QStringList quoted;
    for (const QString& field : fields)
        quoted.append(csvField(field));
    return quoted.join(u';') + "\r\n";
}

QString csvTables(const RunReport& report)
{
    QString csv;
    for (const QString& table : unitedKeys(report.before.tableRows, report.after.tableRows)) {
        const TableGrowth growth = report.growthOf(table);
        csv += csvLine({"table", table, optionalNumber(report.before.tableRows, table),
                        optionalNumber(report.after.tableRows, table), QString::number(growth.counted),
                        growth.balanced() ? "oui" : "non"});
    }
    return csv;
}

QString csvCounters(const RunReport& report)
{
    QString csv;
    for (const QString& key : unitedKeys(report.before.lastValues, report.after.lastValues))
        csv += csvLine({"compteur", key, optionalNumber(report.before.lastValues, key),
                        optionalNumber(report.after.lastValues, key), QString(), QString()});
    return csv;
}

void writeUtf8(const QString& path, const QByteArray& bytes)
{
    try {
        writeWholeFile(path, bytes);
    } catch (const FileWriteError& error) {
        throw Error("Le rapport [" + path + "] n'a pas pu être écrit : " + error.reason());
    }
}

QString csvCheckFindings(const RunReport& report)
{
    if (!report.check)
        return {};
    QString csv = "\r\n" + csvLine({"section", "probleme"});
    csv += csvLine({"table_prescriptions", report.findings.prescriptionTableProblem});
    csv += "\r\n" + csvLine({"section", "etape", "table", "code_source"});
    for (const PresentIdentifier& present : report.findings.presentIdentifiers)
        csv += csvLine({"identifiant_present", present.stage, present.table, present.sourceCode});
    csv += "\r\n" + csvLine({"section", "etape", "code_source", "table", "colonne", "taille", "longueur", "valeur"});
    for (const StageCounts& counts : report.stages)
        for (const OversizedValue& value : counts.oversizedValues)
            csv += csvLine({"valeur_trop_longue", counts.stage, value.sourceCode, value.text.table, value.text.column,
                            QString::number(value.text.size), QString::number(value.text.value.size()),
                            value.text.value});
    return csv;
}

using Rendering = std::function<QByteArray(const RunReport&)>;

std::optional<Rendering> renderingFor(const QString& path)
{
    const QString lower = path.toLower();
    if (lower.endsWith(QStringLiteral(".html")))
        return [](const RunReport& report) { return reportHtml(report).toUtf8(); };
    if (lower.endsWith(QStringLiteral(".json")))
        return [](const RunReport& report) { return reportJson(report).toUtf8(); };
    if (lower.endsWith(QStringLiteral(".csv")))
        // The byte order mark makes spreadsheets read the accents as UTF-8.
        return [](const RunReport& report) { return "\xEF\xBB\xBF" + reportCsv(report).toUtf8(); };
    return std::nullopt;
}

} // namespace

TargetSnapshot takeTargetSnapshot(TargetConnection& target, const QStringList& alsoTables)
{
    TargetSnapshot snapshot;
    try {
        for (const QString& table : reportedTables(target, alsoTables))
            if (const std::optional<qint64> rows = countRows(target, table))
                snapshot.tableRows.insert(table, *rows);
        snapshot.lastValues = readLastValues(target);
        snapshot.taken = true;
    } catch (const std::exception&) {
        snapshot.taken = false;
    }
    return snapshot;
}

bool TableGrowth::balanced() const
{
    if (!gained)
        return true;
    return uncountedRowsToo ? *gained >= counted : *gained == counted;
}

bool RunReport::stageBalanced(const StageCounts& counts) const
{
    return counts.balanced() && (!sourceRows.contains(counts.stage) || sourceRows.value(counts.stage) == counts.read);
}

// A table no stage creates its rows in is not checked: nothing says what it should gain.
TableGrowth RunReport::growthOf(const QString& table) const
{
    TableGrowth growth;
    bool checked = false;
    for (const StageCounts& counts : stages) {
        const StageTables& tables = stageTables.value(counts.stage);
        if (tables.created == table) {
            growth.counted += counts.stored;
            checked = true;
        }
        growth.uncountedRowsToo = growth.uncountedRowsToo || tables.uncounted.contains(table);
    }
    if (checked && start.taken && after.taken && start.tableRows.contains(table) && after.tableRows.contains(table))
        growth.gained = after.tableRows.value(table) - start.tableRows.value(table);
    return growth;
}

bool RunReport::balanced() const
{
    const auto stageBalancedHere = [this](const StageCounts& counts) { return stageBalanced(counts); };
    if (!std::all_of(stages.begin(), stages.end(), stageBalancedHere))
        return false;
    const QStringList tables = unitedKeys(before.tableRows, after.tableRows);
    return std::all_of(tables.begin(), tables.end(),
                       [this](const QString& table) { return growthOf(table).balanced(); });
}

bool RunReport::nothingRefused() const
{
    return findings.prescriptionTableProblem.isEmpty() && findings.presentIdentifiers.isEmpty()
           && std::all_of(stages.begin(), stages.end(), [](const StageCounts& counts) {
                  return counts.refused == 0 && counts.failures == 0 && counts.oversizedValues.isEmpty();
              });
}

QString reportHtml(const RunReport& report)
{
    return "<!DOCTYPE html>\n<html lang=\"fr\">\n<head>\n<meta charset=\"utf-8\">\n"
           "<title>" + reportTitle(report) + "</title>\n<style>" + htmlStyle + "</style>\n</head>\n<body>\n"
           "<h1>" + reportTitle(report) + "</h1>\n" + htmlSummary(report) + htmlCheckFindings(report)
           + htmlStages(report) + htmlTables(report)
           + htmlBeforeAfter("Compteurs ID_VALUES", "Clé", report.before.lastValues, report.after.lastValues)
           + htmlLetters(report.letters) + htmlChangedValues(report) + htmlFailures(report)
           + "</body>\n</html>\n";
}

QString reportJson(const RunReport& report)
{
    const QJsonObject letters{{"fichiers_copies", report.letters.filesCopied},
                              {"octets_copies", report.letters.bytesCopied},
                              {"fichiers_manquants", report.letters.filesMissing},
                              {"noms_refuses", report.letters.namesRefused}};
    QJsonObject root{{"debut", report.startedAt.toString(Qt::ISODate)},
                     {"termine", report.ended},
                     {"raison_arret", report.stopReason},
                     {"equilibre", report.balanced()},
                     {"etapes", jsonStages(report)},
                     {"tables", jsonTables(report)},
                     {"compteurs", jsonBeforeAfter("cle", report.before.lastValues, report.after.lastValues)},
                     {"courriers", letters},
                     {"valeurs_modifiees", jsonChangedValues(report)},
                     {"refus", jsonFailures(report)}};
    if (report.check) {
        root.insert("verification", true);
        root.insert("constats", jsonCheckFindings(report));
    }
    return QString::fromUtf8(QJsonDocument(root).toJson(QJsonDocument::Indented));
}

QString reportCsv(const RunReport& report)
{
    QString csv = csvLine({"section", "nom", "lues", "ignorees", "creees", "fusionnees", "refusees", "secondes",
                           "equilibre", "echecs", "lignes_source"});
    for (const StageCounts& counts : report.stages)
        csv += csvLine({"etape", counts.stage, QString::number(counts.read), QString::number(counts.skipped),
                        QString::number(counts.stored), QString::number(counts.merged),
                        QString::number(counts.refused), secondsText(counts.seconds),
                        report.stageBalanced(counts) ? "oui" : "non", QString::number(counts.failures),
                        sourceRowsText(report, counts)});
    csv += "\r\n" + csvLine({"section", "nom", "avant", "apres", "creees_comptees", "equilibre"});
    csv += csvTables(report) + csvCounters(report);
    csv += "\r\n" + csvLine({"section", "fichiers_copies", "octets_copies", "fichiers_manquants", "noms_refuses"});
    csv += csvLine({"courriers", QString::number(report.letters.filesCopied),
                    QString::number(report.letters.bytesCopied), QString::number(report.letters.filesMissing),
                    QString::number(report.letters.namesRefused)});
    csv += "\r\n" + csvLine({"section", "etape", "code_source", "colonne", "valeur_source", "valeur_enregistree"});
    for (const StageCounts& counts : report.stages)
        for (const ChangedValue& change : counts.changedValues)
            csv += csvLine({"modification", counts.stage, change.sourceCode, change.column, change.sourceValue,
                            change.storedValue});
    csv += "\r\n" + csvLine({"section", "etape", "code_source", "libelle", "message"});
    for (const StageCounts& counts : report.stages)
        for (const FailureRecord& failure : counts.failureLines)
            csv += csvLine({"refus", counts.stage, failure.sourceCode, logWording(failure), failure.message});
    return csv + csvCheckFindings(report);
}

bool isReportFileName(const QString& path)
{
    return renderingFor(path).has_value();
}

void writeReport(const RunReport& report, const QString& path)
{
    const std::optional<Rendering> rendering = renderingFor(path);
    if (!rendering)
        throw Error("Le rapport [" + path + "] doit se terminer par .html, .json ou .csv.");
    writeUtf8(path, (*rendering)(report));
}

} // namespace p1
