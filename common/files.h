#pragma once

#include "common/errors.h"

#include <QByteArray>
#include <QHash>
#include <QString>
#include <QStringList>

#include <condition_variable>
#include <deque>
#include <mutex>
#include <optional>
#include <thread>

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
// Test only: every copy by copyFileAsNew to a file of that name (in whatever folder) fails, as a
// name already taken or as a copy that cannot complete; an empty name: none fails.
enum class CopyFault { NameTaken, CopyFails };
void failCopiesNamed(const QString& fileName, CopyFault fault = CopyFault::NameTaken);
bool makeFolder(const QString& path); // with its missing parents
// Whether a path names a regular file, through symbolic links, whose real path lies inside the
// real path of the folder: never a folder, a device, a pipe or a link out of the folder. The
// folder's real path is resolved once, when made, and so is each subfolder's, when first met: a
// stage checks tens of thousands of files in them, and only a file that is a link is resolved.
class RegularFilesWithin {
public:
    explicit RegularFilesWithin(const QString& folder);
    bool holds(const QString& path);

private:
    bool linkLeadsToRegularFileInside(const QByteArray& path) const;
    const std::optional<QByteArray>& realFolderOf(const QByteArray& folder);

    std::optional<QByteArray> inside_; // the folder's real path and a separator; none when it has none
    QHash<QByteArray, std::optional<QByteArray>> realFolders_; // by the folder as given
};
// Puts the file, or the folder's entries, on disk. Throws Error when the system cannot.
void syncToDisk(const QString& path);
// Puts on disk everything written to the file system that holds the folder: one call for the
// tens of thousands of files a stage copies. Throws Error when the system cannot.
void syncFileSystemOf(const QString& folder);
QString programFolder();              // the folder of the running executable, with separator
QString folderOf(const QString& filePath); // with separator

// Copies made on a thread of their own, in the order given, while the program goes on: each makes
// its folder (makeFolder) and copies its file as a new one (copyFileAsNew). What became of them
// is known when they are settled; after a copy that could not be made (its path taken, or an
// error), the ones after it are not tried. Files go to the disk at its pace, not the program's.
class FileCopiesAhead {
public:
    FileCopiesAhead() = default;
    ~FileCopiesAhead(); // the copies not yet begun are not made
    FileCopiesAhead(const FileCopiesAhead&) = delete;
    FileCopiesAhead& operator=(const FileCopiesAhead&) = delete;

    // False, with nothing done, when no thread can be started: the caller copies it itself.
    bool add(const QString& source, const QString& folder, const QString& path);

    struct Outcome {
        QStringList made; // the files made, in order
        qint64 bytes = 0; // copied into them
        bool allMade = true;
    };
    // Waits for every copy given since the last settle.
    Outcome settle();

private:
    struct Copy {
        QString source;
        QString folder;
        QString path;
    };
    void work();

    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<Copy> waiting_;
    bool copying_ = false;
    bool stopping_ = false;
    Outcome outcome_;
    std::thread worker_;
};

// A file named by the source database (Windows name: "\" separates folders, letter case does
// not matter) resolved under a folder of this machine; the exact existing path when found,
// else the folder joined with the name's parts as given, without the blanks and dots that end a
// part (Windows ignores them). Empty for a name that names nothing or
// would leave the folder on Windows: an absolute or network path, a drive or stream (":"), a "."
// or ".." part, or a device (CON, NUL, COM1, LPT1, ..., with or without an extension).
QString resolveWindowsName(const QString& folder, const QString& windowsName);

// Whether the folder holds an entry of that name without regard to letter case, as a folder of
// Windows would refuse a second one (false when there is no such folder).
bool folderHoldsName(const QString& folder, const QString& name);

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

} // namespace p1
