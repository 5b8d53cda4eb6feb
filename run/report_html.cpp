#include "run/report_model.h"

#include <algorithm>

namespace p1 {

namespace {

// Longer lists than this are folded under their summary line.
constexpr qsizetype rowsShownUnfolded = 20;

const QString htmlStyle = QStringLiteral(
    "body{font-family:sans-serif;margin:2em;color:#111;max-width:72em}"
    "h1{margin-bottom:0.4em}"
    ".verdict{border-left:0.6em solid;padding:0.6em 1em;margin:0 0 1em 0}"
    ".verdict p{margin:0.3em 0}"
    ".verdict .phrase{font-size:1.25em;font-weight:bold}"
    ".bon{border-color:#1a7f37;background:#e9f5ec}"
    ".attention{border-color:#b26a00;background:#fff3df}"
    ".grave{border-color:#b00000;background:#fbe9e9}"
    ".bilan-juste{color:#1a7f37;font-weight:bold}"
    ".bilan-faux{color:#b00000;font-weight:bold}"
    ".moment{color:#444}"
    "table{border-collapse:collapse;margin-bottom:1em}"
    "th,td{border:1px solid #888;padding:0.2em 0.6em;text-align:left;vertical-align:top}"
    "td.nombre{text-align:right;white-space:nowrap}"
    "tr.ecart td{color:#b00000;font-weight:bold}"
    "tr.total td{font-weight:bold;border-top:2px solid #111}"
    "details{margin-bottom:1.5em}"
    "summary{cursor:pointer;margin-bottom:0.5em}"
    "svg{display:block;margin-bottom:1.5em}"
    "@media print{body{margin:0;max-width:none}h2,h3{page-break-after:avoid}"
    "tr,svg{page-break-inside:avoid}"
    ".verdict,svg{-webkit-print-color-adjust:exact;print-color-adjust:exact}}");

QString escaped(const QString& text)
{
    return text.toHtmlEscaped();
}

QString cellOf(const ReportValue& value)
{
    using Kind = ReportValue::Kind;
    switch (value.kind) {
    case Kind::Missing: return QStringLiteral("<td class=\"nombre\"></td>");
    case Kind::Number: return "<td class=\"nombre\">" + pageNumber(value.number) + "</td>";
    case Kind::Seconds: return "<td class=\"nombre\">" + pageSeconds(value.seconds) + "</td>";
    case Kind::Text: return "<td>" + escaped(value.shown.isEmpty() ? value.text : value.shown) + "</td>";
    case Kind::Check: return "<td>" + escaped(value.text) + "</td>";
    }
    return {};
}

QString rowOf(const ReportRow& row, QStringList classes = {})
{
    if (row.attention)
        classes.append(QStringLiteral("ecart"));
    QString html = classes.isEmpty() ? QStringLiteral("<tr>") : "<tr class=\"" + classes.join(u' ') + "\">";
    for (const ReportValue& value : row.values)
        html += cellOf(value);
    return html + "</tr>\n";
}

QString tableOf(const ReportTable& table, const QList<ReportRow>& rows, bool withTotal = true)
{
    QString html = QStringLiteral("<table>\n<tr>");
    for (const ReportColumn& column : table.columns)
        html += "<th>" + escaped(column.title) + "</th>";
    html += "</tr>\n";
    for (const ReportRow& row : rows)
        html += rowOf(row);
    if (withTotal && table.total)
        html += rowOf(*table.total, {QStringLiteral("total")});
    return html + "</table>\n";
}

QString tableOf(const ReportTable& table)
{
    return tableOf(table, table.rows);
}

// The rows the run changed, then the others folded under one line.
QString foldedTableOf(const ReportTable& table)
{
    QList<ReportRow> changed;
    QList<ReportRow> unchanged;
    for (const ReportRow& row : table.rows)
        (row.unchanged ? unchanged : changed).append(row);
    QString html = "<h2>" + escaped(table.title) + "</h2>\n";
    if (!changed.isEmpty())
        html += tableOf(table, changed);
    if (!unchanged.isEmpty())
        html += "<details><summary>" + escaped(table.unchangedSummary) + "</summary>\n" + tableOf(table, unchanged)
                + "</details>\n";
    return html;
}

// A table of one row, one line per column.
QString objectTableOf(const ReportTable& table)
{
    QString html = "<h2>" + escaped(table.title) + "</h2>\n<table>\n";
    for (qsizetype column = 0; column < table.columns.size(); ++column)
        html += "<tr><th>" + escaped(table.columns[column].title) + "</th>" + cellOf(table.rows[0].values[column])
                + "</tr>\n";
    return html + "</table>\n";
}

// A list under its heading, folded when it is long.
QString listOf(const ReportTable& table, const QString& foldedSummary)
{
    if (table.rows.isEmpty())
        return {};
    QString html = "<h3>" + escaped(table.title) + "</h3>\n";
    if (table.rows.size() <= rowsShownUnfolded)
        return html + tableOf(table);
    return html + "<details><summary>" + escaped(foldedSummary) + "</summary>\n" + tableOf(table) + "</details>\n";
}

QString lines(qint64 number)
{
    return pageNumber(number) + (number < 2 ? " ligne" : " lignes");
}

QString verdictOf(const ReportModel& model)
{
    static const QStringList toneClasses = {"bon", "attention", "grave"};
    const ReportVerdict& verdict = model.verdict;
    const bool balanced = model.summary.valueOf(model.summary.rows[0], "equilibre").holds;
    return "<div class=\"verdict " + toneClasses[int(verdict.tone)] + "\">\n<p class=\"phrase\">"
           + escaped(verdict.sentence) + "</p>\n<p>Bilan : <span class=\""
           + (balanced ? "bilan-juste" : "bilan-faux") + "\">" + escaped(verdict.balanceWord) + "</span> : "
           + escaped(verdict.balanceExplanation) + "</p>\n</div>\n";
}

QString momentOf(const ReportModel& model)
{
    const ReportRow& summary = model.summary.rows[0];
    const double stagesSeconds = model.stages.total ? model.stages.valueOf(*model.stages.total, "secondes").seconds : 0;
    QString html = "<p class=\"moment\">Début : " + escaped(model.summary.valueOf(summary, "debut").shown)
                   + " · Durée : " + durationText(model.summary.valueOf(summary, "duree_secondes").seconds)
                   + ", dont " + durationText(stagesSeconds) + " dans les étapes</p>\n";
    if (model.check)
        html += QStringLiteral("<p>Rien n'a été écrit : la base Tessaris et le dossier des courriers sont tels "
                               "qu'avant la vérification. Les nombres « après » sont ceux que l'importation "
                               "laisserait.</p>\n");
    return html;
}

qint64 letterFigure(const ReportModel& model, const QString& key)
{
    return model.letters.valueOf(model.letters.rows[0], key).number;
}

// The letters whose file was not read, said in words: their rows are among the refused ones.
QString lettersNotFoundOf(const ReportModel& model)
{
    const qint64 missing = letterFigure(model, "fichiers_manquants");
    const qint64 outside = letterFigure(model, "noms_refuses");
    QString html;
    if (missing > 0)
        html += "<p>" + pageNumber(missing)
                + (missing < 2 ? " courrier introuvable : son fichier n'est" : " courriers introuvables : leur fichier n'est")
                + " pas dans le dossier des courriers (lignes « … inexistant. » du journal).</p>\n";
    if (outside > 0)
        html += "<p>" + pageNumber(outside)
                + (outside < 2 ? " nom de fichier mène" : " noms de fichier mènent")
                + " hors du dossier des courriers : le fichier n'a pas été lu (lignes « … inexistant. » du journal).</p>\n";
    return html;
}

// A stage's refused rows its records do not name (nor the letters not found) are named by the log only.
QString unrecordedRefusalsOf(const ReportModel& model)
{
    const qint64 lettersNotFound = letterFigure(model, "fichiers_manquants") + letterFigure(model, "noms_refuses");
    QString html;
    for (const ReportRow& stage : model.stages.rows) {
        const ReportValue& name = model.stages.valueOf(stage, "etape");
        qint64 unrecorded = model.stages.valueOf(stage, "refusees").number
                            - (name.text == QStringLiteral("courriers") ? lettersNotFound : 0);
        for (const ReportRow& refusal : model.refusals.rows)
            unrecorded -= model.refusals.valueOf(refusal, "etape").text == name.text ? 1 : 0;
        if (unrecorded > 0)
            html += "<p>Étape « " + escaped(name.shown) + " » : " + lines(unrecorded)
                    + (unrecorded < 2 ? " refusée que" : " refusées que")
                    + " ce rapport ne détaille pas ; le journal les nomme.</p>\n";
    }
    return html;
}

QString refusalsOf(const ReportModel& model)
{
    if (model.refusalGroups.rows.isEmpty())
        return {};
    return "<h3>" + escaped(model.refusalGroups.title) + "</h3>\n" + tableOf(model.refusalGroups)
           + "<details><summary>Les " + lines(model.refusals.rows.size()) + " une par une</summary>\n"
           + tableOf(model.refusals) + "</details>\n";
}

QString checkFindingsOf(const ReportModel& model)
{
    if (!model.check)
        return {};
    QString html;
    const ReportValue& problem = model.prescriptionTable.rows[0].values[0];
    if (problem.kind == ReportValue::Kind::Text)
        html += "<p class=\"bilan-faux\">" + escaped(problem.text) + "</p>\n";
    html += listOf(model.presentIdentifiers, pageNumber(model.presentIdentifiers.rows.size())
                                                 + " identifiants déjà présents");
    html += listOf(model.oversizedValues,
                   pageNumber(model.oversizedValues.rows.size()) + " valeurs plus longues que leur colonne");
    return html;
}

QString attentionOf(const ReportModel& model)
{
    QString html = lettersNotFoundOf(model) + refusalsOf(model) + unrecordedRefusalsOf(model)
                   + listOf(model.changedValues, pageNumber(model.changedValues.rows.size())
                                                     + " valeurs modifiées sans ligne de journal")
                   + checkFindingsOf(model);
    if (html.isEmpty())
        html = QStringLiteral("<p>Rien à signaler : aucune ligne refusée, aucun courrier introuvable, aucune "
                              "valeur modifiée sans ligne de journal.</p>\n");
    return "<h2>À vérifier</h2>\n" + html;
}

} // namespace

QString htmlOf(const ReportModel& model)
{
    return "<!DOCTYPE html>\n<html lang=\"fr\">\n<head>\n<meta charset=\"utf-8\">\n<title>" + escaped(model.title)
           + "</title>\n<style>" + htmlStyle + "</style>\n</head>\n<body>\n<h1>" + escaped(model.title) + "</h1>\n"
           + verdictOf(model) + momentOf(model) + "<h2>" + escaped(model.stages.title) + "</h2>\n"
           + tableOf(model.stages) + attentionOf(model) + svgChartsOf(model) + foldedTableOf(model.tables)
           + foldedTableOf(model.counters) + objectTableOf(model.letters) + "</body>\n</html>\n";
}

} // namespace p1
