#include "tools/jetwriter/page_store.h"

#include <QFile>

#include <stdexcept>

namespace p1::jet::writing {

namespace {

constexpr int freeSpaceOffset = 0x02;
constexpr int ownerOffset = 0x04;
constexpr int rowCountOffset = 0x0c;

int int16At(const QByteArray& bytes, int offset)
{
    return quint8(bytes[offset]) | (quint8(bytes[offset + 1]) << 8);
}

int rowCount(const QByteArray& page)
{
    return int16At(page, rowCountOffset);
}

// Rows are packed downward from the page end, so the last row added starts lowest.
int lowestRowStart(const QByteArray& page)
{
    const int count = rowCount(page);
    return count == 0 ? pageSize : int16At(page, rowPageHeaderSize + 2 * (count - 1)) & 0x1fff;
}

int freeSpace(const QByteArray& page)
{
    return lowestRowStart(page) - (rowPageHeaderSize + 2 * rowCount(page));
}

} // namespace

void putInt16(QByteArray& bytes, int offset, int value)
{
    bytes[offset] = char(value & 0xff);
    bytes[offset + 1] = char((value >> 8) & 0xff);
}

void putInt32(QByteArray& bytes, int offset, quint32 value)
{
    for (int i = 0; i < 4; ++i)
        bytes[offset + i] = char((value >> (8 * i)) & 0xff);
}

void appendInt16(QByteArray& bytes, int value)
{
    bytes.append(char(value & 0xff));
    bytes.append(char((value >> 8) & 0xff));
}

void appendInt32(QByteArray& bytes, quint32 value)
{
    for (int i = 0; i < 4; ++i)
        bytes.append(char((value >> (8 * i)) & 0xff));
}

PageStore::PageStore()
{
    pages_.reserve(1024);
}

quint32 PageStore::allocate()
{
    pages_.emplace_back(pageSize, '\0');
    return count() - 1;
}

quint32 PageStore::allocateRowPage(quint32 owner)
{
    const quint32 number = allocate();
    QByteArray& bytes = page(number);
    bytes[0] = char(PageType::Data);
    bytes[1] = 0x01;
    putInt32(bytes, ownerOffset, owner);
    putInt16(bytes, freeSpaceOffset, freeSpace(bytes));
    return number;
}

int PageStore::addRow(quint32 number, const QByteArray& row)
{
    QByteArray& bytes = page(number);
    const int count = rowCount(bytes);
    if (row.isEmpty() || count >= maxRowsPerPage || row.size() + 2 > freeSpace(bytes))
        return -1;
    const int start = lowestRowStart(bytes) - int(row.size());
    bytes.replace(start, row.size(), row);
    putInt16(bytes, rowPageHeaderSize + 2 * count, start);
    putInt16(bytes, rowCountOffset, count + 1);
    putInt16(bytes, freeSpaceOffset, freeSpace(bytes));
    return count;
}

quint32 PageStore::addLongValueRow(const QByteArray& row)
{
    // Long value pages are marked "LVAL" where data pages name their table, so no table scan
    // mistakes them for its own.
    static const quint32 longValueMarker = 'L' | ('V' << 8) | ('A' << 16) | (quint32('L') << 24);
    int index = longValuePage_ == 0 ? -1 : addRow(longValuePage_, row);
    if (index < 0) {
        longValuePage_ = allocateRowPage(longValueMarker);
        index = addRow(longValuePage_, row);
    }
    if (index < 0)
        throw std::logic_error("long value row larger than a page");
    return pageRow(longValuePage_, index);
}

void PageStore::save(const QString& path) const
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        throw std::runtime_error(
            QStringLiteral("Impossible de créer le fichier %1 : %2").arg(path, file.errorString()).toStdString());
    for (const QByteArray& bytes : pages_) {
        if (file.write(bytes) != bytes.size())
            throw std::runtime_error(
                QStringLiteral("Impossible d'écrire le fichier %1 : %2").arg(path, file.errorString()).toStdString());
    }
    if (!file.flush())
        throw std::runtime_error(
            QStringLiteral("Impossible d'écrire le fichier %1 : %2").arg(path, file.errorString()).toStdString());
}

} // namespace p1::jet::writing
