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

} // namespace p1
