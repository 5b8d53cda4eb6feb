#include "common/log_journal.h"

#include "common/file_writing.h"
#include "common/files.h"

#include <QDir>
#include <QFile>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>

namespace p1 {

const QString journalExtension = QStringLiteral(".log.en-cours");

namespace {

QByteArray encoded(const QString& path)
{
    return QFile::encodeName(path);
}

} // namespace

LogJournal::LogJournal(const QString& folder, const QString& stem)
{
    for (int number = 1; number < 1000; ++number) {
        const QString path = folder + (number == 1 ? stem : QStringLiteral("%1 (%2)").arg(stem).arg(number))
                             + journalExtension;
        const int fd = ::open(encoded(path).constData(), O_WRONLY | O_CREAT | O_EXCL | O_APPEND | O_CLOEXEC, 0666);
        if (fd < 0) {
            if (errno == EEXIST)
                continue;
            return;
        }
        fd_ = fd;
        path_ = path;
        break;
    }
    if (fd_ < 0)
        return;
    // Held until the file is closed, or the process ends however it ends.
    if (::flock(fd_, LOCK_EX | LOCK_NB) != 0) {
        giveUp();
        return;
    }
    // The name itself must outlive a power cut.
    try {
        syncToDisk(folder);
    } catch (const std::exception&) {
        giveUp();
    }
}

LogJournal::~LogJournal()
{
    if (fd_ >= 0)
        ::close(fd_);
}

void LogJournal::keep(const QStringList& lines)
{
    if (fd_ < 0 || lines.size() <= linesKept_)
        return;
    if (!writeEveryByte(fd_, windows1252Lines(lines.mid(linesKept_))) || ::fsync(fd_) != 0) {
        giveUp();
        return;
    }
    linesKept_ = lines.size();
}

void LogJournal::remove()
{
    giveUp();
}

void LogJournal::giveUp()
{
    if (fd_ < 0)
        return;
    ::unlink(encoded(path_).constData());
    ::close(fd_);
    fd_ = -1;
    try {
        syncToDisk(folderOf(path_));
    } catch (const std::exception&) {
    }
}

QStringList journalsLeftIn(const QString& folder)
{
    QStringList left;
    const QStringList names =
        QDir(folder).entryList({QStringLiteral("P1Import - *") + journalExtension}, QDir::Files, QDir::Name);
    for (const QString& name : names) {
        const QString path = folder + name;
        const int fd = ::open(encoded(path).constData(), O_RDONLY | O_CLOEXEC);
        if (fd < 0)
            continue;
        // A running program holds the lock of its journal; the lock of a program that ended, in
        // whatever way, went with it.
        if (::flock(fd, LOCK_SH | LOCK_NB) == 0)
            left.append(path);
        ::close(fd);
    }
    return left;
}

} // namespace p1
