#pragma once

#include "run/run_report.h"

#include <QList>
#include <QString>

#include <optional>

namespace p1 {

// A stage's caption in the window, without the verb every caption starts with (its word when
// no stage has that word).
QString stageCaption(const QString& word);

// One figure or text of the report. The files keep the value itself; the page shows its wording
// where it has one (a stage's caption for its word, a balance's explanation for its yes or no).
struct ReportValue {
    enum class Kind { Missing, Text, Number, Seconds, Check };

    Kind kind = Kind::Missing;
    QString text;  // a text's value; for a check, its explanation
    QString shown; // the page's wording of a text, when it is not the text itself
    qint64 number = 0;
    double seconds = 0;
    bool holds = true; // a check's outcome

    static ReportValue missing() { return {}; }
    static ReportValue ofText(const QString& text, const QString& shown = {});
    static ReportValue ofNumber(qint64 number);
    static ReportValue ofSeconds(double seconds);
    static ReportValue ofCheck(bool holds, const QString& explanation);
    // The number under the key, missing when there is none.
    static ReportValue ofEntry(const QMap<QString, qint64>& values, const QString& key);
};

// A column: its key in the JSON and the CSV (the CSV's own when it differs), its title on the page.
struct ReportColumn {
    QString key{};
    QString title{};
    QString csvKey{};

    QString keyInCsv() const { return csvKey.isEmpty() ? key : csvKey; }
};

struct ReportRow {
    QList<ReportValue> values{}; // one per column, in the columns' order
    bool attention = false;    // it does not balance: shown in red
    bool unchanged = false;    // the run left it as it was: the page folds it with the others like it
};

// How a table is written in the JSON: an array of objects, the object of its one row, or the
// value of its one row's one column.
enum class JsonShape { List, Object, Value };

// A table of the report, the one description each rendering reads: the page, the JSON and the
// CSV show every column of it.
struct ReportTable {
    QString jsonKey{};    // empty for an object whose keys go to the JSON's root
    QString jsonParent{}; // the object of the root it belongs to, when it is not the root
    JsonShape shape = JsonShape::List;
    QString csvLabel{};   // the first field of its CSV lines
    // The columns the CSV has always had, in their order; the others follow. Empty: the columns' order.
    QStringList csvOrder{};
    bool csvSharesPreviousBlock = false; // its lines follow the previous table's, under its header
    QString title{};
    QList<ReportColumn> columns{};
    QList<ReportRow> rows{};
    std::optional<ReportRow> total{}; // "total_" + jsonKey in the JSON, "total_" + csvLabel in the CSV
    QString unchangedSummary{};       // the line the page folds the unchanged rows under

    qsizetype columnOf(const QString& key) const;
    // The value of the row under the column of that key; a missing value when there is no such column.
    const ReportValue& valueOf(const ReportRow& row, const QString& key) const;
    // The columns in the CSV's order.
    QList<qsizetype> csvColumns() const;
};

enum class ReportTone { Good, Warning, Bad };

// The first thing the reader sees: what the run did, in one sentence, and whether its figures hold.
struct ReportVerdict {
    QString sentence;
    ReportTone tone = ReportTone::Good;
    QString balanceWord;
    QString balanceExplanation;
};

// The report of a run, built once from what it did, rendered as a page, as JSON and as CSV.
struct ReportModel {
    bool check = false;
    QString title{};
    ReportVerdict verdict;
    ReportTable summary; // the report's own figures: the JSON's root, the CSV's last block
    ReportTable stages;
    ReportTable tables;
    ReportTable counters;
    ReportTable letters;
    ReportTable changedValues;
    ReportTable refusals;
    ReportTable refusalGroups; // the refusals of each stage by message
    // Of a check only.
    ReportTable prescriptionTable;
    ReportTable presentIdentifiers;
    ReportTable oversizedValues;

    // The tables the files hold, in the CSV's order.
    QList<const ReportTable*> fileTables() const;
};

ReportModel reportModel(const RunReport& report);

// The page's way of writing figures: French digit groups, seconds to the millisecond, a duration
// in hours, minutes and seconds.
QString pageNumber(qint64 number);
QString pageSeconds(double seconds);
QString durationText(double seconds);

// The renderings; the page carries its pictures inline (run/report_chart.cpp).
QString htmlOf(const ReportModel& model);
QString svgChartsOf(const ReportModel& model);
QString jsonOf(const ReportModel& model);
QString csvOf(const ReportModel& model);

} // namespace p1
