// Table and row layouts that libmdb reads without a word of complaint, made by writing or
// patching a file: a definition spread over several pages reads whole, one whose column names
// run past its pages or that numbers a column past its columns is refused; a row older than the
// table's last columns reads those columns as NULL (Yes/No as No), and a row whose offsets
// overlap or run backwards refuses the file instead of yielding values taken from another
// column's bytes.
#include "tools/jetwriter/jet_writer.h"

#include "common/errors.h"
#include "source/source_database.h"

#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <functional>

using namespace p1;

namespace {

constexpr int pageSize = 0x1000;
constexpr int catalogPage = 2;
constexpr int nullMaskSize = 1; // five columns
constexpr int columnNumberLimitAt = 0x29;
constexpr int physicalIndexCountAt = 0x33;
constexpr int columnRecordsAt = 0x3f;
constexpr int physicalIndexEntrySize = 12;
constexpr int columnRecordSize = 25;
constexpr int columnNumberInRecord = 5;

quint32 readLe(const QByteArray& bytes, qint64 at, int size)
{
    quint32 value = 0;
    for (int i = size - 1; i >= 0; --i)
        value = value << 8 | quint8(bytes[at + i]);
    return value;
}

void writeLe(QByteArray& bytes, qint64 at, quint32 value, int size)
{
    for (int i = 0; i < size; ++i)
        bytes[at + i] = char(value >> (8 * i));
}

// Row 0 of the only data page of a one-row table: Code (fixed, 4 bytes), Nom and Note
// (variable), Ajout (fixed, 4 bytes), Actif (Yes/No, null-mask bit only). Row 0 ends at the page
// end, so its trailing structures sit at fixed distances from there.
class RowShape {
public:
    RowShape()
    {
        jet::DatabaseBuilder database;
        database.table("Fiches")
            .column("Code", jet::ColumnType::Long)
            .column("Nom", jet::ColumnType::Text, 20)
            .column("Note", jet::ColumnType::Text, 20)
            .column("Ajout", jet::ColumnType::Long)
            .column("Actif", jet::ColumnType::Boolean)
            .row({qint64(1), QString("Dupont"), QString("Vu"), qint64(7), true});
        path_ = folder_.filePath("fiches.mdb");
        database.write(path_);
        QFile file(path_);
        EXPECT_TRUE(file.open(QIODevice::ReadOnly));
        bytes = file.readAll();
        for (qint64 page = 3; page * pageSize < bytes.size(); ++page) {
            const quint32 owner = readLe(bytes, page * pageSize + 4, 4);
            if (bytes[page * pageSize] == 0x01 && owner != catalogPage && owner * pageSize < bytes.size()
                && bytes[owner * pageSize] == 0x02)
                dataPage_ = page, definitionPage_ = owner;
        }
        EXPECT_GT(dataPage_, 0);
    }

    qint64 definitionAt(int offset) const { return definitionPage_ * pageSize + offset; }
    // Column records follow the physical indexes; the first name follows the five records.
    qint64 columnRecordAt(int column) const
    {
        return definitionAt(columnRecordsAt)
            + readLe(bytes, definitionAt(physicalIndexCountAt), 4) * physicalIndexEntrySize
            + column * columnRecordSize;
    }
    qint64 firstNameLengthAt() const { return columnRecordAt(5); }

    qint64 rowStart() const { return dataPage_ * pageSize + readLe(bytes, dataPage_ * pageSize + 0x0e, 2); }
    qint64 rowEnd() const { return (dataPage_ + 1) * pageSize; }
    qint64 variableCountAt() const { return rowEnd() - nullMaskSize - 2; }
    // Slot k of the variable offsets; slot 2 is the end of the variable data.
    qint64 variableOffsetAt(int slot) const { return variableCountAt() - 2 - 2 * slot; }

    QList<SourceValue> readRow()
    {
        QFile file(path_);
        EXPECT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(bytes);
        file.close();
        QList<QList<SourceValue>> rows;
        SourceDatabase(path_).readRows("Fiches", [&](const QList<SourceValue>& row) { rows.append(row); });
        EXPECT_EQ(rows.size(), 1);
        return rows.value(0);
    }

