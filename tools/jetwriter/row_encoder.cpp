#include "tools/jetwriter/row_encoder.h"

#include "common/date_time.h"

#include <QtEndian>

#include <cstring>
#include <limits>
#include <stdexcept>

namespace p1::jet::writing {

namespace {

constexpr int maxColumns = 255;
constexpr int maxTextLength = 255;
// Access stores only memos of up to 1024 characters compressed.
constexpr int maxCompressedMemo = 1024;
constexpr int maxInlineMemoBytes = 256;
constexpr int memoHeaderSize = 12;
constexpr quint32 memoInline = 0x80000000;
constexpr quint32 memoSingleRow = 0x40000000;
constexpr int maxChainedMemoBytes = 0x00ffffff;
constexpr int chainLinkSize = 4;

[[noreturn]] void refuse(const QString& message)
{
    throw std::invalid_argument(message.toStdString());
}

int fixedLength(JetType type)
{
    switch (type) {
    case JetType::Boolean:
        return 0;
    case JetType::Byte:
        return 1;
    case JetType::Integer:
        return 2;
    case JetType::Long:
        return 4;
    case JetType::Double:
    case JetType::DateTime:
        return 8;
    default:
        return -1;
    }
}

QByteArray littleEndian(qint64 value, int size)
{
    QByteArray bytes;
    for (int i = 0; i < size; ++i)
        bytes.append(char((value >> (8 * i)) & 0xff));
    return bytes;
}

QByteArray littleEndian(double value)
{
    quint64 bits = 0;
    std::memcpy(&bits, &value, sizeof bits);
    return littleEndian(qint64(bits), 8);
}

QString describe(const ColumnLayout& column)
{
    return QStringLiteral("colonne [%1]").arg(column.name);
}

qint64 integerIn(const Value& value, const ColumnLayout& column, qint64 low, qint64 high)
{
    const auto* integer = std::get_if<qint64>(&value);
    if (!integer)
        refuse(describe(column) + QStringLiteral(" : entier attendu"));
    if (*integer < low || *integer > high)
        refuse(describe(column) + QStringLiteral(" : %1 hors limites").arg(*integer));
    return *integer;
}

double doubleOf(const Value& value, const ColumnLayout& column)
{
    if (const auto* integer = std::get_if<qint64>(&value))
        return double(*integer);
    if (const auto* real = std::get_if<double>(&value))
        return *real;
    refuse(describe(column) + QStringLiteral(" : nombre attendu"));
}

double jetDaysOf(const Value& value, const ColumnLayout& column)
{
    const auto* dateTime = std::get_if<QDateTime>(&value);
    if (!dateTime || !dateTime->isValid())
        refuse(describe(column) + QStringLiteral(" : date valide attendue"));
    return toJetDays(*dateTime);
}

const QString& textOf(const Value& value, const ColumnLayout& column)
{
    const auto* text = std::get_if<QString>(&value);
    if (!text)
        refuse(describe(column) + QStringLiteral(" : texte attendu"));
    return *text;
}

QByteArray fixedBytes(const Value& value, const ColumnLayout& column)
{
    switch (column.type) {
    case JetType::Byte:
        return littleEndian(integerIn(value, column, 0, 255), 1);
    case JetType::Integer:
        return littleEndian(integerIn(value, column, -32768, 32767), 2);
    case JetType::Long:
        return littleEndian(integerIn(value, column, std::numeric_limits<qint32>::min(),
                                      std::numeric_limits<qint32>::max()),
                            4);
    case JetType::Double:
        return littleEndian(doubleOf(value, column));
    case JetType::DateTime:
        return littleEndian(jetDaysOf(value, column));
    default:
        refuse(describe(column) + QStringLiteral(" : type inattendu"));
    }
}

QByteArray memoHeader(quint32 lengthAndFlags, quint32 pointer)
{
    QByteArray header;
    appendInt32(header, lengthAndFlags);
    appendInt32(header, pointer);
    appendInt32(header, 0);
    return header;
}

// Chunks are stored last first, so that each one already knows where the next one lives.
quint32 storeMemoChain(const QByteArray& data, PageStore& longValues)
{
    constexpr int chunkSize = largestRow - chainLinkSize;
    const int chunkCount = int((data.size() + chunkSize - 1) / chunkSize);
    quint32 next = 0;
    for (int chunk = chunkCount - 1; chunk >= 0; --chunk) {
        QByteArray row;
        appendInt32(row, next);
        row.append(data.mid(qsizetype(chunk) * chunkSize, chunkSize));
        next = longValues.addLongValueRow(row);
    }
    return next;
}

QByteArray memoBytes(const QString& text, const ColumnLayout& column, PageStore& longValues)
{
    const QByteArray data = encodeText(text, text.size() <= maxCompressedMemo);
    const quint32 length = quint32(data.size());
    if (data.size() <= maxInlineMemoBytes)
        return memoHeader(length | memoInline, 0) + data;
    if (data.size() <= largestRow)
        return memoHeader(length | memoSingleRow, longValues.addLongValueRow(data));
    if (data.size() > maxChainedMemoBytes)
        refuse(describe(column) + QStringLiteral(" : mémo trop long"));
    return memoHeader(length, storeMemoChain(data, longValues));
}

QByteArray variableBytes(const Value& value, const ColumnLayout& column, PageStore& longValues)
{
    if (column.type == JetType::Memo)
        return memoBytes(textOf(value, column), column, longValues);
    if (column.type != JetType::Text)
        refuse(describe(column) + QStringLiteral(" : seule la valeur NULL peut y être écrite"));
    const QString& text = textOf(value, column);
    if (text.size() * 2 > column.length)
        refuse(describe(column) + QStringLiteral(" : texte de %1 caractères, plus long que la colonne")
                                      .arg(text.size()));
    return encodeText(text, true);
}

bool isNull(const Value& value)
{
    return std::holds_alternative<std::monostate>(value);
}

bool booleanOf(const Value& value, const ColumnLayout& column)
{
    if (isNull(value))
        return false;
    const auto* flag = std::get_if<bool>(&value);
    if (!flag)
        refuse(describe(column) + QStringLiteral(" : Oui/Non attendu"));
    return *flag;
}

// A run of characters U+0001..U+00FF takes one byte each; a 0x00 byte switches between that
// and UCS-2. A character U+xx00 would read as a switch in UCS-2 mode, so it forbids compression.
bool compressible(const QString& text)
{
    for (QChar ch : text) {
        if (ch.unicode() == 0 || (ch.unicode() > 0xff && (ch.unicode() & 0xff) == 0))
            return false;
    }
    return true;
}

QByteArray compressed(const QString& text)
{
    QByteArray bytes("\xff\xfe", 2);
    bool singleByteMode = true;
    for (QChar ch : text) {
        const bool singleByte = ch.unicode() <= 0xff;
        if (singleByte != singleByteMode) {
            bytes.append('\0');
            singleByteMode = singleByte;
        }
        bytes.append(char(ch.unicode() & 0xff));
        if (!singleByte)
            bytes.append(char(ch.unicode() >> 8));
    }
    return bytes;
}

} // namespace

JetType jetType(ColumnType type)
{
    switch (type) {
    case ColumnType::Boolean:
        return JetType::Boolean;
    case ColumnType::Byte:
        return JetType::Byte;
    case ColumnType::Integer:
        return JetType::Integer;
    case ColumnType::Long:
        return JetType::Long;
    case ColumnType::Double:
        return JetType::Double;
    case ColumnType::DateTime:
        return JetType::DateTime;
    case ColumnType::Text:
        return JetType::Text;
    case ColumnType::Memo:
        return JetType::Memo;
    }
    throw std::invalid_argument("type de colonne inconnu");
}

QByteArray encodeText(const QString& text, bool mayCompress)
{
    QByteArray ucs2(text.size() * 2, '\0');
    for (qsizetype i = 0; i < text.size(); ++i) {
        ucs2[2 * i] = char(text[i].unicode() & 0xff);
        ucs2[2 * i + 1] = char(text[i].unicode() >> 8);
    }
    // Uncompressed text must not begin with the bytes that mark compressed text.
    if (text.startsWith(QChar(0xfeff))) {
        if (!compressible(text))
            refuse(QStringLiteral("texte commençant par U+FEFF et non compressible"));
        return compressed(text);
    }
    if (!mayCompress || !compressible(text))
        return ucs2;
    QByteArray small = compressed(text);
    return small.size() < ucs2.size() ? small : ucs2;
}

void TableLayout::add(const QString& name, JetType type, int textLength)
{
    if (name.trimmed().isEmpty())
        refuse(QStringLiteral("nom de colonne vide"));
    for (const ColumnLayout& existing : columns_) {
        if (existing.name.compare(name, Qt::CaseInsensitive) == 0)
            refuse(QStringLiteral("colonne [%1] déclarée deux fois").arg(name));
    }
    if (columns_.size() >= maxColumns)
        refuse(QStringLiteral("plus de %1 colonnes").arg(maxColumns));
    ColumnLayout column{name, type, int(columns_.size())};
    const int length = fixedLength(type);
    column.fixed = length >= 0;
    if (column.fixed) {
        column.length = length;
        column.fixedOffset = fixedSize_;
        fixedSize_ += length;
    } else {
        if (type == JetType::Text && (textLength < 1 || textLength > maxTextLength))
            refuse(QStringLiteral("colonne [%1] : longueur de texte %2 hors de 1..255").arg(name).arg(textLength));
        column.length = type == JetType::Text ? 2 * textLength : 0;
        column.varIndex = varCount_++;
    }
    columns_.append(column);
}

QByteArray TableLayout::encodeRow(const QList<Value>& values, PageStore& longValues) const
{
    if (values.size() != columns_.size())
        refuse(QStringLiteral("%1 valeurs pour %2 colonnes").arg(values.size()).arg(columns_.size()));
    const int fixedStart = 2;
    QByteArray row;
    appendInt16(row, int(columns_.size()));
    row.append(fixedSize_, '\0');
    QByteArray nullMask((columns_.size() + 7) / 8, '\0');
    QList<int> varOffsets;
    for (qsizetype i = 0; i < columns_.size(); ++i) {
        const ColumnLayout& column = columns_[i];
        const Value& value = values[i];
        bool present = !isNull(value);
        if (column.type == JetType::Boolean) {
            present = booleanOf(value, column);
        } else if (column.fixed) {
            if (present)
                row.replace(fixedStart + column.fixedOffset, column.length, fixedBytes(value, column));
        } else {
            varOffsets.append(int(row.size()));
            if (present)
                row.append(variableBytes(value, column, longValues));
        }
        if (present)
            nullMask[column.number / 8] = char(nullMask[column.number / 8] | (1 << (column.number % 8)));
    }
    if (varCount_ > 0) {
        appendInt16(row, int(row.size()));
        for (qsizetype k = varOffsets.size() - 1; k >= 0; --k)
            appendInt16(row, varOffsets[k]);
        appendInt16(row, varCount_);
    }
    row.append(nullMask);
    if (row.size() > largestRow)
        refuse(QStringLiteral("ligne de %1 octets, plus longue qu'une page").arg(row.size()));
    return row;
}

double toJetDays(const QDateTime& dateTime)
{
    constexpr double millisecondsPerDay = 86'400'000;
    const qint64 dayNumber = zeroDay().date().daysTo(dateTime.date());
    const double fraction = dateTime.time().msecsSinceStartOfDay() / millisecondsPerDay;
    return dayNumber >= 0 ? dayNumber + fraction : dayNumber - fraction;
}

} // namespace p1::jet::writing
