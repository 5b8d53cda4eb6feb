// Row states that edits leave in a Jet file, made by patching a written file: a deleted row is
// skipped, a row that moved to another place is read where it now lives, and a row count that
// disagrees with the rows found refuses the table instead of importing part of it.
#include "tools/jetwriter/jet_writer.h"

#include "common/errors.h"
#include "source/source_database.h"

#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace p1;

namespace {

constexpr int pageSize = 0x1000;
constexpr int catalogPage = 2;
constexpr int rowOffsetsAt = 0x0e;
constexpr int declaredRowsAt = 0x10;
constexpr quint16 deletedFlag = 0x8000;
constexpr quint16 movedFlag = 0x4000;

quint32 readLe32(const QByteArray& bytes, qint64 at)
{
    return quint8(bytes[at]) | quint8(bytes[at + 1]) << 8 | quint8(bytes[at + 2]) << 16
        | quint32(quint8(bytes[at + 3])) << 24;
}

void writeLe(QByteArray& bytes, qint64 at, quint32 value, int size)
{
    for (int i = 0; i < size; ++i)
        bytes[at + i] = char(value >> (8 * i));
}

// A one-table file of three rows A, B, C on one data page, opened for patching.
class RowFlags : public ::testing::Test {
protected:
    void SetUp() override
    {
        jet::DatabaseBuilder database;
        database.table("Lignes")
            .column("Code", jet::ColumnType::Long)
            .column("Nom", jet::ColumnType::Text, 20)
            .row({qint64(1), QString("A")})
            .row({qint64(2), QString("B")})
            .row({qint64(3), QString("C")});
        path = folder.filePath("lignes.mdb");
        database.write(path);
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::ReadOnly));
        bytes = file.readAll();
        for (qint64 page = 3; page * pageSize < bytes.size(); ++page) {
            const qint64 start = page * pageSize;
            const quint32 owner = readLe32(bytes, start + 4);
            if (bytes[start] == 0x01 && owner != catalogPage && owner * pageSize < bytes.size()
                && bytes[owner * pageSize] == 0x02)
                dataPage = page, definitionPage = owner;
        }
        ASSERT_GT(dataPage, 0);
    }

    qint64 rowOffsetWord(int row) const { return dataPage * pageSize + rowOffsetsAt + 2 * row; }
    quint16 offsetWord(int row) const
    {
        return quint16(quint8(bytes[rowOffsetWord(row)]) | quint8(bytes[rowOffsetWord(row) + 1]) << 8);
    }
    qint64 rowStart(int row) const { return dataPage * pageSize + (offsetWord(row) & 0x1fff); }
    void flagRow(int row, quint16 flag) { writeLe(bytes, rowOffsetWord(row), offsetWord(row) | flag, 2); }
    void declareRows(int count) { writeLe(bytes, definitionPage * pageSize + declaredRowsAt, count, 4); }

    QStringList namesRead()
    {
        QFile file(path);
        EXPECT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(bytes);
        file.close();
        QStringList names;
        SourceDatabase(path).readRows("Lignes", [&](const QList<SourceValue>& row) {
            names.append(std::get<QString>(row[1]));
        });
        return names;
    }

    QTemporaryDir folder;
    QString path;
    QByteArray bytes;
    qint64 dataPage = 0;
    qint64 definitionPage = 0;
};

TEST_F(RowFlags, DeletedRowIsSkipped)
{
    flagRow(1, deletedFlag);
    declareRows(2);
    EXPECT_EQ(namesRead(), (QStringList{"A", "C"}));
}

TEST_F(RowFlags, MovedRowIsReadWhereItNowLives)
{
    // Row 0 now points at row 2, which a scan skips as the moved copy.
    writeLe(bytes, rowStart(0), quint32(dataPage << 8 | 2), 4);
    flagRow(0, movedFlag);
    flagRow(2, deletedFlag);
    declareRows(2);
    EXPECT_EQ(namesRead(), (QStringList{"C", "B"}));
}

TEST_F(RowFlags, RowCountDisagreeingWithTheRowsFoundRefusesTheTable)
{
    flagRow(1, deletedFlag);
    try {
        namesRead();
        FAIL() << "read";
    } catch (const SourceError& error) {
        EXPECT_TRUE(error.message().contains("est endommagé")) << error.message().toStdString();
        EXPECT_TRUE(error.message().contains("[Lignes] annonce 3 lignes mais 2")) << error.message().toStdString();
    }
}

} // namespace
