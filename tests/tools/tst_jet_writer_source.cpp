// Files of the Jet writer read back through the program's own reader: every value exactly as
// written, including what the mdbtools programs cannot show (NULL against empty text, dates
// before 30 December 1899).
#include "tools/jetwriter/jet_writer.h"

#include "common/date_time.h"
#include "source/source_database.h"

#include <QTemporaryDir>

#include "tests/support/test_values.h"

#include <gtest/gtest.h>

namespace p1::jet {
namespace {

using test::at;
using test::repeated;



std::string describe(const SourceValue& value)
{
    if (const auto* number = std::get_if<qint64>(&value))
        return "integer " + std::to_string(*number);
    if (const auto* real = std::get_if<double>(&value))
        return "double " + std::to_string(*real);
    if (const auto* flag = std::get_if<bool>(&value))
        return *flag ? "Yes" : "No";
    if (const auto* moment = std::get_if<QDateTime>(&value))
        return "date " + moment->toString(Qt::ISODateWithMs).toStdString();
    if (const auto* text = std::get_if<QString>(&value))
        return "text of " + std::to_string(text->size()) + " characters: " + text->left(40).toStdString();
    return "NULL";
}

QList<QList<SourceValue>> readBack(const QString& path, const QString& table)
{
    QList<QList<SourceValue>> rows;
    SourceDatabase(path).readRows(table, [&](const QList<SourceValue>& row) { rows.append(row); });
    return rows;
}

TEST(JetWriterThroughSourceDatabase, EveryValueReadsBackExactly)
{
    const QList<QList<Value>> rows{
        {true, qint64(0), qint64(-32768), qint64(-2147483647 - 1), 1.5, at(1899, 12, 30), QStringLiteral("a"),
         QStringLiteral("memo")},
        {false, qint64(255), qint64(32767), qint64(2147483647), -2.25e-7, at(1899, 12, 29, 6), QString(), QString()},
        {false, std::monostate{}, std::monostate{}, std::monostate{}, std::monostate{}, std::monostate{},
         std::monostate{}, std::monostate{}},
        {true, qint64(7), qint64(12), qint64(100000), 3.0, at(1800, 1, 1, 23, 59, 59), QStringLiteral("cœur 12 € l’été"),
         repeated(QStringLiteral("x€y "), 40000)},
        {false, qint64(1), qint64(-1), qint64(-1), 1e300, at(9999, 12, 31, 12), QStringLiteral("日本語テキスト"),
         repeated(QStringLiteral("Compte rendu. "), 1000)},
        {true, qint64(2), qint64(2), qint64(2), 0.1, at(2024, 2, 29, 23, 59, 59), QStringLiteral("   "),
         repeated(QStringLiteral("Lettre n°1\r\n"), 5000)},
    };
    DatabaseBuilder database;
    TableBuilder& table = database.table(QStringLiteral("GLB PATIENT"))
                              .column(QStringLiteral("EST SUPPRIMER"), ColumnType::Boolean)
                              .column(QStringLiteral("Octet"), ColumnType::Byte)
                              .column(QStringLiteral("niveau"), ColumnType::Integer)
                              .column(QStringLiteral("CODE PATIENT"), ColumnType::Long)
                              .column(QStringLiteral("Réel"), ColumnType::Double)
                              .column(QStringLiteral("DATE NAISSANCE"), ColumnType::DateTime)
                              .column(QStringLiteral("NOM"), ColumnType::Text, 50)
                              .column(QStringLiteral("MEMO"), ColumnType::Memo);
    for (const QList<Value>& row : rows)
        table.row(row);
    QTemporaryDir folder;
    const QString path = folder.filePath(QStringLiteral("V4.mdb"));
    database.write(path);

    const QList<SourceColumn> columns = SourceDatabase(path).columns(QStringLiteral("glb patient"));
    const QList<SourceType> types{SourceType::Boolean, SourceType::Byte,     SourceType::Integer, SourceType::Long,
                                  SourceType::Double,  SourceType::DateTime, SourceType::Text,    SourceType::Memo};
    ASSERT_EQ(columns.size(), types.size());
    for (qsizetype c = 0; c < columns.size(); ++c) {
        EXPECT_EQ(columns[c].name, table.columns()[c].name);
        EXPECT_EQ(columns[c].type, types[c]) << columns[c].name.toStdString();
    }
    const auto read = readBack(path, QStringLiteral("GLB PATIENT"));
    ASSERT_EQ(read.size(), rows.size());
    for (qsizetype r = 0; r < rows.size(); ++r) {
        for (qsizetype c = 0; c < columns.size(); ++c)
            EXPECT_TRUE(read[r][c] == rows[r][c]) << "row " << r << ", column " << c << ": wrote "
                                                   << describe(rows[r][c]) << ", read " << describe(read[r][c]);
    }
}

TEST(JetWriterThroughSourceDatabase, LargeTableOverReferenceMapReadsInOrder)
{
    constexpr int rowCount = 50'000;
    DatabaseBuilder database;
    TableBuilder& table = database.table(QStringLiteral("CON SOUS CONSULTATION"))
                              .column(QStringLiteral("CodeTitre"), ColumnType::Long)
                              .column(QStringLiteral("DONNEES"), ColumnType::Memo);
    for (int i = 0; i < rowCount; ++i)
        table.row({qint64(i), QStringLiteral("Ligne %1 : T° 37,%2").arg(i).arg(i % 10)});
    QTemporaryDir folder;
    const QString path = folder.filePath(QStringLiteral("V4.mdb"));
    database.write(path);

    qint64 expected = 0;
    bool inOrder = true;
    SourceDatabase(path).readRows(QStringLiteral("CON SOUS CONSULTATION"), [&](const QList<SourceValue>& row) {
        inOrder = inOrder && row[0] == SourceValue(expected)
                  && row[1] == SourceValue(QStringLiteral("Ligne %1 : T° 37,%2").arg(expected).arg(expected % 10));
        ++expected;
    });
    EXPECT_EQ(expected, rowCount);
    EXPECT_TRUE(inOrder);
}

} // namespace
} // namespace p1::jet
