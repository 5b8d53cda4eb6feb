// Source reading speed on a detail table of a million rows: staging it into the connection's
// copy (target: at least 200,000 rows/s), then a million parameterised look-ups run as the
// consultations stage runs its detail query (target: under 20 µs each).

#include "common/date_time.h"
#include "source/source_query.h"
#include "tools/jetwriter/jet_writer.h"

#include <QElapsedTimer>
#include <QTemporaryDir>

#include <cstdio>

namespace {

using namespace p1;

constexpr int rowCount = 1'000'000;
constexpr int headerCount = 250'000; // four detail lines per header

QString writeDetailTable(const QTemporaryDir& work)
{
    jet::DatabaseBuilder database;
    jet::TableBuilder& table = database.table(QStringLiteral("CON SOUS CONSULTATION"))
                                   .column(QStringLiteral("CodeTitre"), jet::ColumnType::Long)
                                   .column(QStringLiteral("NroOrdre"), jet::ColumnType::Long)
                                   .column(QStringLiteral("DONNEES"), jet::ColumnType::Memo)
                                   .column(QStringLiteral("niveau"), jet::ColumnType::Integer)
                                   .column(QStringLiteral("Date"), jet::ColumnType::DateTime);
    const QDateTime first = wallClock(QDate(1890, 1, 1), QTime(9, 0));
    // Physical order shuffled by a fixed stride, as years of edits leave a real table.
    for (int i = 0; i < rowCount; ++i) {
        const int row = int((qint64(i) * 7919) % rowCount);
        table.row({qint64(row % headerCount), qint64(row / headerCount), QStringLiteral("Tension : 12/8 n°%1").arg(row),
                   qint64(row % 3), first.addSecs(qint64(row) * 600)});
    }
    const QString path = work.filePath(QStringLiteral("detail.mdb"));
    database.write(path);
    return path;
}

} // namespace

int main()
{
    QTemporaryDir work;
    const QString path = writeDetailTable(work);

    SourceConnection connection;
    connection.setConnectionString("Provider=Microsoft.Jet.OLEDB.4.0;User ID=Admin;Data Source=" + path
                                   + ";Mode=Share Deny None;Persist Security Info=False;");
    QElapsedTimer timer;
    timer.start();
    SourceQuery detail(&connection, {"SELECT * from [CON SOUS CONSULTATION] where CodeTitre=:code ORDER BY "
                                     "CodeTitre, NroOrdre"});
    detail.setParameter("code", 0);
    detail.open();
    const double stagingSeconds = timer.nsecsElapsed() / 1e9;
    std::printf("staging (read, copy, index) of %d rows: %.2f s, %.0f rows/s\n", rowCount, stagingSeconds,
                rowCount / stagingSeconds);

    timer.restart();
    qint64 linesRead = 0;
    for (int lookup = 0; lookup < rowCount; ++lookup) {
        detail.setParameter("code", lookup % headerCount);
        detail.open();
        for (; !detail.eof(); detail.next())
            linesRead += detail.field("DONNEES").asText().isEmpty() ? 0 : 1;
        detail.close();
    }
    const double lookupSeconds = timer.nsecsElapsed() / 1e9;
    std::printf("%d parameterised look-ups (%lld lines read): %.2f s, %.2f µs per look-up\n", rowCount, linesRead,
                lookupSeconds, lookupSeconds * 1e6 / rowCount);
    return linesRead == qint64(rowCount) * rowCount / headerCount ? 0 : 1;
}
