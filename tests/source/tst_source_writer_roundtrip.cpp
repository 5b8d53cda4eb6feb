// Files of the project's Jet writer read back through the source connection, the way the import
// reads them: staged, ordered, looked up by parameter, each value of each type exactly as written.
#include "tools/jetwriter/jet_writer.h"

#include "common/date_time.h"
#include "source/source_query.h"

#include <QTemporaryDir>

#include "tests/support/test_values.h"

#include <gtest/gtest.h>

using namespace p1;
using jet::ColumnType;

namespace {

using test::at;
using test::repeated;



QString connectionStringFor(const QString& file)
{
    return "Provider=Microsoft.Jet.OLEDB.4.0;User ID=Admin;Data Source=" + file
        + ";Mode=Share Deny None;Persist Security Info=False;";
}

// Columns in this order: Code, Oui, Octet, Entier, Long, Reel, Quand, Libelle, Notes.
const QStringList valueColumns{"Code", "Oui", "Octet", "Entier", "Long", "Reel", "Quand", "Libelle", "Notes"};

QList<QList<jet::Value>> valueRows()
{
    const jet::Value null = std::monostate{};
    return {
        {qint64(1), true, qint64(0), qint64(-32768), qint64(-2147483647 - 1), 1.5, at(1899, 12, 30),
         QString("a"), QString("mémo")},
        {qint64(2), false, qint64(255), qint64(32767), qint64(2147483647), -2.25e-7, at(1899, 12, 29, 6),
         QString(""), QString("")},
        {qint64(3), false, null, null, null, null, null, null, null},
        {qint64(4), true, qint64(7), qint64(12), qint64(100000), 3.0, at(1800, 1, 1, 23, 59, 59),
         QString("cœur 12 € l’été, Ærøskøbing"), repeated("x€y ", 5000)},
        {qint64(5), true, qint64(1), qint64(-1), qint64(-1), 1e300, at(1650, 6, 15, 18, 30),
         QString("  blancs autour  "), repeated("Éléphant ", 70000)},
        {qint64(6), false, qint64(2), qint64(2), qint64(2), -0.0, at(9999, 12, 31, 23, 59, 59),
         repeated("é", 255), QString("😀 hors du plan de base")},
        {qint64(7), true, qint64(3), qint64(3), qint64(3), 0.1, at(100, 1, 1), QString(" "), QString("\r\n")},
    };
}

class SourceWriterRoundTrip : public ::testing::Test {
protected:
    void open(const jet::DatabaseBuilder& database)
    {
        path = folder.filePath("source.mdb");
        database.write(path);
        connection.setConnectionString(connectionStringFor(path));
    }