    QByteArray bytes;

private:
    QTemporaryDir folder_;
    QString path_;
    qint64 dataPage_ = 0;
    qint64 definitionPage_ = 0;
};

void expectRefused(const std::function<void()>& read, const char* reason)
{
    try {
        read();
        ADD_FAILURE() << "read";
    } catch (const SourceError& error) {
        EXPECT_TRUE(error.message().contains("est endommagé")) << error.message().toStdString();
        EXPECT_TRUE(error.message().contains(reason)) << error.message().toStdString();
    }
}

TEST(SourceTableLayout, DefinitionOverSeveralPagesReadsWhole)
{
    constexpr int columnCount = 200;
    jet::DatabaseBuilder database;
    jet::TableBuilder& table = database.table("Large");
    QList<jet::Value> values;
    for (int c = 0; c < columnCount; ++c) {
        table.column(QString("Colonne n°%1 d'une table très large").arg(c), jet::ColumnType::Long);
        values.append(qint64(c * 3));
    }
    table.row(values);
    QTemporaryDir folder;
    const QString path = folder.filePath("large.mdb");
    database.write(path);

    SourceDatabase source(path);
    const QList<SourceColumn> columns = source.columns("Large");
    ASSERT_EQ(columns.size(), columnCount);
    EXPECT_EQ(columns.last().name, QString("Colonne n°199 d'une table très large"));
    QList<QList<SourceValue>> rows;
    source.readRows("Large", [&](const QList<SourceValue>& row) { rows.append(row); });
    ASSERT_EQ(rows.size(), 1);
    EXPECT_EQ(rows[0].last(), SourceValue(qint64(597)));
}

TEST(SourceTableLayout, ColumnNameRunningPastTheDefinitionIsRefused)
{
    RowShape table;
    writeLe(table.bytes, table.firstNameLengthAt(), 0xfff0, 2);
    // Refused by the check of the names, before libmdb follows the lengths off the last page.
    expectRefused([&] { table.readRow(); }, "des colonnes qui dépassent ses pages");
}

// No row has a null flag for a column numbered past the table's columns: without the check,
// every value of Ajout read as NULL.
TEST(SourceTableLayout, ColumnNumberedPastTheTableIsRefused)
{
    const auto ajoutNumberAt = [](const RowShape& table) { return table.columnRecordAt(3) + columnNumberInRecord; };
    const auto columnNumberLimit = [](const RowShape& table) { return table.definitionAt(columnNumberLimitAt); };
    const struct {
        const char* name;
        std::function<qint64(const RowShape&)> at;
        quint16 value;
    } cases[] = {
        {"Ajout numbered 5 of 0..4", ajoutNumberAt, 5},
        {"Ajout numbered 0x7ff0", ajoutNumberAt, 0x7ff0},
        {"table of five columns counting four", columnNumberLimit, 4},
    };
    for (const auto& test : cases) {
        SCOPED_TRACE(test.name);
        RowShape table;
        writeLe(table.bytes, test.at(table), test.value, 2);
        expectRefused([&] { table.readRow(); }, "a une définition impossible");
    }
}

// Its null mask keeps every bit set: a column the row predates has no flag there, whatever the
// bit past the row's own columns says.
TEST(SourceRowShape, RowOlderThanTheLastColumnsReadsThemAsNull)
{
    const SourceValue null = std::monostate{};
    const struct {
        const char* name;
        quint16 columnCount;
        quint16 variableCount;
        QList<SourceValue> expected;
    } cases[] = {
        {"row as written", 5, 2, {qint64(1), QString("Dupont"), QString("Vu"), qint64(7), true}},
        {"row written before Actif", 4, 2, {qint64(1), QString("Dupont"), QString("Vu"), qint64(7), false}},
        {"row written before Ajout", 3, 2, {qint64(1), QString("Dupont"), QString("Vu"), null, false}},
        {"row written before Note", 2, 1, {qint64(1), QString("Dupont"), null, null, false}},
        // Three columns of which one variable leave room for a second fixed one, but Ajout
        // comes after the row's last column.
        {"row of three columns with one variable", 3, 1, {qint64(1), QString("Dupont"), null, null, false}},
    };
    for (const auto& test : cases) {
        SCOPED_TRACE(test.name);
        RowShape row;
        writeLe(row.bytes, row.rowStart(), test.columnCount, 2);
        writeLe(row.bytes, row.variableCountAt(), test.variableCount, 2);
        EXPECT_EQ(row.readRow(), test.expected);
    }
}

TEST(SourceRowShape, OverlappingOrImpossibleOffsetsRefuseTheFile)
{
    const struct {
        const char* name;
        std::function<void(RowShape&)> damage;
        const char* reason;
    } cases[] = {
        {"variable data starting inside the fixed values",
         [](RowShape& row) { writeLe(row.bytes, row.variableOffsetAt(0), 4, 2); },
         "zone de valeurs fixes tronquée"},
        {"variable offsets running backwards",
         [](RowShape& row) {
             writeLe(row.bytes, row.variableOffsetAt(1), readLe(row.bytes, row.variableOffsetAt(0), 2) - 1, 2);
         },
         "positions de colonnes impossibles"},
        {"null mask longer than the row",
         [](RowShape& row) { writeLe(row.bytes, row.rowStart(), 0xffff, 2); }, "est tronquée"},
    };
    for (const auto& test : cases) {
        SCOPED_TRACE(test.name);
        RowShape row;
        test.damage(row);
        expectRefused([&] { row.readRow(); }, test.reason);
    }
}

} // namespace
