#include "run/report_model.h"

#include "stages/stage_table.h"

#include <QLocale>
#include <QRegularExpression>

#include <algorithm>

namespace p1 {

ReportValue ReportValue::ofText(const QString& text, const QString& shown)
{
    ReportValue value;
    value.kind = Kind::Text;
    value.text = text;
    value.shown = shown;
    return value;
}

ReportValue ReportValue::ofNumber(qint64 number)
{
    ReportValue value;
    value.kind = Kind::Number;
    value.number = number;
    return value;
}

ReportValue ReportValue::ofSeconds(double seconds)
{
    ReportValue value;
    value.kind = Kind::Seconds;
    value.seconds = seconds;
    return value;
}

ReportValue ReportValue::ofCheck(bool holds, const QString& explanation)
{
    ReportValue value;
    value.kind = Kind::Check;
    value.holds = holds;
    value.text = explanation;
    return value;
}

ReportValue ReportValue::ofEntry(const QMap<QString, qint64>& values, const QString& key)
{
    return values.contains(key) ? ofNumber(values.value(key)) : missing();
}

qsizetype ReportTable::columnOf(const QString& key) const
{
    for (qsizetype i = 0; i < columns.size(); ++i)
        if (columns[i].key == key)
            return i;
    return -1;
}

const ReportValue& ReportTable::valueOf(const ReportRow& row, const QString& key) const
{
    static const ReportValue none;
    const qsizetype column = columnOf(key);
    return column >= 0 && column < row.values.size() ? row.values[column] : none;
}

QList<qsizetype> ReportTable::csvColumns() const
{
    QList<qsizetype> order;
    for (const QString& key : csvOrder)
        if (const qsizetype column = columnOf(key); column >= 0)
            order.append(column);
    for (qsizetype i = 0; i < columns.size(); ++i)
        if (!order.contains(i))
            order.append(i);
    return order;
}

QList<const ReportTable*> ReportModel::fileTables() const
{
    QList<const ReportTable*> files{&stages, &tables, &counters, &letters, &changedValues, &refusals};
    if (check)
        files += {&prescriptionTable, &presentIdentifiers, &oversizedValues};
    return files + QList<const ReportTable*>{&refusalGroups, &summary};
}

QString pageNumber(qint64 number)
{
    return QLocale(QLocale::French).toString(number);
}

QString pageSeconds(double seconds)
{
    return QLocale(QLocale::French).toString(seconds, 'f', 3);
}

QString durationText(double seconds)
{
    if (seconds < 10)
        return pageSeconds(seconds) + QStringLiteral(" s");
    if (seconds < 60)
        return QLocale(QLocale::French).toString(seconds, 'f', 1) + QStringLiteral(" s");
    const qint64 whole = qRound64(seconds);
    if (whole < 3600)
        return QStringLiteral("%1 min %2 s").arg(whole / 60).arg(whole % 60, 2, 10, QChar(u'0'));
    return QStringLiteral("%1 h %2 min").arg(whole / 3600).arg(whole % 3600 / 60, 2, 10, QChar(u'0'));
}

namespace {

using Value = ReportValue;

// ---- Wording ----

// The number followed by its words, singular below 2 as the summary lines have it.
QString counted(qint64 number, const QString& singular, const QString& plural)
{
    return pageNumber(number) + u' ' + (number < 2 ? singular : plural);
}

// What a stage's rows are called in a sentence, as its summary line names them.
struct StageNouns {
    QString word;
    QString singular;
    QString plural;
};

QString stageRows(const QString& word, qint64 number)
{
    static const QList<StageNouns> nouns = {
        {"medecins", "utilisateur", "utilisateurs"},
        {"correspondants", "correspondant", "correspondants"},
        {"patients", "patient", "patients"},
        {"antecedents", "antécédent", "antécédents"},
        {"consultations", "consultation", "consultations"},
        {"courriers", "courrier", "courriers"},
        {"prescriptions", "prescription", "prescriptions"},
    };
    for (const StageNouns& stage : nouns)
        if (stage.word == word)
            return counted(number, stage.singular, stage.plural);
    return counted(number, "ligne", "lignes") + " (" + word + u')';
}

} // namespace

// The stage's caption in the window, without the verb every caption starts with.
QString stageCaption(const QString& word)
{
    static const QRegularExpression verb(QStringLiteral("^importer (les )?"));
    for (const StageEntry& stage : stageTable())
        if (stage.word == word)
            return QString(stage.caption).remove(verb);
    return word;
}

namespace {

Value stageName(const QString& word)
{
    return Value::ofText(word, stageCaption(word));
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

// The failure's wording as its log line reads after the stamp, without the separator.
QString logWording(const FailureRecord& failure)
{
    static const QRegularExpression separator(QStringLiteral("^\\s*:\\s*"));
    return QString(failure.wording).remove(separator);
}

// "33 autres tables : inchangées", or "36 tables : inchangées" when the run changed none.
QString unchangedSummary(const ReportTable& table, const QString& noun, const QString& nouns,
                         const QString& adjective, const QString& adjectives)
{
    const qsizetype unchanged = std::count_if(table.rows.begin(), table.rows.end(),
                                              [](const ReportRow& row) { return row.unchanged; });
    const bool others = unchanged < table.rows.size();
    return pageNumber(unchanged) + u' ' + (others ? (unchanged < 2 ? "autre " : "autres ") : QString())
           + (unchanged < 2 ? noun + " : " + adjective : nouns + " : " + adjectives);
}

// ---- The tables ----

ReportTable stagesTable(const RunReport& report)
{
    ReportTable table{.jsonKey = "etapes",
                      .csvLabel = "etape",
                      .csvOrder = {"etape", "lues", "ignorees", "creees", "fusionnees", "refusees", "secondes",
                                   "equilibre", "echecs", "lignes_source"},
                      .title = "Étapes",
                      .columns = {{"etape", "Étape", "nom"},
                                  {"lignes_source", "Lignes source"},
                                  {"lues", "Lues"},
                                  {"ignorees", "Ignorées (code 0 ou moins)"},
                                  {"creees", "Créées"},
                                  {"fusionnees", "Fusionnées"},
                                  {"refusees", "Refusées"},
                                  {"echecs", "Échecs"},
                                  {"secondes", "Secondes"},
                                  {"equilibre", "Bilan"}}};
    StageCounts sum;
    bool everySourceCounted = true;
    qint64 sourceRows = 0;
    qsizetype unbalanced = 0;
    for (const StageCounts& counts : report.stages) {
        const bool balanced = report.stageBalanced(counts);
        table.rows.append({.values = {stageName(counts.stage), Value::ofEntry(report.sourceRows, counts.stage),
                                      Value::ofNumber(counts.read), Value::ofNumber(counts.skipped),
                                      Value::ofNumber(counts.stored), Value::ofNumber(counts.merged),
                                      Value::ofNumber(counts.refused), Value::ofNumber(counts.failures),
                                      Value::ofSeconds(counts.seconds),
                                      Value::ofCheck(balanced, stageBalanceText(report, counts))},
                           .attention = !balanced});
        sum.read += counts.read;
        sum.skipped += counts.skipped;
        sum.stored += counts.stored;
        sum.merged += counts.merged;
        sum.refused += counts.refused;
        sum.failures += counts.failures;
        sum.seconds += counts.seconds;
        everySourceCounted = everySourceCounted && report.sourceRows.contains(counts.stage);
        sourceRows += report.sourceRows.value(counts.stage);
        unbalanced += balanced ? 0 : 1;
    }
    const QString balance = unbalanced == 0 ? QStringLiteral("équilibrées")
                                            : counted(unbalanced, "étape en écart", "étapes en écart");
    table.total = ReportRow{
        .values = {Value::ofText("total", "Total"), everySourceCounted ? Value::ofNumber(sourceRows) : Value::missing(),
                   Value::ofNumber(sum.read), Value::ofNumber(sum.skipped), Value::ofNumber(sum.stored),
                   Value::ofNumber(sum.merged), Value::ofNumber(sum.refused), Value::ofNumber(sum.failures),
                   Value::ofSeconds(sum.seconds), Value::ofCheck(unbalanced == 0, balance)},
        .attention = unbalanced != 0};
    return table;
}

ReportTable targetTablesTable(const RunReport& report)
{
    ReportTable table{.jsonKey = "tables",
                      .csvLabel = "table",
                      .title = "Tables de la base Tessaris (lignes)",
                      .columns = {{"table", "Table", "nom"},
                                  {"avant", "Avant"},
                                  {"apres", "Après"},
                                  {"creees_comptees", "Créées comptées"},
                                  {"equilibre", "Bilan"}}};
    const QMap<QString, qint64>& before = report.before.tableRows;
    const QMap<QString, qint64>& after = report.after.tableRows;
    for (const QString& name : unitedKeys(before, after)) {
        const TableGrowth growth = report.growthOf(name);
        const bool sameRows = before.contains(name) == after.contains(name) && before.value(name) == after.value(name);
        table.rows.append({.values = {Value::ofText(name), Value::ofEntry(before, name), Value::ofEntry(after, name),
                                      Value::ofNumber(growth.counted),
                                      Value::ofCheck(growth.balanced(), tableBalanceText(growth))},
                           .attention = !growth.balanced(),
                           .unchanged = sameRows && growth.counted == 0 && growth.balanced()});
    }
    table.unchangedSummary = unchangedSummary(table, "table", "tables", "inchangée", "inchangées");
    return table;
}

ReportTable countersTable(const RunReport& report)
{
    ReportTable table{.jsonKey = "compteurs",
                      .csvLabel = "compteur",
                      .csvSharesPreviousBlock = true,
                      .title = "Compteurs ID_VALUES",
                      .columns = {{"cle", "Clé", "nom"}, {"avant", "Avant"}, {"apres", "Après"}}};
    const QMap<QString, qint64>& before = report.before.lastValues;
    const QMap<QString, qint64>& after = report.after.lastValues;
    // A counter the target did not hold gives its first number as one at 0 does: made at 0, it is unchanged.
    for (const QString& key : unitedKeys(before, after))
        table.rows.append({.values = {Value::ofText(key), Value::ofEntry(before, key), Value::ofEntry(after, key)},
                           .unchanged = before.value(key) == after.value(key)});
    table.unchangedSummary = unchangedSummary(table, "compteur", "compteurs", "inchangé", "inchangés");
    return table;
}

ReportTable lettersTable(const LetterCounts& letters)
{
    return {.jsonKey = "courriers",
            .shape = JsonShape::Object,
            .csvLabel = "courriers",
            .title = "Courriers",
            .columns = {{"fichiers_copies", "Fichiers copiés"},
                        {"octets_copies", "Octets copiés"},
                        {"fichiers_manquants", "Fichiers manquants"},
                        {"noms_refuses", "Noms refusés"}},
            .rows = {{.values = {Value::ofNumber(letters.filesCopied), Value::ofNumber(letters.bytesCopied),
                                 Value::ofNumber(letters.filesMissing), Value::ofNumber(letters.namesRefused)}}}};
}

ReportTable changedValuesTable(const RunReport& report)
{
    ReportTable table{.jsonKey = "valeurs_modifiees",
                      .csvLabel = "modification",
                      .title = "Valeurs modifiées sans ligne de journal",
                      .columns = {{"etape", "Étape"},
                                  {"code_source", "Code source"},
                                  {"colonne", "Colonne"},
                                  {"valeur_source", "Valeur source"},
                                  {"valeur_enregistree", "Valeur enregistrée"}}};
    for (const StageCounts& counts : report.stages)
        for (const ChangedValue& change : counts.changedValues)
            table.rows.append({.values = {stageName(counts.stage), Value::ofText(change.sourceCode),
                                          Value::ofText(change.column), Value::ofText(change.sourceValue),
                                          Value::ofText(change.storedValue)}});
    return table;
}

ReportTable refusalsTable(const RunReport& report)
{
    ReportTable table{.jsonKey = "refus",
                      .csvLabel = "refus",
                      .title = "Lignes refusées",
                      .columns = {{"etape", "Étape"},
                                  {"code_source", "Code source"},
                                  {"libelle", "Ligne du journal"},
                                  {"message", "Message"}}};
    for (const StageCounts& counts : report.stages)
        for (const FailureRecord& failure : counts.failureLines)
            table.rows.append({.values = {stageName(counts.stage), Value::ofText(failure.sourceCode),
                                          Value::ofText(logWording(failure)), Value::ofText(failure.message)}});
    return table;
}

// The refusals of each stage that share a message, one line each, in the order they first came:
// six hundred rows refused for one reason are one reason to look into.
ReportTable refusalGroupsTable(const RunReport& report)
{
    constexpr qsizetype codesShown = 10;
    ReportTable table{.jsonKey = "refus_par_message",
                      .csvLabel = "refus_groupe",
                      .title = "Lignes refusées, par message",
                      .columns = {{"etape", "Étape"},
                                  {"message", "Message"},
                                  {"nombre", "Lignes"},
                                  {"premiers_codes", "Premiers codes source"}}};
    for (const StageCounts& counts : report.stages) {
        QStringList messages;
        QList<QStringList> codes;
        for (const FailureRecord& failure : counts.failureLines) {
            const QString message = failure.message.isEmpty() ? logWording(failure) : failure.message;
            qsizetype group = messages.indexOf(message);
            if (group < 0) {
                group = messages.size();
                messages.append(message);
                codes.append(QStringList());
            }
            codes[group].append(failure.sourceCode);
        }
        for (qsizetype group = 0; group < messages.size(); ++group)
            table.rows.append({.values = {stageName(counts.stage), Value::ofText(messages[group]),
                                          Value::ofNumber(codes[group].size()),
                                          Value::ofText(codes[group].mid(0, codesShown).join(", "))}});
    }
    return table;
}

ReportTable prescriptionTableTable(const CheckFindings& findings)
{
    const QString& problem = findings.prescriptionTableProblem;
    return {.jsonKey = "table_prescriptions",
            .jsonParent = "constats",
            .shape = JsonShape::Value,
            .csvLabel = "table_prescriptions",
            .title = "Table des prescriptions",
            .columns = {{"probleme", "Problème"}},
            .rows = {{.values = {problem.isEmpty() ? Value::missing() : Value::ofText(problem)},
                      .attention = !problem.isEmpty()}}};
}

ReportTable presentIdentifiersTable(const CheckFindings& findings)
{
    ReportTable table{.jsonKey = "identifiants_presents",
                      .jsonParent = "constats",
                      .csvLabel = "identifiant_present",
                      .title = "Identifiants déjà présents dans la base Tessaris",
                      .columns = {{"etape", "Étape"}, {"table", "Table"}, {"code_source", "Code source"}}};
    for (const PresentIdentifier& present : findings.presentIdentifiers)
        table.rows.append({.values = {stageName(present.stage), Value::ofText(present.table),
                                      Value::ofText(present.sourceCode)}});
    return table;
}

ReportTable oversizedValuesTable(const RunReport& report)
{
    ReportTable table{.jsonKey = "valeurs_trop_longues",
                      .jsonParent = "constats",
                      .csvLabel = "valeur_trop_longue",
                      .title = "Valeurs plus longues que leur colonne",
                      .columns = {{"etape", "Étape"},
                                  {"code_source", "Code source"},
                                  {"table", "Table"},
                                  {"colonne", "Colonne"},
                                  {"taille", "Taille"},
                                  {"longueur", "Longueur"},
                                  {"valeur", "Valeur"}}};
    for (const StageCounts& counts : report.stages)
        for (const OversizedValue& value : counts.oversizedValues)
            table.rows.append({.values = {stageName(counts.stage), Value::ofText(value.sourceCode),
                                          Value::ofText(value.text.table), Value::ofText(value.text.column),
                                          Value::ofNumber(value.text.size), Value::ofNumber(value.text.value.size()),
                                          Value::ofText(value.text.value)}});
    return table;
}

// ---- The verdict ----

qint64 refusedRows(const RunReport& report)
{
    qint64 refused = 0;
    for (const StageCounts& counts : report.stages)
        refused += counts.refused;
    return refused;
}

// The letters whose file was not found are refused rows of their stage, named apart.
qint64 lettersNotFound(const RunReport& report)
{
    return report.letters.filesMissing + report.letters.namesRefused;
}

QString importedRows(const RunReport& report)
{
    QStringList parts;
    for (const StageCounts& counts : report.stages)
        parts.append(stageRows(counts.stage, counts.stored + counts.merged));
    return parts.join(", ");
}

// What the target holds once the run stopped, in the tables the stages that ran fill.
QString heldRows(const RunReport& report)
{
    if (!report.after.taken)
        return QStringLiteral("La base Tessaris n'a pas pu être relue après l'arrêt.");
    QStringList parts;
    for (const StageCounts& counts : report.stages) {
        const QString table = report.stageTables.value(counts.stage).created;
        if (report.after.tableRows.contains(table))
            parts.append(stageRows(counts.stage, report.after.tableRows.value(table)));
    }
    if (parts.isEmpty())
        return {};
    return "La base Tessaris contient maintenant " + parts.join(", ") + u'.';
}

// What needs looking into, as the end of the verdict's sentence.
QStringList attentionParts(const RunReport& report)
{
    QStringList parts;
    if (report.letters.filesMissing > 0)
        parts.append(counted(report.letters.filesMissing, "courrier introuvable", "courriers introuvables"));
    if (report.letters.namesRefused > 0)
        parts.append(counted(report.letters.namesRefused, "nom de courrier hors du dossier des courriers",
                             "noms de courrier hors du dossier des courriers"));
    const qint64 refused = std::max<qint64>(0, refusedRows(report) - lettersNotFound(report));
    if (report.check)
        parts.append(refused == 0 ? QStringLiteral("aucune ligne ne serait refusée")
                                  : counted(refused, "ligne serait refusée", "lignes seraient refusées"));
    else
        parts.append(refused == 0 ? QStringLiteral("aucune ligne refusée")
                                  : counted(refused, "ligne refusée", "lignes refusées"));
    if (!report.check)
        return parts;
    if (!report.findings.prescriptionTableProblem.isEmpty())
        parts.append(QStringLiteral("la table des prescriptions est introuvable"));
    if (!report.findings.presentIdentifiers.isEmpty())
        parts.append(counted(report.findings.presentIdentifiers.size(),
                             "identifiant déjà présent dans la base Tessaris",
                             "identifiants déjà présents dans la base Tessaris"));
    qsizetype oversized = 0;
    for (const StageCounts& counts : report.stages)
        oversized += counts.oversizedValues.size();
    if (oversized > 0)
        parts.append(counted(oversized, "valeur trop longue pour sa colonne", "valeurs trop longues pour leur colonne"));
    return parts;
}

QString verdictSentence(const RunReport& report)
{
    if (!report.ended) {
        const QString where = report.stages.isEmpty()
                                  ? QString()
                                  : " à l'étape « " + stageCaption(report.stages.last().stage) + " »";
        const QString reason = report.stopReason.endsWith(u'.') ? report.stopReason : report.stopReason + u'.';
        if (report.check)
            return "Vérification interrompue" + where + " : " + reason + " Rien n'a été écrit.";
        return ("Traitement interrompu" + where + " : " + reason + u' ' + heldRows(report)).trimmed();
    }
    const QString parts = attentionParts(report).join(" ; ");
    if (report.check)
        return "Vérification terminée, rien n'a été écrit : l'importation enregistrerait " + importedRows(report) + " ; "
               + parts + u'.';
    return "Importation terminée : " + importedRows(report) + " ; " + parts + u'.';
}

ReportVerdict verdictOf(const RunReport& report)
{
    ReportVerdict verdict;
    verdict.sentence = verdictSentence(report);
    if (!report.ended || !report.balanced())
        verdict.tone = ReportTone::Bad;
    else if (!report.nothingRefused() || refusedRows(report) > 0 || lettersNotFound(report) > 0)
        verdict.tone = ReportTone::Warning;
    if (report.balanced()) {
        verdict.balanceWord = QStringLiteral("équilibré");
        verdict.balanceExplanation = QStringLiteral("chaque ligne lue est comptée une fois (ignorée, créée, "
                                                    "fusionnée ou refusée) et chaque table a gagné les lignes "
                                                    "comptées créées.");
    } else {
        verdict.balanceWord = QStringLiteral("en écart");
        verdict.balanceExplanation = QStringLiteral("des lignes ne sont pas comptées, ou pas dans la base Tessaris : "
                                                    "voir les étapes et les tables en rouge.");
    }
    return verdict;
}

ReportTable summaryTable(const RunReport& report, const ReportVerdict& verdict)
{
    ReportTable table{
        .shape = JsonShape::Object,
        .csvLabel = "rapport",
        .title = "Rapport",
        .columns = {{"debut", "Début"},
                    {"termine", "Terminé"},
                    {"raison_arret", "Raison de l'arrêt"},
                    {"equilibre", "Bilan"},
                    {"verdict", "Résumé"},
                    {"duree_secondes", "Durée"}},
        .rows = {{.values = {Value::ofText(report.startedAt.toString(Qt::ISODate),
                                           report.startedAt.toString(QStringLiteral("dd/MM/yyyy HH:mm:ss"))),
                             Value::ofCheck(report.ended, QString()), Value::ofText(report.stopReason),
                             Value::ofCheck(report.balanced(), verdict.balanceWord), Value::ofText(verdict.sentence),
                             Value::ofSeconds(report.seconds)}}}};
    if (report.check) {
        table.columns.append(ReportColumn{"verification", "Vérification"});
        table.rows[0].values.append(Value::ofCheck(true, QString()));
    }
    return table;
}

} // namespace

ReportModel reportModel(const RunReport& report)
{
    ReportModel model;
    model.check = report.check;
    model.title = report.check ? QStringLiteral("Vérification avant importation")
                               : QStringLiteral("Rapport d'importation");
    model.verdict = verdictOf(report);
    model.summary = summaryTable(report, model.verdict);
    model.stages = stagesTable(report);
    model.tables = targetTablesTable(report);
    model.counters = countersTable(report);
    model.letters = lettersTable(report.letters);
    model.changedValues = changedValuesTable(report);
    model.refusals = refusalsTable(report);
    model.refusalGroups = refusalGroupsTable(report);
    model.prescriptionTable = prescriptionTableTable(report.findings);
    model.presentIdentifiers = presentIdentifiersTable(report.findings);
    model.oversizedValues = oversizedValuesTable(report);
    return model;
}

} // namespace p1
