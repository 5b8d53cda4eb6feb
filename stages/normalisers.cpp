#include "stages/normalisers.h"

namespace p1 {

namespace {

bool isDigit(QChar character)
{
    return character >= u'0' && character <= u'9';
}

bool isTrimmedAway(QChar character)
{
    return character.unicode() <= 32;
}

} // namespace

int MapCivilityToTitle(qint64 code)
{
    switch (code) {
    case 1: return 1;
    case 2: return 0;
    case 4: return 0;
    default: return 2;
    }
}

QString FormatPhoneNumber(const QString& text)
{
    if (isBlank(text))
        return {};
    QString output;
    for (QChar character : text) {
        // The grouping counts output characters, so separators typed in the source never shift it.
        const qsizetype length = output.size();
        if (length == 2 || length == 5 || length == 8 || length == 11)
            output += u' ';
        if (isDigit(character))
            output += character;
    }
    return output;
}

QString FormatInsuranceNumber(const QString& text)
{
    QString output;
    for (QChar character : text) {
        if (!isDigit(character))
            continue;
        if (output.size() == 13)
            output += u' ';
        output += character;
    }
    return output;
}

QString trimmedText(const QString& text)
{
    qsizetype first = 0;
    qsizetype end = text.size();
    while (first < end && isTrimmedAway(text[first]))
        ++first;
    while (end > first && isTrimmedAway(text[end - 1]))
        --end;
    return text.mid(first, end - first);
}

bool isBlank(const QString& text)
{
    return trimmedText(text).isEmpty();
}

} // namespace p1
