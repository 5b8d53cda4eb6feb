#include "run/run_report.h"

#include "common/errors.h"
#include "common/file_writing.h"
#include "dbaccess/purge.h"
#include "dbaccess/sql_names.h"
#include "run/report_model.h"

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

void writeUtf8(const QString& path, const QByteArray& bytes)
{
    try {
        writeWholeFile(path, bytes);
    } catch (const FileWriteError& error) {
        throw Error("Le rapport [" + path + "] n'a pas pu être écrit : " + error.reason());
    }
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
    return htmlOf(reportModel(report));
}

QString reportJson(const RunReport& report)
{
    return jsonOf(reportModel(report));
}

QString reportCsv(const RunReport& report)
{
    return csvOf(reportModel(report));
}

QStringList unitedKeys(const QMap<QString, qint64>& first, const QMap<QString, qint64>& second)
{
    QStringList keys = first.keys() + second.keys();
    keys.removeDuplicates();
    std::sort(keys.begin(), keys.end());
    return keys;
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
