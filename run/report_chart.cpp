#include "run/report_model.h"

#include <QLocale>

#include <algorithm>
#include <numeric>

namespace p1 {

namespace {

// The drawing's measures, in pixels: a caption column, the bars, a column for the figures.
constexpr int chartWidth = 900;
constexpr int captionWidth = 190;
constexpr int barWidth = 540;
constexpr int rowHeight = 26;
constexpr int barHeight = 16;
constexpr int headHeight = 34;
// A segment of a few rows among thousands stays visible: a refused row must not vanish in the picture.
constexpr int narrowestSegment = 3;

struct Segment {
    QString key;
    QString label;
    QString colour;
};

// What became of the rows read, in the order the bars show it.
const QList<Segment> outcomes = {{"creees", "créées", "#2e7d4f"},
                                 {"fusionnees", "fusionnées", "#3b6db3"},
                                 {"ignorees", "ignorées", "#a8a8a8"},
                                 {"refusees", "refusées", "#c62828"}};

QString escaped(const QString& text)
{
    return text.toHtmlEscaped();
}

QString textAt(int x, int y, const QString& text, const QString& anchor = QStringLiteral("start"))
{
    return QStringLiteral("<text x=\"%1\" y=\"%2\" text-anchor=\"%3\">%4</text>\n")
        .arg(x)
        .arg(y)
        .arg(anchor, escaped(text));
}

QString rectangle(int x, int y, int width, int height, const QString& colour)
{
    return QStringLiteral("<rect x=\"%1\" y=\"%2\" width=\"%3\" height=\"%4\" fill=\"%5\"/>\n")
        .arg(x)
        .arg(y)
        .arg(width)
        .arg(height)
        .arg(colour);
}

QString frame(int x, int y, int width, int height)
{
    return QStringLiteral("<rect x=\"%1\" y=\"%2\" width=\"%3\" height=\"%4\" fill=\"none\" stroke=\"#555\"/>\n")
        .arg(x)
        .arg(y)
        .arg(width)
        .arg(height);
}

QString svgOpening(int height, const QString& title)
{
    return QStringLiteral("<svg width=\"%1\" height=\"%2\" viewBox=\"0 0 %1 %2\" role=\"img\" "
                          "font-family=\"sans-serif\" font-size=\"12\">\n<title>%3</title>\n")
               .arg(chartWidth)
               .arg(height)
               .arg(escaped(title))
           + "<text x=\"0\" y=\"14\" font-weight=\"bold\" font-size=\"14\">" + escaped(title) + "</text>\n";
}

// The widths of the segments, shares of the bar, none narrower than narrowestSegment when it
// holds anything; the widest gives back what the narrow ones took.
QList<int> segmentWidths(const QList<qint64>& counts)
{
    const qint64 whole = std::accumulate(counts.begin(), counts.end(), qint64(0));
    QList<int> widths;
    for (qint64 count : counts)
        widths.append(count == 0 ? 0 : std::max(narrowestSegment, int(double(count) / double(whole) * barWidth)));
    const auto widest = std::max_element(widths.begin(), widths.end());
    *widest += barWidth - std::accumulate(widths.begin(), widths.end(), 0);
    return widths;
}

QString legend(int y)
{
    QString svg;
    int x = captionWidth;
    for (const Segment& segment : outcomes) {
        svg += rectangle(x, y - 10, 12, 12, segment.colour) + textAt(x + 16, y, segment.label);
        x += 110;
    }
    return svg;
}

QString rowsChart(const ReportTable& stages)
{
    const int height = headHeight + 22 + int(stages.rows.size()) * rowHeight;
    QString svg = svgOpening(height, QStringLiteral("Ce que sont devenues les lignes lues, par étape"))
                  + legend(headHeight + 4);
    int y = headHeight + 22;
    for (const ReportRow& row : stages.rows) {
        QList<qint64> counts;
        for (const Segment& segment : outcomes)
            counts.append(stages.valueOf(row, segment.key).number);
        const qint64 read = stages.valueOf(row, "lues").number;
        svg += textAt(captionWidth - 8, y + barHeight - 3, stages.valueOf(row, "etape").shown, "end");
        if (read > 0) {
            const QList<int> widths = segmentWidths(counts);
            int x = captionWidth;
            for (qsizetype i = 0; i < outcomes.size(); ++i) {
                if (widths[i] > 0)
                    svg += rectangle(x, y, widths[i], barHeight, outcomes[i].colour);
                x += widths[i];
            }
        }
        svg += frame(captionWidth, y, barWidth, barHeight);
        QString figures = pageNumber(read) + (read < 2 ? " lue" : " lues");
        if (const qint64 refused = stages.valueOf(row, "refusees").number; refused > 0)
            figures += ", " + pageNumber(refused) + (refused < 2 ? " refusée" : " refusées");
        svg += textAt(captionWidth + barWidth + 8, y + barHeight - 3, figures);
        y += rowHeight;
    }
    return svg + "</svg>\n";
}

QString percentOf(double part, double whole)
{
    return QLocale(QLocale::French).toString(whole > 0 ? part / whole * 100 : 0, 'f', 0) + " %";
}

// Each stage's share of the run's time, and the time spent outside them (the purge, the reads of
// the target for this report).
QString timeChart(const ReportTable& stages, double runSeconds)
{
    QList<std::pair<QString, double>> parts;
    double inStages = 0;
    for (const ReportRow& row : stages.rows) {
        const double seconds = stages.valueOf(row, "secondes").seconds;
        parts.append({stages.valueOf(row, "etape").shown, seconds});
        inStages += seconds;
    }
    const double whole = std::max(runSeconds, inStages);
    if (whole - inStages >= 0.001)
        parts.append({QStringLiteral("hors des étapes"), whole - inStages});
    const int height = headHeight + int(parts.size()) * rowHeight;
    QString svg = svgOpening(height, "Où le temps est passé (" + durationText(whole) + " en tout)");
    int y = headHeight;
    for (qsizetype i = 0; i < parts.size(); ++i) {
        const auto& [caption, seconds] = parts[i];
        const bool outside = i >= stages.rows.size();
        svg += textAt(captionWidth - 8, y + barHeight - 3, caption, "end");
        const int width = whole > 0 ? int(seconds / whole * barWidth) : 0;
        if (width > 0)
            svg += rectangle(captionWidth, y, width, barHeight, outside ? "#a8a8a8" : "#3b6db3");
        svg += frame(captionWidth, y, barWidth, barHeight);
        svg += textAt(captionWidth + barWidth + 8, y + barHeight - 3,
                      durationText(seconds) + " (" + percentOf(seconds, whole) + u')');
        y += rowHeight;
    }
    return svg + "</svg>\n";
}

} // namespace

QString svgChartsOf(const ReportModel& model)
{
    if (model.stages.rows.isEmpty())
        return {};
    return "<h2>En images</h2>\n" + rowsChart(model.stages)
           + timeChart(model.stages, model.summary.valueOf(model.summary.rows[0], "duree_secondes").seconds);
}

} // namespace p1
