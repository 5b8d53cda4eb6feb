#include "common/text_encoding.h"

#include <QStringDecoder>

#include <array>

namespace p1 {

namespace {

// Code points of the bytes 0x80 to 0x9F; 0 where Windows-1252 leaves the byte undefined.
constexpr std::array<char16_t, 32> highControlRange = {
    0x20AC, 0, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0, 0x017D, 0,
    0, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0, 0x017E, 0x0178,
};

char encodeOne(char16_t unit)
{
    if (unit < 0x80 || (unit >= 0xA0 && unit <= 0xFF))
        return static_cast<char>(unit);
    for (std::size_t i = 0; i < highControlRange.size(); ++i) {
        if (highControlRange[i] == unit && unit != 0)
            return static_cast<char>(0x80 + i);
    }
    return '?';
}

} // namespace

QByteArray toWindows1252(const QString& text)
{
    QByteArray bytes;
    bytes.reserve(text.size());
    for (QChar c : text)
        bytes.append(encodeOne(c.unicode()));
    return bytes;
}

QString fromWindows1252(const QByteArray& bytes)
{
    QString text;
    text.reserve(bytes.size());
    for (char byte : bytes) {
        const auto value = static_cast<unsigned char>(byte);
        const bool highControl = value >= 0x80 && value < 0xA0;
        const char16_t unit = highControl ? highControlRange[value - 0x80] : value;
        text.append(unit == 0 ? QChar(value) : QChar(unit));
    }
    return text;
}

QString decodeSettingsText(const QByteArray& bytes)
{
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = utf8.decode(bytes);
    if (!utf8.hasError())
        return text.startsWith(QChar(0xFEFF)) ? text.mid(1) : text;
    return fromWindows1252(bytes);
}

QString leftWholeCharacters(const QString& text, qsizetype units)
{
    if (text.size() <= units)
        return text;
    const bool cutsAPair = units > 0 && text.at(units - 1).isHighSurrogate() && text.at(units).isLowSurrogate();
    return text.left(cutsAPair ? units - 1 : units);
}

QString withLoneSurrogatesReplaced(const QString& text)
{
    QString repaired = text;
    for (qsizetype at = 0; at < repaired.size(); ++at) {
        const QChar unit = repaired.at(at);
        if (unit.isHighSurrogate() && at + 1 < repaired.size() && repaired.at(at + 1).isLowSurrogate())
            ++at;
        else if (unit.isSurrogate())
            repaired[at] = QChar::ReplacementCharacter;
    }
    return repaired;
}

} // namespace p1
