#include "platform/source_jet_values.h"

#include "platform/date_time.h"

#include <QUuid>

#include <cmath>
#include <cstring>

namespace p1::jet {

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
        return text;
    }
    text.resize(size / 2);
    QChar* out = text.data();
    for (int i = 0; i < size / 2; ++i)
        out[i] = QChar(char16_t(le16(bytes + 2 * i)));
    return text;
}

struct RowDecoder::Cursor {
    const std::uint8_t* row = nullptr; // the row's first byte
    int columnCount = 0;
    const std::uint8_t* nullMask = nullptr;
    int variableCount = 0;
    const std::uint8_t* variableTable = nullptr; // offset of slot k at variableTable - 2 * k
    int fixedEnd = 0;

    bool present(int number) const
    {
        return number < columnCount && (nullMask[number / 8] >> (number % 8) & 1);
    }
    int variableOffset(int slot) const { return le16(variableTable - 2 * slot); }
};

RowDecoder::RowDecoder(const PageFile& file, const TableLayout& table)
    : file_(file), table_(table)
{
}

void RowDecoder::decode(const Page& page, RowSpan span, QList<SourceValue>& values)
{
    Cursor cursor;
    cursor.row = page.data() + span.start;
    const int size = span.size();
    if (size < 3)
        file_.damaged(QStringLiteral("une ligne de la table [%1] est trop courte").arg(table_.name));
    cursor.columnCount = le16(cursor.row);
    const int maskSize = (cursor.columnCount + 7) / 8;
    int tail = size - maskSize; // bytes before the null mask
    cursor.nullMask = cursor.row + tail;
    cursor.fixedEnd = tail;
    if (table_.hasVariableColumns) {
        tail -= 2;
        if (tail < 2)
            file_.damaged(QStringLiteral("une ligne de la table [%1] est tronquée").arg(table_.name));
        cursor.variableCount = le16(cursor.row + tail);
        const int tableStart = tail - 2 * (cursor.variableCount + 1);
        if (tableStart < 2)
            file_.damaged(QStringLiteral("une ligne de la table [%1] a une table de colonnes "
                                         "variables impossible").arg(table_.name));
        cursor.variableTable = cursor.row + tail - 2;
        int previous = 2;
        for (int slot = 0; slot <= cursor.variableCount; ++slot) {
            const int offset = cursor.variableOffset(slot);
            if (offset < previous || offset > tableStart)
                file_.damaged(QStringLiteral("une ligne de la table [%1] a des positions de "
                                             "colonnes impossibles").arg(table_.name));
            previous = offset;
        }
        cursor.fixedEnd = cursor.variableOffset(0);
    } else if (tail < 2) {
        file_.damaged(QStringLiteral("une ligne de la table [%1] est tronquée").arg(table_.name));
    }
    values.resize(table_.columns.size());
    for (int i = 0; i < table_.columns.size(); ++i)
        values[i] = columnValue(cursor, table_.columns[i]);
}

SourceValue RowDecoder::columnValue(const Cursor& row, const Column& column) const
{
    const bool present = row.present(column.number);
    if (column.type == booleanType)
        return present;
    if (!present)
        return {};
    if (column.fixed) {
        const int start = 2 + column.fixedOffset;
        if (start + column.size > row.fixedEnd)
            file_.damaged(QStringLiteral("une valeur de la colonne [%1] de la table [%2] déborde "
                                         "de sa ligne").arg(column.name, table_.name));
        return fixedValue(row.row + start, column);
    }
    if (column.varIndex >= row.variableCount)
        return {};
    const int start = row.variableOffset(column.varIndex);
    const int end = row.variableOffset(column.varIndex + 1);
    return variableValue(row.row + start, end - start, column);
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
        const RowSpan row = longValueRow(pageRow);
        if (length > quint32(row.size()))
            file_.damaged(QStringLiteral("un mémo de la table [%1] est plus court que sa longueur "
                                         "annoncée").arg(table_.name));
        return QByteArray(reinterpret_cast<const char*>(longValuePage_.data() + row.start), length);
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
        const RowSpan row = longValueRow(pageRow);
        // Every piece carries data, so the walk ends within the announced length.
        if (row.size() <= 4)
            file_.damaged(QStringLiteral("un morceau de mémo de la table [%1] est vide").arg(table_.name));
        const std::uint8_t* bytes = longValuePage_.data() + row.start;
        pageRow = le32(bytes);
        value.append(reinterpret_cast<const char*>(bytes + 4), row.size() - 4);
    }
    if (quint32(value.size()) != length)
        file_.damaged(QStringLiteral("un mémo de la table [%1] est plus long que sa longueur "
                                     "annoncée").arg(table_.name));
    return value;
}

RowSpan RowDecoder::longValueRow(quint32 pageRow) const
{
    const RowSpan row = file_.readPointedRow(pageRow, longValuePage_);
    if (std::memcmp(longValuePage_.data() + 4, longValuePageMarker, 4) != 0)
        file_.damaged(QStringLiteral("un mémo de la table [%1] désigne une page qui n'est pas une "
                                     "page de mémos").arg(table_.name));
    return row;
}

} // namespace p1::jet
