#include "source/source_jet_table.h"

#include "source/source_jet_values.h"

#include <QSet>

namespace p1::jetfile {

namespace {

constexpr int definitionNextPageOffset = 0x04;
constexpr int declaredRowCountOffset = 0x10;
constexpr int columnNumberLimitOffset = 0x29;
constexpr int variableColumnCountOffset = 0x2b;
constexpr int columnCountOffset = 0x2d;
constexpr int indexCountOffset = 0x2f;
constexpr int physicalIndexCountOffset = 0x33;
constexpr int usedPagesMapOffset = 0x37;
constexpr int freePagesMapOffset = 0x3b;
constexpr int columnRecordsOffset = 0x3f;
constexpr int physicalIndexEntrySize = 12;
constexpr int columnRecordSize = 25;
constexpr int continuationHeaderSize = 8;
constexpr int maxColumns = 255;
constexpr int maxIndexes = 256;
constexpr int maxDefinitionPages = 64;
constexpr int inlineMapHeaderSize = 5;
constexpr int bitmapPageHeaderSize = 4;
constexpr quint32 pagesPerBitmapPage = (pageSize - bitmapPageHeaderSize) * 8;

// The definition as libmdb reads it: one byte stream made of the first page whole, then each
// continuation page after its header.
QByteArray definitionStream(const PageFile& file, const QString& name, const Page& first)
{
    QByteArray stream(reinterpret_cast<const char*>(first.data()), pageSize);
    Page page = first;
    QSet<quint32> seen;
    int pages = 1;
    for (quint32 next = le32(page.data() + definitionNextPageOffset); next != 0;
         next = le32(page.data() + definitionNextPageOffset)) {
        if (next >= file.pageCount() || seen.contains(next) || ++pages > maxDefinitionPages)
            file.damaged(QStringLiteral("la définition de la table [%1] a une suite de pages "
                                        "impossible").arg(name));
        seen.insert(next);
        file.read(next, page);
        if (page[0] != tableDefinitionPage)
            file.damaged(QStringLiteral("la définition de la table [%1] continue sur une page "
                                        "d'un autre type").arg(name));
        stream.append(reinterpret_cast<const char*>(page.data()) + continuationHeaderSize,
                      pageSize - continuationHeaderSize);
    }
    return stream;
}

// The column names follow the column records, each a 2-byte length and its bytes; libmdb
// follows the page chain as far as the lengths say, past its end if they lie.
bool columnNamesFit(const QByteArray& stream, qint64 namesStart, int columnCount)
{
    qint64 at = namesStart;
    for (int i = 0; i < columnCount; ++i) {
        if (at + 2 > stream.size())
            return false;
        at += 2 + le16(reinterpret_cast<const std::uint8_t*>(stream.constData()) + at);
    }
    return at <= stream.size();
}

void checkPageMap(const PageFile& file, const QString& name, quint32 pointer, int minimumSize)
{
    Page page;
    const RowSpan row = file.readPointedRow(pointer, page);
    if (row.size() < minimumSize)
        file.damaged(QStringLiteral("la carte des pages de la table [%1] est tronquée").arg(name));
}

void addBitmapPages(const PageFile& file, const QString& name, const std::uint8_t* bitmap,
                    int bitCount, quint32 firstPage, QList<quint32>& pages)
{
    for (int bit = 0; bit < bitCount; ++bit) {
        if (!(bitmap[bit / 8] >> (bit % 8) & 1))
            continue;
        const quint64 page = quint64(firstPage) + bit;
        if (page == 0 || page >= file.pageCount())
            file.damaged(QStringLiteral("la carte des pages de la table [%1] désigne une page "
                                        "absente").arg(name));
        pages.append(quint32(page));
    }
}

// The table's data pages in ascending order, from its used-pages map (inline bitmap or a list
// of bitmap pages).
QList<quint32> usedPages(const PageFile& file, const TableLayout& table)
{
    Page mapPage;
    const RowSpan row = file.readPointedRow(table.usedPagesPointer, mapPage);
    const std::uint8_t* map = mapPage.data() + row.start;
    QList<quint32> pages;
    if (map[0] == 0) {
        addBitmapPages(file, table.name, map + inlineMapHeaderSize,
                       (row.size() - inlineMapHeaderSize) * 8, le32(map + 1), pages);
        return pages;
    }
    if (map[0] != 1)
        file.damaged(QStringLiteral("la carte des pages de la table [%1] est d'un type inconnu").arg(table.name));
    Page bitmapPage;
    for (int entry = 0; entry < (row.size() - 1) / 4; ++entry) {
        const quint32 bitmapPageNumber = le32(map + 1 + 4 * entry);
        if (bitmapPageNumber == 0)
            continue;
        file.read(bitmapPageNumber, bitmapPage);
        addBitmapPages(file, table.name, bitmapPage.data() + bitmapPageHeaderSize,
                       int(pagesPerBitmapPage), entry * pagesPerBitmapPage, pages);
    }
    return pages;
}

int fixedSize(std::uint8_t type)
{
    switch (type) {
    case booleanType: return 0;
    case byteType: return 1;
    case integerType: return 2;
    case longType:
    case floatType:
    case complexType: return 4;
    case moneyType:
    case doubleType:
    case dateTimeType: return 8;
    case guidType: return 16;
    case numericType: return 17;
    default: return -1;
    }
}

bool isVariableType(std::uint8_t type)
{
    return type == binaryType || type == textType || type == oleType || type == memoType;
}

} // namespace

TableLayout checkTableDefinition(const PageFile& file, const QString& name, quint32 page)
{
    if (page == 0 || page >= file.pageCount())
        file.damaged(QStringLiteral("la définition de la table [%1] est hors du fichier").arg(name));
    Page definition;
    file.read(page, definition);
    if (definition[0] != tableDefinitionPage)
        file.damaged(QStringLiteral("la définition de la table [%1] n'est pas sur une page de "
                                    "définition").arg(name));
    const QByteArray stream = definitionStream(file, name, definition);
    const std::uint8_t* bytes = definition.data();
    const int columnCount = le16(bytes + columnCountOffset);
    const int variableCount = le16(bytes + variableColumnCountOffset);
    const quint32 indexCount = le32(bytes + indexCountOffset);
    const quint32 physicalIndexCount = le32(bytes + physicalIndexCountOffset);
    if (columnCount < 1 || columnCount > maxColumns || variableCount > columnCount
        || indexCount > maxIndexes || physicalIndexCount > maxIndexes)
        file.damaged(QStringLiteral("la définition de la table [%1] a des nombres de colonnes ou "
                                    "d'index impossibles").arg(name));
    const qint64 namesStart = columnRecordsOffset + qint64(physicalIndexCount) * physicalIndexEntrySize
        + qint64(columnCount) * columnRecordSize;
    if (!columnNamesFit(stream, namesStart, columnCount))
        file.damaged(QStringLiteral("la définition de la table [%1] a des colonnes qui dépassent "
                                    "ses pages").arg(name));
    TableLayout table;
    table.name = name;
    table.definitionPage = page;
    table.declaredRowCount = le32(bytes + declaredRowCountOffset);
    table.usedPagesPointer = le32(bytes + usedPagesMapOffset);
    table.hasVariableColumns = variableCount != 0;
    table.columnNumberLimit = le16(bytes + columnNumberLimitOffset);
    checkPageMap(file, name, table.usedPagesPointer, inlineMapHeaderSize);
    checkPageMap(file, name, le32(bytes + freePagesMapOffset), 1);
    return table;
}

void checkColumns(const PageFile& file, const TableLayout& table)
{
    QSet<int> numbers;
    QSet<int> variableSlots;
    QSet<QString> names;
    for (const Column& column : table.columns) {
        const bool known = isVariableType(column.type) || fixedSize(column.type) >= 0;
        const bool sizeFits = !column.fixed || column.type == booleanType
            || (isVariableType(column.type) ? column.size > 0 : column.size == fixedSize(column.type));
        const bool slotFree = column.fixed || !variableSlots.contains(column.varIndex);
        // A number past the table's columns would find no null flag in any row: every value of
        // the column would read as NULL.
        const bool numberFits = column.number >= 0 && column.number < table.columnNumberLimit;
        if (!known || !sizeFits || !slotFree || !numberFits || column.name.isEmpty()
            || numbers.contains(column.number) || names.contains(column.name.toCaseFolded())
            || (!column.fixed && !table.hasVariableColumns))
            file.damaged(QStringLiteral("la colonne [%1] de la table [%2] a une définition "
                                        "impossible").arg(column.name, table.name));
        numbers.insert(column.number);
        names.insert(column.name.toCaseFolded());
        if (!column.fixed)
            variableSlots.insert(column.varIndex);
    }
}

SourceType sourceType(std::uint8_t jetType)
{
    switch (jetType) {
    case booleanType: return SourceType::Boolean;
    case byteType: return SourceType::Byte;
    case integerType: return SourceType::Integer;
    case longType:
    case complexType: return SourceType::Long;
    case moneyType:
    case floatType:
    case doubleType:
    case numericType: return SourceType::Double;
    case dateTimeType: return SourceType::DateTime;
    case textType: return SourceType::Text;
    case memoType: return SourceType::Memo;
    default: return SourceType::Other;
    }
}

// The page walk stays ours: libmdb's own walk trusts the page map and ends the process on a map
// page beyond the end of the file.
void scanRows(const PageFile& file, MdbHandle* mdb, const TableLayout& table, const RowHandler& onRow)
{
    RowDecoder decoder(file, mdb, table);
    QList<SourceValue> values;
    quint32 rowsRead = 0;
    for (const quint32 pageNumber : usedPages(file, table)) {
        for (int row = 0; row < rowCount(decoder.tablePage(pageNumber)); ++row) {
            const std::uint8_t* page = decoder.tablePage(pageNumber);
            const quint16 flags = rowFlags(page, row);
            if (flags & deletedRowFlag)
                continue;
            const RowSpan span = rowSpan(file, page, row);
            if (flags & overflowRowFlag) {
                // The row grew and moved: its place holds a pointer to where it lives now.
                if (span.size() < 4)
                    file.damaged(QStringLiteral("une ligne déplacée de la table [%1] a perdu son "
                                                "adresse").arg(table.name));
                decoder.decodeMoved(le32(page + span.start), values);
            } else {
                decoder.decode(row, span, values);
            }
            onRow(values);
            ++rowsRead;
        }
    }
    // The definition's own count is the one witness of rows lost with a damaged page.
    if (rowsRead != table.declaredRowCount)
        file.damaged(QStringLiteral("la table [%1] annonce %2 lignes mais %3 ont pu être lues")
                         .arg(table.name).arg(table.declaredRowCount).arg(rowsRead));
}

} // namespace p1::jetfile
