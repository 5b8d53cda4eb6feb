#include "tools/jetwriter/jet_writer.h"

#include "common/date_time.h"
#include "tests/tools/mdb_tools.h"

#include <QTemporaryDir>

#include "tests/support/test_values.h"

#include <gtest/gtest.h>

#include <stdexcept>

namespace p1::jet {
namespace {

using test::at;
using test::repeated;

using test::mdbCount;
using test::mdbExport;
using test::mdbTables;
using test::rawRows;

class JetWriterTest : public ::testing::Test {
protected:
    QString write(const DatabaseBuilder& database, const QString& name = QStringLiteral("test.mdb"))
    {
        const QString path = folder.filePath(name);
        database.write(path);
        return path;
    }

    QTemporaryDir folder;
};


TEST_F(JetWriterTest, EveryTypeReadsBackThroughMdbExport)
{
    DatabaseBuilder database;
    database.table(QStringLiteral("Types"))
        .column(QStringLiteral("Yes"), ColumnType::Boolean)
        .column(QStringLiteral("Small"), ColumnType::Byte)
        .column(QStringLiteral("Int"), ColumnType::Integer)
        .column(QStringLiteral("Long"), ColumnType::Long)
        .column(QStringLiteral("Real"), ColumnType::Double)
        .column(QStringLiteral("When"), ColumnType::DateTime)
        .column(QStringLiteral("Label"), ColumnType::Text, 50)
        .column(QStringLiteral("Notes"), ColumnType::Memo)
        .row({true, qint64(0), qint64(-32768), qint64(-2147483647 - 1), 1.5, at(1899, 12, 30),
              QStringLiteral("a"), QStringLiteral("memo")})
        .row({false, qint64(255), qint64(32767), qint64(2147483647), -2.25, at(2024, 2, 29, 23, 59, 59),
              QStringLiteral("ab, \"quoted\""), QStringLiteral("line one\nline two")})
        .row({std::monostate{}, std::monostate{}, std::monostate{}, std::monostate{}, std::monostate{},
              std::monostate{}, std::monostate{}, std::monostate{}})
        .row({true, qint64(7), qint64(12), qint64(100000), qint64(3), at(1900, 1, 1, 6, 30),
              QStringLiteral("0123456789"), QString()});
    const QString path = write(database);

    EXPECT_EQ(mdbTables(path), QStringList{QStringLiteral("Types")});
    EXPECT_EQ(mdbCount(path, QStringLiteral("Types")), 4);
    const QList<QStringList> expected{
        {"Yes", "Small", "Int", "Long", "Real", "When", "Label", "Notes"},
        {"TRUE", "0", "-32768", "-2147483648", "1.5", "1899-12-30 00:00:00", "a", "memo"},
        {"FALSE", "255", "32767", "2147483647", "-2.25", "2024-02-29 23:59:59", "ab, \"quoted\"",
         "line one\nline two"},
        {"FALSE", "", "", "", "", "", "", ""},
        {"TRUE", "7", "12", "100000", "3", "1900-01-01 06:30:00", "0123456789", ""},
    };
    EXPECT_EQ(mdbExport(path, QStringLiteral("Types")), expected);
}

TEST_F(JetWriterTest, NullAndEmptyTextStayDistinctInTheRow)
{
    DatabaseBuilder database;
    database.table(QStringLiteral("Texts"))
        .column(QStringLiteral("Label"), ColumnType::Text)
        .column(QStringLiteral("Notes"), ColumnType::Memo)
        .column(QStringLiteral("Number"), ColumnType::Long)
        .row({QString(""), QString(""), qint64(0)})
        .row({std::monostate{}, std::monostate{}, std::monostate{}})
        .row({QStringLiteral("x"), QStringLiteral("y"), qint64(1)});
    const auto rows = rawRows(write(database), QStringLiteral("Texts"));

    ASSERT_EQ(rows.size(), 3);
    for (int column = 0; column < 3; ++column) {
        EXPECT_FALSE(rows[0][column].isNull) << "column " << column;
        EXPECT_TRUE(rows[1][column].isNull) << "column " << column;
        EXPECT_FALSE(rows[2][column].isNull) << "column " << column;
    }
    EXPECT_TRUE(rows[0][0].bytes.isEmpty());
    EXPECT_EQ(rows[0][1].bytes.size(), 12) << "an empty memo keeps its header";
}

TEST_F(JetWriterTest, DatesKeepTheirJetDayNumbers)
{
    // mdb-export misprints days before the zero day, so the stored numbers are checked.
    struct Case {
        QDateTime value;
        double days;
    };
    const QList<Case> cases{
        {at(1899, 12, 30), 0.0},
        {at(1899, 12, 30, 12), 0.5},
        {at(1899, 12, 29, 6), -1.25},
        {at(1800, 1, 1), -36522.0},
        {at(2000, 1, 1, 18), 36526.75},
        {at(9999, 12, 31), 2958465.0},
    };
    DatabaseBuilder database;
    TableBuilder& table = database.table(QStringLiteral("Dates")).column(QStringLiteral("When"), ColumnType::DateTime);
    for (const Case& item : cases)
        table.row({item.value});
    const auto rows = rawRows(write(database), QStringLiteral("Dates"));

    ASSERT_EQ(rows.size(), cases.size());
    for (qsizetype i = 0; i < cases.size(); ++i)
        EXPECT_DOUBLE_EQ(test::rawDouble(rows[i][0]), cases[i].days) << cases[i].value.toString().toStdString();
}

TEST_F(JetWriterTest, AccentedAndNonLatinTextRoundTrips)
{
    const QStringList texts{
        QStringLiteral("Hélène Müller-Ç"),        // compressible
        QStringLiteral("cœur 12 € l’été"),        // switches between one and two bytes
        QStringLiteral("Ā at the start: U+0100"), // cannot be compressed
        QStringLiteral("日本語テキスト"),
        QStringLiteral("é"), // too short to gain from compression
        QStringLiteral("Ωmega ends with œ"),
    };
    DatabaseBuilder database;
    TableBuilder& table = database.table(QStringLiteral("Référence été"))
                              .column(QStringLiteral("CODE PATIENT"), ColumnType::Long)
                              .column(QStringLiteral("Libellé"), ColumnType::Text, 60)
                              .column(QStringLiteral("Mémo"), ColumnType::Memo);
    for (qsizetype i = 0; i < texts.size(); ++i)
        table.row({qint64(i), texts[i], texts[i] + texts[i]});
    const QString path = write(database);

    EXPECT_EQ(mdbTables(path), QStringList{QStringLiteral("Référence été")});
    const auto rows = mdbExport(path, QStringLiteral("Référence été"));
    ASSERT_EQ(rows.size(), texts.size() + 1);
    EXPECT_EQ(rows[0], (QStringList{QStringLiteral("CODE PATIENT"), QStringLiteral("Libellé"), QStringLiteral("Mémo")}));
    for (qsizetype i = 0; i < texts.size(); ++i)
        EXPECT_EQ(rows[i + 1], (QStringList{QString::number(i), texts[i], texts[i] + texts[i]}));
}


TEST_F(JetWriterTest, MemosOfEverySizeReadBackWhole)
{
    const QStringList memos{
        repeated(QStringLiteral("abc "), 100),            // inline
        repeated(QStringLiteral("Compte rendu. "), 1000), // compressed, one long value row
        repeated(QStringLiteral("été "), 1500),           // 3000 bytes in UCS-2 on one row
        repeated(QStringLiteral("Lettre n°1\r\n"), 5000), // over 4 KB: a chain of pages
        repeated(QStringLiteral("x€y "), 40000),          // over 64 KB
        repeated(QStringLiteral("0123456789"), 33000),    // over 64 KB of plain text
    };
    DatabaseBuilder database;
    TableBuilder& table = database.table(QStringLiteral("Memos"))
                              .column(QStringLiteral("Id"), ColumnType::Long)
                              .column(QStringLiteral("Body"), ColumnType::Memo)
                              .column(QStringLiteral("After"), ColumnType::Text);
    for (qsizetype i = 0; i < memos.size(); ++i)
        table.row({qint64(i), memos[i], QStringLiteral("après %1").arg(i)});
    const auto rows = mdbExport(write(database), QStringLiteral("Memos"));

    ASSERT_EQ(rows.size(), memos.size() + 1);
    for (qsizetype i = 0; i < memos.size(); ++i) {
        ASSERT_EQ(rows[i + 1].size(), 3);
        EXPECT_EQ(rows[i + 1][1].size(), memos[i].size()) << "memo " << i;
        EXPECT_TRUE(rows[i + 1][1] == memos[i]) << "memo " << i;
        EXPECT_EQ(rows[i + 1][2], QStringLiteral("après %1").arg(i));
    }
}

TEST_F(JetWriterTest, TwoHundredThousandRowsOverManyPages)
{
    constexpr int rowCount = 200'000;
    auto label = [](int i) { return QStringLiteral("Patient n°%1 Lefèvre").arg(i); };
    DatabaseBuilder database;
    TableBuilder& table = database.table(QStringLiteral("GLB PATIENT"))
                              .column(QStringLiteral("CODE PATIENT"), ColumnType::Long)
                              .column(QStringLiteral("NOM"), ColumnType::Text, 60)
                              .column(QStringLiteral("DATE NAISSANCE"), ColumnType::DateTime);
    for (int i = 0; i < rowCount; ++i)
        table.row({qint64(i), label(i), at(1950, 1, 1).addDays(i % 20000)});
    const QString path = write(database);

    EXPECT_EQ(mdbCount(path, QStringLiteral("GLB PATIENT")), rowCount);
    const auto rows = mdbExport(path, QStringLiteral("GLB PATIENT"));
    ASSERT_EQ(rows.size(), rowCount + 1);
    for (int i : {0, 1, 4242, 99'999, 150'001, rowCount - 1}) {
        const QString birth = at(1950, 1, 1).addDays(i % 20000).toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
        EXPECT_EQ(rows[i + 1], (QStringList{QString::number(i), label(i), birth}));
    }
}

TEST_F(JetWriterTest, ManyTablesWithInterleavedRows)
{
    constexpr int tableCount = 70;
    constexpr int rowsPerTable = 300;
    DatabaseBuilder database;
    QList<TableBuilder*> tables;
    QStringList names;
    for (int t = 0; t < tableCount; ++t) {
        names.append(QStringLiteral("TABLE %1 é").arg(t));
        TableBuilder& table = database.table(names.back()).column(QStringLiteral("N"), ColumnType::Long);
        if (t % 2 == 0)
            table.column(QStringLiteral("Texte"), ColumnType::Text);
        tables.append(&table);
    }
    for (int r = 0; r < rowsPerTable; ++r) {
        for (int t = 0; t < tableCount; ++t) {
            if (t % 2 == 0)
                tables[t]->row({qint64(r), QStringLiteral("t%1 r%2").arg(t).arg(r)});
            else
                tables[t]->row({qint64(r * t)});
        }
    }
    database.table(QStringLiteral("Empty")).column(QStringLiteral("Nothing"), ColumnType::Text);
    names.append(QStringLiteral("Empty"));
    const QString path = write(database);

    EXPECT_EQ(mdbTables(path), names);
    for (int t : {0, 1, 37, tableCount - 1}) {
        const auto rows = mdbExport(path, names[t]);
        ASSERT_EQ(rows.size(), rowsPerTable + 1) << names[t].toStdString();
        const int r = rowsPerTable - 1;
        const QStringList last = t % 2 == 0 ? QStringList{QString::number(r), QStringLiteral("t%1 r%2").arg(t).arg(r)}
                                            : QStringList{QString::number(r * t)};
        EXPECT_EQ(rows.back(), last);
    }
    EXPECT_EQ(mdbExport(path, QStringLiteral("Empty")), QList<QStringList>{{QStringLiteral("Nothing")}});
}

TEST_F(JetWriterTest, TwoHundredFiftyFiveColumnsSpanSeveralDefinitionPages)
{
    constexpr int columnCount = 255;
    DatabaseBuilder database;
    TableBuilder& table = database.table(QStringLiteral("Wide"));
    QStringList header;
    QList<Value> values;
    QStringList expected;
    for (int c = 0; c < columnCount; ++c) {
        header.append(QStringLiteral("Colonne numéro %1 au nom assez long").arg(c));
        const bool text = c % 3 == 0;
        table.column(header.back(), text ? ColumnType::Text : ColumnType::Long, 10);
        values.append(text ? Value(QStringLiteral("v%1").arg(c)) : Value(qint64(c * 1000)));
        expected.append(text ? QStringLiteral("v%1").arg(c) : QString::number(c * 1000));
    }
    table.row(values);
    values[columnCount - 1] = std::monostate{};
    table.row(values);
    const auto rows = mdbExport(write(database), QStringLiteral("Wide"));

    ASSERT_EQ(rows.size(), 3);
    EXPECT_EQ(rows[0], header);
    EXPECT_EQ(rows[1], expected);
    expected.back().clear();
    EXPECT_EQ(rows[2], expected);
}

TEST_F(JetWriterTest, RefusesWhatJetCannotStore)
{
    struct Case {
        const char* what;
        std::function<void()> action;
    };
    DatabaseBuilder database;
    TableBuilder& table = database.table(QStringLiteral("T"))
                              .column(QStringLiteral("B"), ColumnType::Byte)
                              .column(QStringLiteral("Short"), ColumnType::Text, 3)
                              .column(QStringLiteral("When"), ColumnType::DateTime);
    const QList<Case> invalid{
        {"too few values", [&] { table.row({qint64(1)}); }},
        {"byte above 255", [&] { table.row({qint64(256), QString(), std::monostate{}}); }},
        {"text for a byte", [&] { table.row({QStringLiteral("1"), QString(), std::monostate{}}); }},
        {"text too long", [&] { table.row({qint64(1), QStringLiteral("abcd"), std::monostate{}}); }},
        {"invalid date", [&] { table.row({qint64(1), QString(), QDateTime()}); }},
        {"same table twice", [&] { database.table(QStringLiteral("t")); }},
        {"same column twice", [&] { database.table(QStringLiteral("U")).column("A", ColumnType::Long).column("a", ColumnType::Text); }},
        {"text length 0", [&] { database.table(QStringLiteral("V")).column("A", ColumnType::Text, 0); }},
    };
    for (const Case& item : invalid)
        EXPECT_THROW(item.action(), std::invalid_argument) << item.what;

    table.row({qint64(1), QStringLiteral("abc"), std::monostate{}});
    EXPECT_THROW(table.column(QStringLiteral("Late"), ColumnType::Long), std::logic_error);
    EXPECT_EQ(table.rowCount(), 1);
    EXPECT_THROW(database.write(folder.filePath(QStringLiteral("missing/folder/x.mdb"))), std::runtime_error);
}

} // namespace
} // namespace p1::jet
