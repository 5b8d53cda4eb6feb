#pragma once

#include <QByteArray>
#include <QString>

#include <vector>

namespace p1::jet::writing {

constexpr int pageSize = 0x1000;
constexpr int rowPageHeaderSize = 0x0e;
// Rows are addressed by an 8-bit index in page/row pointers.
constexpr int maxRowsPerPage = 255;
constexpr int largestRow = pageSize - rowPageHeaderSize - 2;

enum class PageType : char { Data = 0x01, TableDefinition = 0x02, UsageBitmap = 0x05 };

// A page/row pointer as Jet stores it: page number in the upper 24 bits, row index below.
inline quint32 pageRow(quint32 page, int row)
{
    return (page << 8) | quint32(row);
}

void putInt16(QByteArray& bytes, int offset, int value);
void putInt32(QByteArray& bytes, int offset, quint32 value);
void appendInt16(QByteArray& bytes, int value);
void appendInt32(QByteArray& bytes, quint32 value);

// The file's pages, kept in memory in page order. Copies share the unchanged pages, so the
// finishing touches of a write can go on a copy and leave the builder as it was.
class PageStore {
public:
    PageStore();

    quint32 allocate();
    // A fresh row-bearing page: data pages carry their table's definition page as owner.
    quint32 allocateRowPage(quint32 owner);
    QByteArray& page(quint32 number) { return pages_[number]; }
    const QByteArray& page(quint32 number) const { return pages_[number]; }
    quint32 count() const { return quint32(pages_.size()); }

    // Adds the row to the page when it fits; returns its index there, or -1.
    int addRow(quint32 page, const QByteArray& row);
    // Stores a long value row on a long value page and returns its page/row pointer.
    quint32 addLongValueRow(const QByteArray& row);

    // Throws std::runtime_error when the file cannot be written.
    void save(const QString& path) const;

private:
    std::vector<QByteArray> pages_;
    quint32 longValuePage_ = 0;
};

} // namespace p1::jet::writing
