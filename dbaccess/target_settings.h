#pragma once

#include "common/operator_ui.h"
#include "targetdb/target_sql.h"

#include <QString>

namespace p1 {

// Section [DBKERNEL] of the target's Kelvanor.ver.
struct TargetConnectionSettings {
    QString DatabaseName;
    QString ServerName;
    QString UserName = QStringLiteral("sa");
    QString SAPW; // scrambled server password

    // A missing file, section or key gives the defaults.
    static TargetConnectionSettings read(const QString& settingsFile);
};

// What keeps the settings file from designating a target (the file, its section, DatabaseName or
// ServerName missing or empty), named for the operator; empty when nothing does.
QString targetSettingsProblem(const QString& settingsFile);

// "_" for a stored text of odd length or with a character outside "0".."F"; otherwise one
// character per pair of stored characters, unscrambled with the server password key.
QString UnscrambleServerPassword(const QString& stored);
// The stored form of a password the target's tools can read back: each character in Windows-1252,
// scrambled with the same key, as two upper-case hexadecimal digits. The caller makes sure that
// every character has a place in that set.
QString ScrambleServerPassword(const QString& password);
// Hexadecimal value of the text; characters that are no hexadecimal digit count as 0.
qint64 ParseHex(const QString& text);

QString targetConnectionString(const TargetConnectionSettings& settings, const QString& password);

// Stale lock files of the desktop database engine next to the program (and at the drive root on
// Windows); a file that cannot be deleted is left alone.
void deleteLockFiles();

// Builds and opens the target connection from the Kelvanor.ver of the target base folder; true
// when it is open afterwards. A refused connection has shown its error dialog.
bool openTargetConnection(TargetConnection& connection, OperatorUi& ui, const QString& targetFolder);

} // namespace p1
