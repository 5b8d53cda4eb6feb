#include "run/report_model.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace p1 {

namespace {

// ---- JSON ----

QJsonValue jsonOf(const ReportValue& value)
{
    using Kind = ReportValue::Kind;
    switch (value.kind) {
    case Kind::Missing: return QJsonValue(QJsonValue::Null);
    case Kind::Text: return value.text;
    case Kind::Number: return value.number;
    case Kind::Seconds: return value.seconds;
    case Kind::Check: return value.holds;
    }
    return {};
}

QJsonObject jsonOf(const ReportTable& table, const ReportRow& row)
{
    QJsonObject object;
    for (qsizetype column = 0; column < table.columns.size(); ++column)
        object.insert(table.columns[column].key, jsonOf(row.values.value(column)));
    return object;
}

QJsonValue jsonOf(const ReportTable& table)
{
    switch (table.shape) {
    case JsonShape::Value: return jsonOf(table.rows.value(0).values.value(0));
    case JsonShape::Object: return jsonOf(table, table.rows.value(0));
    case JsonShape::List: break;
    }
    QJsonArray rows;
    for (const ReportRow& row : table.rows)
        rows.append(jsonOf(table, row));
    return rows;
}

void insertInto(QJsonObject& object, const ReportTable& table)
{
    if (table.jsonKey.isEmpty()) {
        const QJsonObject fields = jsonOf(table, table.rows.value(0));
        for (auto field = fields.begin(); field != fields.end(); ++field)
            object.insert(field.key(), field.value());
        return;
    }
    object.insert(table.jsonKey, jsonOf(table));
    if (table.total)
        object.insert("total_" + table.jsonKey, jsonOf(table, *table.total));
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

QString csvOf(const ReportValue& value)
{
    using Kind = ReportValue::Kind;
    switch (value.kind) {
    case Kind::Missing: return {};
    case Kind::Text: return value.text;
    case Kind::Number: return QString::number(value.number);
    case Kind::Seconds: return QString::number(value.seconds, 'f', 3);
    case Kind::Check: return value.holds ? QStringLiteral("oui") : QStringLiteral("non");
    }
    return {};
}

// A line of the table's block, as wide as the block's header.
QString csvLineOf(const QString& label, const ReportTable& table, const ReportRow& row, qsizetype width)
{
    QStringList fields{label};
    for (qsizetype column : table.csvColumns())
        fields.append(csvOf(row.values.value(column)));
    while (fields.size() < width)
        fields.append(QString());
    return csvLine(fields);
}

} // namespace

QString jsonOf(const ReportModel& model)
{
    QJsonObject root;
    QMap<QString, QJsonObject> parents;
    for (const ReportTable* table : model.fileTables()) {
        if (table->jsonParent.isEmpty())
            insertInto(root, *table);
        else
            insertInto(parents[table->jsonParent], *table);
    }
    for (auto parent = parents.begin(); parent != parents.end(); ++parent)
        root.insert(parent.key(), parent.value());
    return QString::fromUtf8(QJsonDocument(root).toJson(QJsonDocument::Indented));
}

// One block per table, each under its header line ("section" and the columns' keys), after a
// blank line; a table that shares the previous one's block follows its lines.
QString csvOf(const ReportModel& model)
{
    QString csv;
    qsizetype width = 0;
    for (const ReportTable* table : model.fileTables()) {
        if (!table->csvSharesPreviousBlock) {
            QStringList header{QStringLiteral("section")};
            for (qsizetype column : table->csvColumns())
                header.append(table->columns[column].keyInCsv());
            csv += (csv.isEmpty() ? QString() : QStringLiteral("\r\n")) + csvLine(header);
            width = header.size();
        }
        for (const ReportRow& row : table->rows)
            csv += csvLineOf(table->csvLabel, *table, row, width);
        if (table->total)
            csv += csvLineOf("total_" + table->csvLabel, *table, *table->total, width);
    }
    return csv;
}

} // namespace p1