    QTemporaryDir folder;
    QString path;
    SourceConnection connection;
};

TEST_F(SourceWriterRoundTrip, EveryTypeComesBackThroughTheStage)
{
    jet::DatabaseBuilder database;
    jet::TableBuilder& table = database.table("Valeurs");
    table.column("Code", ColumnType::Long)
        .column("Oui", ColumnType::Boolean)
        .column("Octet", ColumnType::Byte)
        .column("Entier", ColumnType::Integer)
        .column("Long", ColumnType::Long)
        .column("Reel", ColumnType::Double)
        .column("Quand", ColumnType::DateTime)
        .column("Libelle", ColumnType::Text, 255)
        .column("Notes", ColumnType::Memo);
    const QList<QList<jet::Value>> rows = valueRows();
    for (const QList<jet::Value>& row : rows)
        table.row(row);
    open(database);

    SourceQuery query(&connection, {"SELECT * from [valeurs]", "ORDER BY [Quand] DESC"});
    query.open();
    ASSERT_EQ(query.recordCount(), rows.size());
    // Latest first, NULL last: the stage orders dates chronologically before 1899 as after.
    const QList<qint64> expectedCodes{6, 1, 2, 4, 5, 7, 3};
    for (qint64 code : expectedCodes) {
        ASSERT_FALSE(query.eof());
        EXPECT_EQ(query.field("CODE").asInteger(), code);
        const QList<jet::Value>& written = rows[code - 1];
        for (int column = 0; column < valueColumns.size(); ++column) {
            SCOPED_TRACE(QString("%1 of row %2").arg(valueColumns[column]).arg(code).toStdString());
            const SourceField field = query.field(valueColumns[column]);
            EXPECT_EQ(field.value(), SourceValue(written[column]));
            EXPECT_EQ(field.isNull(), std::holds_alternative<std::monostate>(written[column]));
        }
        query.next();
    }
    EXPECT_TRUE(query.eof());
}

TEST_F(SourceWriterRoundTrip, TextsCompareWithoutRegardToCase)
{
    jet::DatabaseBuilder database;
    database.table("Noms")
        .column("Nom", ColumnType::Text, 50)
        .column("Rang", ColumnType::Long)
        .row({QString("dupont"), qint64(1)})
        .row({QString("DUPONT"), qint64(2)})
        .row({QString("Durand"), qint64(3)})
        .row({QString("ablin"), qint64(4)})
        .row({QString("Dupont"), qint64(5)})
        .row({std::monostate{}, qint64(6)})
        .row({QString("élodie"), qint64(7)})
        .row({QString("ÉLODIE"), qint64(8)})
        .row({QString("Elodie"), qint64(9)});
    open(database);

    SourceQuery lookup(&connection, {"SELECT * from Noms where Nom=:nom;"});
    const struct {
        const char* name;
        int count;
    } lookups[] = {{"DuPont", 3}, {"Élodie", 2}, {"elodie", 1}, {"Dupond", 0}};
    for (const auto& test : lookups) {
        lookup.setParameter("nom", QString(test.name));
        lookup.open();
        EXPECT_EQ(lookup.recordCount(), test.count) << test.name;
    }

    SourceQuery ordered(&connection, {"SELECT * from Noms where Rang < 7 ORDER BY nom, rang;"});
    ordered.open();
    QList<qint64> ranks;
    for (; !ordered.eof(); ordered.next())
        ranks.append(ordered.field("Rang").asInteger());
    EXPECT_EQ(ranks, (QList<qint64>{6, 4, 1, 2, 5, 3}));
}

// Row i of the large table, computed again when it is read back.
struct LargeRow {
    qint64 code;
    qint64 parent;
    QDateTime moment;
    jet::Value text;
};

LargeRow largeRow(int i)
{
    const jet::Value text = i % 7 == 0 ? jet::Value(std::monostate{})
        : i % 11 == 0                 ? jet::Value(QString())
                                      : jet::Value(QString("ligne n°%1 — été").arg(i));
    return {i, i % 1000, at(1850, 1, 1).addSecs(qint64(i) * 4003), text};
}

TEST_F(SourceWriterRoundTrip, LargeTableStagesOnceAndAnswersLookups)
{
    constexpr int rowCount = 200'000;
    jet::DatabaseBuilder database;
    jet::TableBuilder& table = database.table("Grande");
    table.column("Code", ColumnType::Long)
        .column("Parent", ColumnType::Long)
        .column("Quand", ColumnType::DateTime)
        .column("Texte", ColumnType::Text, 80);
    for (int i = 0; i < rowCount; ++i) {
        const LargeRow row = largeRow(i);
        table.row({row.code, row.parent, row.moment, row.text});
    }
    open(database);

    SourceQuery all(&connection, {"SELECT * from ", "[Grande]", "order by [Quand] DESC"});
    all.open();
    ASSERT_EQ(all.recordCount(), rowCount);
    for (int i = rowCount - 1; i >= 0; --i, all.next()) {
        const LargeRow row = largeRow(i);
        ASSERT_FALSE(all.eof());
        ASSERT_EQ(all.field("Code").asInteger(), row.code);
        ASSERT_EQ(all.field("Quand").asDateTime(), row.moment) << i;
        ASSERT_EQ(all.field("Texte").value(), SourceValue(row.text)) << i;
    }
    EXPECT_TRUE(all.eof());

    SourceQuery children(&connection, {"SELECT * from [Grande] where [Parent]=:code ORDER BY [Code]"});
    for (int parent : {0, 1, 499, 999, 1000}) {
        children.setParameter("code", parent);
        children.open();
        EXPECT_EQ(children.recordCount(), parent < 1000 ? rowCount / 1000 : 0);
        for (qint64 code = parent; !children.eof(); children.next(), code += 1000)
            ASSERT_EQ(children.field("Code").asInteger(), code);
    }
}

} // namespace
