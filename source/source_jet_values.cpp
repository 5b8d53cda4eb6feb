#include "source/source_jet_values.h"

#include "common/date_time.h"
#include "common/text_encoding.h"

#include <QUuid>

#include <algorithm>
#include <cmath>
#include <cstring>

namespace p1::jetfile {

namespace {

constexpr int longValueHeaderSize = 12;
constexpr quint32 inlineLongValue = 0x80000000;
constexpr quint32 singleRowLongValue = 0x40000000;
constexpr quint32 longValueLengthMask = 0x3fffffff;
constexpr char longValuePageMarker[] = "LVAL";
// Jet's own range of dates: 1 January 100 to 31 December 9999.
constexpr double firstJetDay = -657434.0;
constexpr double lastJetDay = 2958465.0;

template <typename T> T fromBytes(const std::uint8_t* bytes)
{
    T value;
    std::memcpy(&value, bytes, sizeof value);
    return value;
}

double numericValue(const std::uint8_t* bytes, int scale)
{
    double magnitude = 0;
    for (int word = 0; word < 4; ++word)
        magnitude = magnitude * 4294967296.0 + le32(bytes + 1 + 4 * word);
    const double value = magnitude / std::pow(10.0, scale);
    return bytes[0] & 0x80 ? -value : value;
}

QString hexText(const QByteArray& bytes)
{
    return QString::fromLatin1(bytes.toHex());
}

} // namespace

QString decodeText(const std::uint8_t* bytes, int size)
{
    QString text;
    if (size >= 2 && bytes[0] == 0xff && bytes[1] == 0xfe) {
        text.reserve(size - 2);
        bool oneByte = true;
        for (int at = 2; at < size;) {
            if (bytes[at] == 0) {
                oneByte = !oneByte;
                ++at;
            } else if (oneByte) {
                text.append(QChar(bytes[at++]));
            } else if (at + 1 < size) {
                text.append(QChar(char16_t(le16(bytes + at))));
                at += 2;
            } else {
                break;
            }
        }
        return withLoneSurrogatesReplaced(text);
    }
    text.resize(size / 2);
    QChar* out = text.data();
    for (int i = 0; i < size / 2; ++i)
        out[i] = QChar(char16_t(le16(bytes + 2 * i)));
    return withLoneSurrogatesReplaced(text);
}

static_assert(MDB_PGSIZE == pageSize, "libmdb's page buffer holds one Jet 4 page");

RowDecoder::RowDecoder(const PageFile& file, MdbHandle* mdb, const TableLayout& table)
    : file_(file), mdb_(mdb), table_(table), fields_(table.definition->table->num_cols)
{
    int fixedAreaEnd = 0;
    fixedAreaEnds_.push_back(fixedAreaEnd);
    for (const Column& column : table.columns) {
        if (!column.fixed)
            continue;
        fixedColumnNumbers_.push_back(column.number);
        fixedAreaEnd = std::max(fixedAreaEnd, 2 + column.fixedOffset + column.size);
        fixedAreaEnds_.push_back(fixedAreaEnd);
    }
}

const std::uint8_t* RowDecoder::loadPage(quint32 page)
{
    file_.checkPage(page);
    if (mdb_read_pg(mdb_, page) != pageSize)
        file_.damaged(QStringLiteral("la page %1 ne peut pas être lue").arg(page));
    return mdb_->pg_buf;
}

const std::uint8_t* RowDecoder::tablePage(quint32 pageNumber)
{
    const std::uint8_t* page = loadPage(pageNumber);
    if (page[0] != dataPage || le32(page + 4) != table_.definitionPage)
        file_.damaged(QStringLiteral("la page %1 de la table [%2] n'est pas une page de ses "
                                     "lignes").arg(pageNumber).arg(table_.name));
    return page;
}

void RowDecoder::decodeMoved(quint32 pageRow, QList<SourceValue>& values)
{
    const std::uint8_t* page = loadPage(file_.pointedPage(pageRow));
    const RowSpan span = file_.pointedRow(pageRow, page);
    if (le32(page + 4) != table_.definitionPage)
        file_.damaged(QStringLiteral("une ligne déplacée de la table [%1] pointe hors de "
                                     "la table").arg(table_.name));
    decode(int(pageRow & 0xff), span, values);
}

void RowDecoder::decode(int row, RowSpan span, QList<SourceValue>& values)
{
    int start = 0;
    size_t size = 0;
    if (mdb_find_row(mdb_, row, &start, &size) != 0 || (start & rowOffsetMask) != span.start
        || size != size_t(span.size()))
        file_.damaged(QStringLiteral("la ligne %1 d'une page a des limites impossibles").arg(row));
    const int columnCount = checkRow(span);
    if (mdb_crack_row(table_.definition->table, span.start, size, fields_.data()) != columnCount)
        file_.damaged(QStringLiteral("une ligne de la table [%1] a des valeurs hors de ses "
                                     "limites").arg(table_.name));
    values.resize(table_.columns.size());
    for (int i = 0; i < table_.columns.size(); ++i)
        values[i] = fieldValue(fields_[i], table_.columns[i], span, columnCount);
}

// What libmdb reads blindly: the column count and null mask, the variable offsets (which must
// stay inside the row and never decrease), the counts that tell it which fixed columns the row
// holds, and those columns' bytes. Returns the row's column count.
int RowDecoder::checkRow(RowSpan span) const
{
    const std::uint8_t* row = mdb_->pg_buf + span.start;
    const int size = span.size();
    if (size < 3)
        file_.damaged(QStringLiteral("une ligne de la table [%1] est trop courte").arg(table_.name));
    const int columnCount = le16(row);
    int tail = size - (columnCount + 7) / 8; // bytes before the null mask
    int fixedEnd = tail;
    int variableCount = 0;
    if (table_.hasVariableColumns) {
        tail -= 2;
        if (tail < 2)
            file_.damaged(QStringLiteral("une ligne de la table [%1] est tronquée").arg(table_.name));
        variableCount = le16(row + tail);
        const int tableStart = tail - 2 * (variableCount + 1);
        if (tableStart < 2)
            file_.damaged(QStringLiteral("une ligne de la table [%1] a une table de colonnes "
                                         "variables impossible").arg(table_.name));
        int previous = 2;
        for (int slot = 0; slot <= variableCount; ++slot) {
            const int offset = le16(row + tail - 2 - 2 * slot);
            if (offset < previous || offset > tableStart)
                file_.damaged(QStringLiteral("une ligne de la table [%1] a des positions de "
                                             "colonnes impossibles").arg(table_.name));
            previous = offset;
        }
        fixedEnd = le16(row + tail - 2);
    } else if (tail < 2) {
        file_.damaged(QStringLiteral("une ligne de la table [%1] est tronquée").arg(table_.name));
    }
    // libmdb takes the first (column count - variable count) fixed columns from the fixed area
    // and reports the others NULL: a row whose counts leave out a fixed column it holds would
    // lose that value.
    const auto fixedHeld = std::lower_bound(fixedColumnNumbers_.begin(), fixedColumnNumbers_.end(),
                                            columnCount) - fixedColumnNumbers_.begin();
    if (variableCount > columnCount || fixedHeld > columnCount - variableCount)
        file_.damaged(QStringLiteral("une ligne de la table [%1] a des nombres de colonnes "
                                     "incohérents").arg(table_.name));
    const auto fixedTaken = std::min<qsizetype>(columnCount - variableCount, fixedColumnNumbers_.size());
    if (fixedAreaEnds_[fixedTaken] > fixedEnd)
        file_.damaged(QStringLiteral("une ligne de la table [%1] a une zone de valeurs fixes "
                                     "tronquée").arg(table_.name));
    return columnCount;
}

SourceValue RowDecoder::fieldValue(const MdbField& field, const Column& column, RowSpan span,
                                   int rowColumnCount) const
{
    // A column added after the row was written has no null flag in it: libmdb would take one
    // from the bytes past the row's null mask.
    const bool present = !field.is_null && column.number < rowColumnCount;
    if (column.type == booleanType)
        return present;
    if (!present)
        return {};
    if (field.start < span.start + 2 || field.siz < 0 || field.start + field.siz > span.end)
        file_.damaged(QStringLiteral("une valeur de la colonne [%1] de la table [%2] déborde "
                                     "de sa ligne").arg(column.name, table_.name));
    const std::uint8_t* bytes = mdb_->pg_buf + field.start;
    return column.fixed ? fixedValue(bytes, column) : variableValue(bytes, field.siz, column);
}

SourceValue RowDecoder::fixedValue(const std::uint8_t* bytes, const Column& column) const
{
    switch (column.type) {
    case byteType: return qint64(bytes[0]);
    case integerType: return qint64(fromBytes<qint16>(bytes));
    case longType:
    case complexType: return qint64(fromBytes<qint32>(bytes));
    case moneyType: return double(fromBytes<qint64>(bytes)) / 10000.0;
    case floatType: return double(fromBytes<float>(bytes));
    case doubleType: return fromBytes<double>(bytes);
    case numericType: return numericValue(bytes, column.scale);
    case guidType:
        return QUuid(le32(bytes), le16(bytes + 4), le16(bytes + 6), bytes[8], bytes[9], bytes[10],
                     bytes[11], bytes[12], bytes[13], bytes[14], bytes[15])
            .toString(QUuid::WithBraces)
            .toUpper();
    case dateTimeType: {
        const double days = fromBytes<double>(bytes);
        if (!(days >= firstJetDay && days <= lastJetDay + 1))
            file_.damaged(QStringLiteral("une date de la colonne [%1] de la table [%2] est hors "
                                         "de toute plage possible").arg(column.name, table_.name));
        return fromJetDays(days);
    }
    default:
        return variableValue(bytes, column.size, column);
    }
}

SourceValue RowDecoder::variableValue(const std::uint8_t* bytes, int size, const Column& column) const
{
    switch (column.type) {
    case textType: return decodeText(bytes, size);
    case memoType: {
        const QByteArray text = longValue(bytes, size);
        return decodeText(reinterpret_cast<const std::uint8_t*>(text.constData()), int(text.size()));
    }
    case oleType: return hexText(longValue(bytes, size));
    default: return hexText(QByteArray(reinterpret_cast<const char*>(bytes), size));
    }
}

QByteArray RowDecoder::longValue(const std::uint8_t* field, int size) const
{
    if (size == 0)
        return {};
    if (size < longValueHeaderSize)
        file_.damaged(QStringLiteral("un mémo de la table [%1] a un en-tête tronqué").arg(table_.name));
    const quint32 word = le32(field);
    const quint32 length = word & longValueLengthMask;
    const quint32 pageRow = le32(field + 4);
    if (length > quint64(file_.pageCount()) * pageSize)
        file_.damaged(QStringLiteral("un mémo de la table [%1] annonce une longueur impossible").arg(table_.name));
    if ((word & inlineLongValue) && !(word & singleRowLongValue)) {
        if (length > quint32(size - longValueHeaderSize))
            file_.damaged(QStringLiteral("un mémo de la table [%1] déborde de sa ligne").arg(table_.name));
        return QByteArray(reinterpret_cast<const char*>(field + longValueHeaderSize), length);
    }
    if (word & inlineLongValue)
        file_.damaged(QStringLiteral("un mémo de la table [%1] a un en-tête incohérent").arg(table_.name));
    if (word & singleRowLongValue) {
        const std::span<const std::uint8_t> row = longValueRow(pageRow);
        if (length > row.size())
            file_.damaged(QStringLiteral("un mémo de la table [%1] est plus court que sa longueur "
                                         "annoncée").arg(table_.name));
        return QByteArray(reinterpret_cast<const char*>(row.data()), length);
    }
    return chainedLongValue(pageRow, length);
}

QByteArray RowDecoder::chainedLongValue(quint32 pageRow, quint32 length) const
{
    QByteArray value;
    value.reserve(length);
    while (quint32(value.size()) < length) {
        if (pageRow == 0)
            file_.damaged(QStringLiteral("un mémo de la table [%1] est plus court que sa longueur "
                                         "annoncée").arg(table_.name));
        const std::span<const std::uint8_t> row = longValueRow(pageRow);
        // Every piece carries data, so the walk ends within the announced length.
        if (row.size() <= 4)
            file_.damaged(QStringLiteral("un morceau de mémo de la table [%1] est vide").arg(table_.name));
        pageRow = le32(row.data());
        value.append(reinterpret_cast<const char*>(row.data() + 4), qsizetype(row.size() - 4));
    }
    if (quint32(value.size()) != length)
        file_.damaged(QStringLiteral("un mémo de la table [%1] est plus long que sa longueur "
                                     "annoncée").arg(table_.name));
    return value;
}

// libmdb fetches the piece into its second page buffer once our own reading of the pointer has
// found a sound row on a long-value page; the row it finds must be the one we checked.
std::span<const std::uint8_t> RowDecoder::longValueRow(quint32 pageRow) const
{
    const RowSpan row = file_.readPointedRow(pageRow, longValuePage_);
    if (std::memcmp(longValuePage_.data() + 4, longValuePageMarker, 4) != 0)
        file_.damaged(QStringLiteral("un mémo de la table [%1] désigne une page qui n'est pas une "
                                     "page de mémos").arg(table_.name));
    void* page = nullptr;
    int start = 0;
    size_t size = 0;
    if (mdb_find_pg_row(mdb_, int(pageRow), &page, &start, &size) != 0 || start != row.start
        || size != size_t(row.size()))
        file_.damaged(QStringLiteral("un mémo de la table [%1] ne peut pas être relu").arg(table_.name));
    return {static_cast<const std::uint8_t*>(page) + start, size};
}

} // namespace p1::jetfile
