#pragma once

#include <QString>

namespace p1 {

// Fixed mapping of the source civility code to the target's title code
// (1 -> 1, 2 -> 0, 3 -> 2, 4 -> 0, anything else -> 2).
int MapCivilityToTitle(qint64 code);

// The digits of a phone number grouped by two, the blanks standing at output positions
// 3, 6, 9 and 12 only; other characters are dropped. Empty when the trimmed text is empty.
QString FormatPhoneNumber(const QString& text);

// The digits of a social-insurance number, one blank after the 13th; other characters dropped.
QString FormatInsuranceNumber(const QString& text);

// The text without its leading and trailing characters of code 32 or less, as the source
// product trims (QString::trimmed would also take non-breaking blanks, and keep control codes).
QString trimmedText(const QString& text);
bool isBlank(const QString& text);

} // namespace p1
