#pragma once

#include <QFile>
#include <QString>

#include <array>
#include <cstdint>

namespace p1::jetfile {

// The pages of a Jet 4 file, read with bounds checks. Every structure found damaged raises a
// SourceError naming the file, so that nothing downstream (libmdb included) is handed bytes
// it could run out of bounds with.
constexpr int pageSize = 0x1000;
using Page = std::array<std::uint8_t, pageSize>;

inline quint16 le16(const std::uint8_t* bytes) { return quint16(bytes[0] | bytes[1] << 8); }
inline quint32 le32(const std::uint8_t* bytes)
{
    return quint32(bytes[0]) | quint32(bytes[1]) << 8 | quint32(bytes[2]) << 16
        | quint32(bytes[3]) << 24;
}

// A row of a row-bearing page (data or long-value page): bytes [start, end) of the page.
struct RowSpan {
    int start = 0;
    int end = 0;
    int size() const { return end - start; }
};

enum PageType : std::uint8_t { dataPage = 0x01, tableDefinitionPage = 0x02 };

class PageFile {
public:
    // Throws SourceError: missing file, unreadable file, not a Jet 4 file, encrypted file.
    explicit PageFile(const QString& path);

    const QString& path() const { return path_; }
    quint32 pageCount() const { return pageCount_; }
    // Throws SourceError for a page beyond the end of the file.
    void checkPage(quint32 page) const;
    void read(quint32 page, Page& into) const;

    // The page a (page << 8 | row) pointer designates, checked against the file.
    quint32 pointedPage(quint32 pageRow) const;
    // The row such a pointer designates, checked against its page.
    RowSpan pointedRow(quint32 pageRow, const std::uint8_t* page) const;
    RowSpan readPointedRow(quint32 pageRow, Page& into) const;

    [[noreturn]] void damaged(const QString& detail) const;

private:
    void checkHeader();

    QString path_;
    mutable QFile file_;
    quint32 pageCount_ = 0;
};

// A page is read either into a Page of ours or into libmdb's own page buffer.
int rowCount(const std::uint8_t* page);
// The row's bytes; deleted and overflow flags are the caller's business (rowFlags).
RowSpan rowSpan(const PageFile& file, const std::uint8_t* page, int row);
quint16 rowFlags(const std::uint8_t* page, int row);
constexpr quint16 rowOffsetMask = 0x1fff;
constexpr quint16 deletedRowFlag = 0x8000;
constexpr quint16 overflowRowFlag = 0x4000;

} // namespace p1::jetfile
