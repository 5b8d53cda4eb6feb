#include "common/file_writing.h"

#include "common/files.h"
#include "common/text_encoding.h"

#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>

#include <algorithm>
#include <memory>
#include <vector>

#include <fcntl.h>
#include <stdio.h>
#include <unistd.h>

#include <cerrno>

namespace p1 {

FileWriteError::FileWriteError(const QString& path, QString reason)
    : Error(QStringLiteral("Impossible d'écrire le fichier %1 : %2").arg(path, reason)), reason_(std::move(reason))
{
}

namespace {

// A short write sets no error of its own: the file system took part of the bytes.
QString systemReason(int error)
{
    return error == 0 ? QStringLiteral("écriture incomplète") : qt_error_string(error);
}

QByteArray encoded(const QString& path)
{
    return QFile::encodeName(path);
}

// A file written under a name of its own in the folder of the path it is meant for, and removed
// unless it was given that path. Its content is on the disk before it can be given any path, so
// that a crash never leaves a part of it under the final name.
class PendingFile {
public:
    PendingFile(const QString& path, const QByteArray& bytes) : path_(path)
    {
        const int fd = createTemporary(folderOf(path));
        try {
            writeAll(fd, bytes);
            if (::fsync(fd) != 0)
                throw FileWriteError(path_, systemReason(errno));
        } catch (...) {
            ::close(fd);
            ::unlink(temporary_.constData());
            throw;
        }
        if (::close(fd) != 0) {
            const int error = errno;
            ::unlink(temporary_.constData());
            throw FileWriteError(path_, systemReason(error));
        }
    }
    ~PendingFile()
    {
        if (!given_)
            ::unlink(temporary_.constData());
    }
    PendingFile(const PendingFile&) = delete;
    PendingFile& operator=(const PendingFile&) = delete;

    void replace(const QString& path)
    {
        if (::rename(temporary_.constData(), encoded(path).constData()) != 0)
            throw FileWriteError(path, systemReason(errno));
        given_ = true;
    }

    // False, with nothing changed, when the path is taken.
    bool takeFree(const QString& path)
    {
        const QByteArray target = encoded(path);
        int result = ::renameat2(AT_FDCWD, temporary_.constData(), AT_FDCWD, target.constData(), RENAME_NOREPLACE);
        // A file system that cannot rename without replacing can still link a name only when it is free.
        if (result != 0 && (errno == EINVAL || errno == ENOSYS)) {
            result = ::link(temporary_.constData(), target.constData());
            if (result == 0)
                ::unlink(temporary_.constData());
        }
        if (result == 0) {
            given_ = true;
            return true;
        }
        if (errno == EEXIST)
            return false;
        throw FileWriteError(path, systemReason(errno));
    }

    // Takes back a path it was given, to be given another one.
    void giveBack(const QString& path)
    {
        if (::rename(encoded(path).constData(), temporary_.constData()) == 0)
            given_ = false;
    }

private:
    int createTemporary(const QString& folder)
    {
        for (int attempt = 0;; ++attempt) {
            temporary_ = encoded(folder + QStringLiteral(".p1import-%1-%2.tmp")
                                              .arg(::getpid())
                                              .arg(QRandomGenerator::global()->generate64(), 0, 16));
            const int fd = ::open(temporary_.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
            if (fd >= 0)
                return fd;
            if (errno != EEXIST || attempt == 100)
                throw FileWriteError(path_, systemReason(errno));
        }
    }

    void writeAll(int fd, const QByteArray& bytes)
    {
        if (!writeEveryByte(fd, bytes))
            throw FileWriteError(path_, systemReason(errno));
    }

    QString path_;
    QByteArray temporary_;
    bool given_ = false;
};

// A name given is kept by the folder's entry on the disk, not only by the file's content.
void syncFolder(const QString& folder)
{
    const int fd = ::open(encoded(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return;
    ::fsync(fd);
    ::close(fd);
}

bool anyTaken(const QStringList& paths)
{
    return std::any_of(paths.begin(), paths.end(), [](const QString& path) { return QFileInfo::exists(path); });
}

// All the paths, or none of them when one is taken meanwhile.
bool takeAllFree(std::vector<std::unique_ptr<PendingFile>>& pending, const QStringList& paths)
{
    if (anyTaken(paths))
        return false;
    for (std::size_t given = 0; given < pending.size(); ++given) {
        if (pending[given]->takeFree(paths[qsizetype(given)]))
            continue;
        while (given-- > 0)
            pending[given]->giveBack(paths[qsizetype(given)]);
        return false;
    }
    return true;
}

} // namespace

void writeWholeFile(const QString& path, const QByteArray& bytes)
{
    PendingFile(path, bytes).replace(path);
    syncFolder(folderOf(path));
}

QString writeNewFilesUnderOneName(const QString& folder, const QString& stem, const QList<FileToWrite>& files)
{
    std::vector<std::unique_ptr<PendingFile>> pending;
    for (const FileToWrite& file : files)
        pending.push_back(std::make_unique<PendingFile>(folder + stem + file.extension, file.bytes));
    for (int number = 1;; ++number) {
        const QString numbered = number == 1 ? stem : QStringLiteral("%1 (%2)").arg(stem).arg(number);
        QStringList paths;
        for (const FileToWrite& file : files)
            paths.append(folder + numbered + file.extension);
        if (takeAllFree(pending, paths)) {
            syncFolder(folder);
            return numbered;
        }
    }
}

QByteArray windows1252Lines(const QStringList& lines)
{
    QByteArray content;
    for (const QString& line : lines)
        content += toWindows1252(line) + "\r\n";
    return content;
}

void writeWindows1252Lines(const QString& path, const QStringList& lines)
{
    writeWholeFile(path, windows1252Lines(lines));
}

// A write that stores nothing and names no error leaves errno at 0: the reason then says so.
bool writeEveryByte(int fd, const QByteArray& bytes)
{
    const char* next = bytes.constData();
    qint64 left = bytes.size();
    while (left > 0) {
        const ssize_t written = ::write(fd, next, size_t(left));
        if (written < 0 && errno == EINTR)
            continue;
        if (written == 0)
            errno = 0;
        if (written <= 0)
            return false;
        next += written;
        left -= written;
    }
    return true;
}

} // namespace p1
