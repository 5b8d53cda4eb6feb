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

// The tables the purge empties that the target holds: those the stages fill among them.
QStringList reportedTables(TargetConnection& target)
{
    QSet<QString> present;
    const QStringList discovered = target.tableAndViewNames();
    for (const QString& name : discovered)
        present.insert(withoutSchema(name));
    QStringList tables;
    for (const QString& name : purgeList(discovered))
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

QString stageBalanceText(const StageCounts& counts)
{
    if (counts.balanced())
        return QStringLiteral("équilibrée");
    const qint64 gap = counts.read - (counts.skipped + counts.stored + counts.merged + counts.refused);
    return QStringLiteral("écart de %1").arg(gap);
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
        html += QStringLiteral("<p>Chaque ligne lue est comptée une fois : ignorée, créée, fusionnée ou refusée.</p>\n");
    else
        html += QStringLiteral("<p class=\"bilan-faux\">Des lignes lues ne sont pas comptées : voir les étapes en rouge.</p>\n");
    return html;
}

QString htmlStages(const RunReport& report)
{
    QString html = QStringLiteral("<h2>Étapes</h2>\n<table>\n")
                   + headerRow({"Étape", "Lues", "Ignorées (code 0 ou moins)", "Créées", "Fusionnées",
                                "Refusées", "Échecs", "Secondes", "Bilan"});
    for (const StageCounts& counts : report.stages) {
        html += counts.balanced() ? QStringLiteral("<tr>") : QStringLiteral("<tr class=\"ecart\">");
        html += cell(counts.stage);
        for (qint64 number : {counts.read, counts.skipped, counts.stored, counts.merged, counts.refused,
                              counts.failures})
            html += numberCell(QString::number(number));
        html += numberCell(QLocale(QLocale::French).toString(counts.seconds, 'f', 3)) + cell(stageBalanceText(counts))
                + "</tr>\n";
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

QJsonArray jsonStages(const RunReport& report)
{
    QJsonArray stages;
    for (const StageCounts& counts : report.stages)
        stages.append(QJsonObject{{"etape", counts.stage},
                                  {"lues", counts.read},
                                  {"ignorees", counts.skipped},
                                  {"creees", counts.stored},
                                  {"fusionnees", counts.merged},
                                  {"refusees", counts.refused},
                                  {"echecs", counts.failures},
                                  {"secondes", counts.seconds},
                                  {"equilibre", counts.balanced()}});
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

QString csvBeforeAfter(const QString& section, const QMap<QString, qint64>& before,
                       const QMap<QString, qint64>& after)
{
    QString csv;
    for (const QString& name : unitedKeys(before, after))
        csv += csvLine({section, name, optionalNumber(before, name), optionalNumber(after, name)});
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

TargetSnapshot takeTargetSnapshot(TargetConnection& target)
{
    TargetSnapshot snapshot;
    try {
        for (const QString& table : reportedTables(target))
            if (const std::optional<qint64> rows = countRows(target, table))
                snapshot.tableRows.insert(table, *rows);
        snapshot.lastValues = readLastValues(target);
        snapshot.taken = true;
    } catch (const std::exception&) {
        snapshot.taken = false;
    }
    return snapshot;
}

bool RunReport::balanced() const
{
    return std::all_of(stages.begin(), stages.end(), [](const StageCounts& counts) { return counts.balanced(); });
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
           + htmlStages(report)
           + htmlBeforeAfter("Tables de la base Tessaris (lignes)", "Table", report.before.tableRows,
                             report.after.tableRows)
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
                     {"tables", jsonBeforeAfter("table", report.before.tableRows, report.after.tableRows)},
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
                           "equilibre"});
    for (const StageCounts& counts : report.stages)
        csv += csvLine({"etape", counts.stage, QString::number(counts.read), QString::number(counts.skipped),
                        QString::number(counts.stored), QString::number(counts.merged),
                        QString::number(counts.refused), secondsText(counts.seconds),
                        counts.balanced() ? "oui" : "non"});
    csv += "\r\n" + csvLine({"section", "nom", "avant", "apres"});
    csv += csvBeforeAfter("table", report.before.tableRows, report.after.tableRows);
    csv += csvBeforeAfter("compteur", report.before.lastValues, report.after.lastValues);
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
