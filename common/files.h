#pragma once

#include "common/errors.h"

#include <QHash>
#include <QString>
#include <QStringList>

#include <optional>

namespace p1 {

// A file copy that could not be completed (a read or a write that failed); the message names
// the file and the system's reason.
class FileCopyError : public Error {
public:
    using Error::Error;
};

// The source of a copy cannot be opened: "Impossible d'ouvrir le fichier " + its path.
class FileOpenError : public FileCopyError {
public:
    explicit FileOpenError(const QString& path);
};

// The target of a copy cannot be created: "Impossible de créer le fichier " + its full name.
class FileCreateError : public FileCopyError {
public:
    explicit FileCreateError(const QString& path);
};

// File helpers. Folder texts end with the platform's separator.
QString EnsureTrailingBackslash(const QString& path);
// True when there was no such file, otherwise whether it was deleted; errors are swallowed.
bool DeleteFileIfExists(const QString& path);

bool fileExists(const QString& path);
bool copyFile(const QString& from, const QString& to);
// Copies the content through one buffer of 8192 bytes into a file made for it at the path; the
// copy gets fresh attributes and times. Returns the bytes copied, or nullopt (nothing written)
// when the path is taken: an existing file is never replaced. Throws FileOpenError,
// FileCreateError, or FileCopyError when a read or a write fails (a full disk included): the
// incomplete copy is then removed, so that no truncated file passes for a copy.
std::optional<qint64> copyFileAsNew(const QString& source, const QString& path);
bool makeFolder(const QString& path); // with its missing parents
QString programFolder();              // the folder of the running executable, with separator
QString folderOf(const QString& filePath); // with separator

// A file named by the source database (Windows name: "\" separates folders, letter case does
// not matter) resolved under a folder of this machine; the exact existing path when found,
// else the folder joined with the name's parts as given. Empty for a name that names nothing or
// would leave the folder on Windows: an absolute or network path, a drive or stream (":"), a "."
// or ".." part, or a device (CON, NUL, COM1, LPT1, ..., with or without an extension).
QString resolveWindowsName(const QString& folder, const QString& windowsName);

// resolveWindowsName for many names under one folder whose content does not change meanwhile:
// each folder is listed once, not once per name given in another letter case.
class WindowsNameResolver {
public:
    explicit WindowsNameResolver(QString folder);
    QString resolve(const QString& windowsName);

private:
    QString entryMatching(const QString& folder, const QString& name);

    QString folder_;
    QHash<QString, QHash<QString, QString>> entriesByFoldedName_; // per folder
};

// Writes the lines, each ended by CR LF, in Windows-1252; replaces an existing file.
// Throws Error when the file cannot be written.
void writeWindows1252Lines(const QString& path, const QStringList& lines);

} // namespace p1
