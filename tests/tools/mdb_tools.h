#pragma once

// Reading written files back with the mdbtools command-line tools, and with libmdb itself for
// what the tools blur (NULL versus empty text, dates before 30 December 1899).

#include <QByteArray>
#include <QList>
#include <QProcess>
#include <QString>
#include <QStringList>

#include <gtest/gtest.h>

#include <glib.h>
#include <mdbtools.h>

#include <cstring>
#include <vector>

namespace p1::test {

inline QString runMdbTool(const QString& program, const QStringList& arguments)
{
    QProcess process;
    process.start(program, arguments);
    const bool finished = process.waitForFinished(120'000);
    EXPECT_TRUE(finished) << program.toStdString() << " did not finish";
    EXPECT_EQ(process.exitCode(), 0)
        << program.toStdString() << ": " << process.readAllStandardError().toStdString();
    return QString::fromUtf8(process.readAllStandardOutput());
}

inline QStringList mdbTables(const QString& path)
{
    return runMdbTool(QStringLiteral("mdb-tables"), {QStringLiteral("-1"), path})
        .split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

inline qint64 mdbCount(const QString& path, const QString& table)
{
    return runMdbTool(QStringLiteral("mdb-count"), {path, table}).trimmed().toLongLong();
}

// RFC 4180 records: quoted fields may hold commas, doubled quotes and line breaks.
inline QList<QStringList> parseCsv(const QString& text)
{
    QList<QStringList> records;
    QStringList record;
    QString field;
    bool quoted = false;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar ch = text[i];
        if (quoted) {
            if (ch == QLatin1Char('"') && i + 1 < text.size() && text[i + 1] == QLatin1Char('"')) {
                field += ch;
                ++i;
            } else if (ch == QLatin1Char('"')) {
                quoted = false;
            } else {
                field += ch;
            }
        } else if (ch == QLatin1Char('"')) {
            quoted = true;
        } else if (ch == QLatin1Char(',')) {
            record.append(field);
            field.clear();
        } else if (ch == QLatin1Char('\n')) {
            record.append(field);
            records.append(record);
            record.clear();
            field.clear();
        } else {
            field += ch;
        }
    }
    return records;
}

// The header row first, then one list per row. NULL and empty text both come out empty.
inline QList<QStringList> mdbExport(const QString& path, const QString& table)
{
    return parseCsv(runMdbTool(QStringLiteral("mdb-export"),
                               {QStringLiteral("-B"), QStringLiteral("-T"), QStringLiteral("%Y-%m-%d %H:%M:%S"),
                                path, table}));
}

struct RawField {
    bool isNull = true;
    QByteArray bytes; // as stored in the row: a memo gives its 12-byte header
};

// Each row's fields as libmdb cracks them from the page, before any rendering to text.
inline QList<QList<RawField>> rawRows(const QString& path, const QString& table)
{
    QList<QList<RawField>> rows;
    MdbHandle* mdb = mdb_open(path.toLocal8Bit().constData(), MDB_NOFLAGS);
    if (!mdb) {
        ADD_FAILURE() << "libmdb cannot open " << path.toStdString();
        return rows;
    }
    QByteArray name = table.toUtf8();
    MdbTableDef* definition = mdb_read_table_by_name(mdb, name.data(), MDB_TABLE);
    if (!definition) {
        ADD_FAILURE() << "no table " << table.toStdString();
        mdb_close(mdb);
        return rows;
    }
    mdb_read_columns(definition);
    mdb_rewind_table(definition);
    std::vector<MdbField> fields(definition->num_cols);
    while (mdb_fetch_row(definition)) {
        int start = 0;
        size_t length = 0;
        mdb_find_row(mdb, int(definition->cur_row) - 1, &start, &length);
        const int count = mdb_crack_row(definition, start, length, fields.data());
        QList<RawField> row;
        for (int i = 0; i < count; ++i)
            row.append({bool(fields[i].is_null),
                        QByteArray(static_cast<const char*>(fields[i].value), fields[i].siz)});
        rows.append(row);
    }
    mdb_free_tabledef(definition);
    mdb_close(mdb);
    return rows;
}

inline double rawDouble(const RawField& field)
{
    double value = 0;
    if (field.bytes.size() == sizeof value)
        std::memcpy(&value, field.bytes.constData(), sizeof value);
    return value;
}

} // namespace p1::test
