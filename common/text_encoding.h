#pragma once

#include <QByteArray>
#include <QString>

namespace p1 {

// Windows-1252, the single-byte character set of a French Windows system. Characters it cannot
// hold become "?".
QByteArray toWindows1252(const QString& text);
QString fromWindows1252(const QByteArray& bytes);

// Settings files written on Windows are in the machine's single-byte set; files edited here may
// be UTF-8. Valid UTF-8 is read as such, anything else as Windows-1252.
QString decodeSettingsText(const QByteArray& bytes);

// At most the given number of UTF-16 units of the text, without the first half of a pair that
// would be cut: a column sized in units must not receive half a character.
QString leftWholeCharacters(const QString& text, qsizetype units);

// A surrogate without its partner cannot be stored in a UTF-8 or UTF-16 column, and converters
// pair it with whatever unit follows: it becomes U+FFFD and the next unit stays itself.
QString withLoneSurrogatesReplaced(const QString& text);

} // namespace p1
