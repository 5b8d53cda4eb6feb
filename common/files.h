#pragma once

#include <QString>
#include <QStringList>

namespace p1 {

// File helpers. Folder texts end with the platform's separator.
QString EnsureTrailingBackslash(const QString& path);
// True when there was no such file, otherwise whether it was deleted; errors are swallowed.
bool DeleteFileIfExists(const QString& path);

bool fileExists(const QString& path);
// Renames without replacing an existing file; false when it could not.
bool renameFile(const QString& from, const QString& to);
bool copyFile(const QString& from, const QString& to);
bool makeFolder(const QString& path); // with its missing parents
QString programFolder();              // the folder of the running executable, with separator
QString folderOf(const QString& filePath); // with separator

// A file named by the source database (Windows name: "\" separates folders, letter case does
// not matter) resolved under a folder of this machine; the exact existing path when found,
// else the folder joined with the name's parts as given. Empty for a name that would leave the
// folder (".", "..", a drive) or names nothing.
QString resolveWindowsName(const QString& folder, const QString& windowsName);

// Writes the lines, each ended by CR LF, in Windows-1252; replaces an existing file.
// Throws Error when the file cannot be written.
void writeWindows1252Lines(const QString& path, const QStringList& lines);

} // namespace p1
