// Time to write source files: a million-row table with a text, a date and a short memo, then a
// practice of 80,000 patients (antecedents, consultations, prescriptions, no letters). Both are
// expected to stay linear: about a second per million rows.

#include "common/date_time.h"
#include "tools/jetwriter/jet_writer.h"
#include "tools/sample_practice/sample_practice.h"

#include <QElapsedTimer>
#include <QFileInfo>
#include <QTemporaryDir>

#include <cstdio>

namespace {

using namespace p1;

void benchMillionRows(const QTemporaryDir& work)
{
    constexpr int rowCount = 1'000'000;
    QElapsedTimer timer;
    timer.start();
    jet::DatabaseBuilder database;
    jet::TableBuilder& table = database.table(QStringLiteral("CON CONSULTATION"))
                                   .column(QStringLiteral("CodeTitre"), jet::ColumnType::Long)
                                   .column(QStringLiteral("NOM"), jet::ColumnType::Text, 60)
                                   .column(QStringLiteral("Date"), jet::ColumnType::DateTime)
                                   .column(QStringLiteral("DONNEES"), jet::ColumnType::Memo);
    const QDateTime first = wallClock(QDate(2000, 1, 1), QTime(9, 0));
    for (int i = 0; i < rowCount; ++i)
        table.row({qint64(i), QStringLiteral("Patient n°%1 Lefèvre").arg(i), first.addSecs(600 * i),
                   i % 3 == 0 ? jet::Value(QStringLiteral("Tension stable, revoir dans 3 mois.")) : jet::Value()});
    const QString path = work.filePath(QStringLiteral("million.mdb"));
    database.write(path);
    std::printf("%d rows: %.2f s, %.0f MB\n", rowCount, timer.elapsed() / 1000.0,
                QFileInfo(path).size() / 1e6);
}

void benchPractice(const QTemporaryDir& work)
{
    SamplePracticeOptions options;
    options.patients = 80'000;
    options.lettersPerPatient = 0;
    QElapsedTimer timer;
    timer.start();
    const SamplePractice practice = writeSamplePractice(work.filePath(QStringLiteral("practice")), options);
    qint64 rows = 0;
    for (qint64 count : practice.rowCounts)
        rows += count;
    std::printf("practice of %d patients, %lld rows: %.2f s\n", options.patients, rows, timer.elapsed() / 1000.0);
}

} // namespace

int main()
{
    QTemporaryDir work;
    benchMillionRows(work);
    benchPractice(work);
    return 0;
}
