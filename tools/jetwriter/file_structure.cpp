#include "tools/jetwriter/file_structure.h"

#include <array>

namespace p1::jet::writing {

namespace {

constexpr int maskedRegionStart = 0x18;
constexpr int maskedRegionSize = 128;
constexpr int codePageOffset = 0x3c;
constexpr int sortOrderOffset = 0x6e;
constexpr int windowsWesternCodePage = 1252;
constexpr int generalSortOrder = 0x0409;

constexpr int inlineMapSize = 64;
constexpr int inlineMapHeader = 5;
constexpr quint32 inlineMapPages = (inlineMapSize - inlineMapHeader) * 8;
constexpr int bitmapPageHeader = 4;
constexpr quint32 bitmapPagePages = (pageSize - bitmapPageHeader) * 8;

constexpr int definitionHeaderSize = 0x3f;
constexpr int continuationHeaderSize = 0x08;
constexpr int columnRecordSize = 25;
constexpr char userTable = 0x4e;
constexpr char systemTable = 0x53;
constexpr char columnFixed = 0x01;
constexpr char columnNullable = 0x02;
constexpr char compressedUnicode = 0x01;

// RC4, as Jet uses it to mask the header region.
QByteArray rc4Keystream(const QByteArray& key, int length)
{
    std::array<quint8, 256> state{};
    for (int i = 0; i < 256; ++i)
        state[i] = quint8(i);
    for (int i = 0, j = 0; i < 256; ++i) {
        j = (j + state[i] + quint8(key[i % key.size()])) & 0xff;
        std::swap(state[i], state[j]);
    }
    QByteArray stream;
    for (int n = 0, i = 0, j = 0; n < length; ++n) {
        i = (i + 1) & 0xff;
        j = (j + state[i]) & 0xff;
        std::swap(state[i], state[j]);
        stream.append(char(state[(state[i] + state[j]) & 0xff]));
    }
    return stream;
}

void setBit(QByteArray& bytes, int offset, quint32 bit)
{
    const int index = offset + int(bit / 8);
    bytes[index] = char(bytes[index] | (1 << (bit % 8)));
}

QByteArray inlineMap(const std::vector<quint32>& pages)
{
    const quint32 start = pages.empty() ? 0 : pages.front();
    QByteArray map(inlineMapSize, '\0');
    putInt32(map, 1, start);
    for (quint32 page : pages)
        setBit(map, inlineMapHeader, page - start);
    return map;
}

quint32 bitmapPage(PageStore& store)
{
    const quint32 number = store.allocate();
    store.page(number)[0] = char(PageType::UsageBitmap);
    store.page(number)[1] = 0x01;
    return number;
}

QByteArray referenceMap(const std::vector<quint32>& pages, PageStore& store)
{
    const quint32 entries = pages.back() / bitmapPagePages + 1;
    QByteArray map(1 + 4 * entries, '\0');
    map[0] = 0x01;
    std::vector<quint32> bitmapPages(entries, 0);
    for (quint32 page : pages) {
        const quint32 entry = page / bitmapPagePages;
        if (bitmapPages[entry] == 0) {
            bitmapPages[entry] = bitmapPage(store);
            putInt32(map, 1 + 4 * int(entry), bitmapPages[entry]);
        }
        setBit(store.page(bitmapPages[entry]), bitmapPageHeader, page % bitmapPagePages);
    }
    return map;
}

QByteArray columnRecord(const ColumnLayout& column)
{
    const bool textual = column.type == JetType::Text || column.type == JetType::Memo;
    QByteArray record(columnRecordSize, '\0');
    record[0x00] = char(column.type);
    putInt16(record, 0x05, column.number);
    putInt16(record, 0x07, column.fixed ? 0 : column.varIndex);
    putInt16(record, 0x09, column.number);
    if (textual)
        putInt16(record, 0x0b, generalSortOrder);
    record[0x0f] = char(columnNullable | (column.fixed ? columnFixed : 0));
    record[0x10] = textual ? compressedUnicode : '\0';
    putInt16(record, 0x15, column.fixed ? column.fixedOffset : 0);
    putInt16(record, 0x17, column.length);
    return record;
}

QByteArray definitionStream(const TableDefinition& definition)
{
    const TableLayout& layout = definition.layout;
    const int columnCount = int(layout.columns().size());
    QByteArray stream(definitionHeaderSize, '\0');
    stream[0x00] = char(PageType::TableDefinition);
    stream[0x01] = 0x01;
    putInt32(stream, 0x10, quint32(definition.rowCount));
    stream[0x28] = definition.system ? systemTable : userTable;
    putInt16(stream, 0x29, columnCount);
    putInt16(stream, 0x2b, layout.varCount());
    putInt16(stream, 0x2d, columnCount);
    putInt32(stream, 0x37, definition.usedPagesMap);
    // Nothing is ever inserted into these files, so the free-space map can be the same row.
    putInt32(stream, 0x3b, definition.usedPagesMap);
    for (const ColumnLayout& column : layout.columns())
        stream.append(columnRecord(column));
    for (const ColumnLayout& column : layout.columns()) {
        const QByteArray name = encodeText(column.name, false);
        appendInt16(stream, int(name.size()));
        stream.append(name);
    }
    appendInt16(stream, 0xffff); // no per-column usage maps follow
    putInt32(stream, 0x08, quint32(stream.size()));
    return stream;
}

void fillDefinitionPage(QByteArray& page, const QByteArray& part, int headerSize, quint32 next)
{
    page[0x00] = char(PageType::TableDefinition);
    page[0x01] = 0x01;
    page.replace(headerSize, part.size(), part);
    putInt16(page, 0x02, pageSize - headerSize - int(part.size()));
    putInt32(page, 0x04, next);
}

} // namespace

QByteArray headerPage()
{
    QByteArray page(pageSize, '\0');
    page[0x01] = 0x01;
    page.replace(0x04, 16, QByteArray("Standard Jet DB\0", 16));
    page[0x14] = 0x01; // Jet 4
    putInt16(page, codePageOffset, windowsWesternCodePage);
    putInt16(page, sortOrderOffset, generalSortOrder);
    // The database key stays 0 once unmasked: the pages are not encrypted.
    const QByteArray keystream = rc4Keystream(QByteArray("\xc7\xda\x39\x6b", 4), maskedRegionSize);
    for (int i = 0; i < maskedRegionSize; ++i)
        page[maskedRegionStart + i] = char(page[maskedRegionStart + i] ^ keystream[i]);
    return page;
}

QByteArray usageMap(const std::vector<quint32>& pages, PageStore& store)
{
    if (pages.empty() || pages.back() - pages.front() < inlineMapPages)
        return inlineMap(pages);
    return referenceMap(pages, store);
}

void writeTableDefinition(const TableDefinition& definition, quint32 firstPage, PageStore& store)
{
    const QByteArray stream = definitionStream(definition);
    const QByteArray firstPart = stream.left(pageSize);
    constexpr int continuationCapacity = pageSize - continuationHeaderSize;
    quint32 current = firstPage;
    qsizetype written = pageSize;
    fillDefinitionPage(store.page(current), firstPart.mid(continuationHeaderSize),
                       continuationHeaderSize, 0);
    while (written < stream.size()) {
        const quint32 next = store.allocate();
        putInt32(store.page(current), 0x04, next);
        current = next;
        fillDefinitionPage(store.page(current), stream.mid(written, continuationCapacity),
                           continuationHeaderSize, 0);
        written += continuationCapacity;
    }
}

} // namespace p1::jet::writing
