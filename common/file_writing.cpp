#include "common/file_writing.h"

#include "common/files.h"
#include "common/text_encoding.h"

#include <QFile>
#include <QRandomGenerator>

#include <fcntl.h>
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
        const char* next = bytes.constData();
        qint64 left = bytes.size();
        while (left > 0) {
            const ssize_t written = ::write(fd, next, size_t(left));
            if (written < 0 && errno == EINTR)
                continue;
            if (written <= 0)
                throw FileWriteError(path_, systemReason(written < 0 ? errno : 0));
            next += written;
            left -= written;
        }
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

} // namespace

void writeWholeFile(const QString& path, const QByteArray& bytes)
{
    PendingFile(path, bytes).replace(path);
    syncFolder(folderOf(path));
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

} // namespace p1
