#include "common/files.h"

#include "common/errors.h"

#include <QCoreApplication>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

#include <algorithm>
#include <array>
#include <system_error>
#include <utility>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>

#include <cerrno>

namespace p1 {

FileOpenError::FileOpenError(const QString& path)
    : FileCopyError(QStringLiteral("Impossible d'ouvrir le fichier %1").arg(path))
{
}

FileCreateError::FileCreateError(const QString& path)
    : FileCopyError(QStringLiteral("Impossible de créer le fichier %1").arg(path))
{
}

QString EnsureTrailingBackslash(const QString& path)
{
    return path.endsWith('/') ? path : path + '/';
}

bool DeleteFileIfExists(const QString& path)
{
    if (!QFileInfo::exists(path))
        return true;
    return QFile::remove(path);
}

bool fileExists(const QString& path)
{
    const QFileInfo info(path);
    return info.exists() && !info.isDir();
}

bool copyFile(const QString& from, const QString& to)
{
    return QFile::copy(from, to);
}

namespace {

constexpr qint64 copyBufferSize = 8192;

// A file descriptor closed when it goes out of scope, unless closed before.
class Descriptor {
public:
    explicit Descriptor(int fd) : fd_(fd) {}
    ~Descriptor()
    {
        if (fd_ >= 0)
            ::close(fd_);
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;

    int get() const { return fd_; }
    bool close() { return fd_ < 0 || ::close(std::exchange(fd_, -1)) == 0; }

private:
    int fd_;
};

FileCopyError readError(const QString& path, int error)
{
    return FileCopyError(QStringLiteral("Impossible de lire le fichier %1 : %2").arg(path, qt_error_string(error)));
}

// A short write sets no error of its own: the file system took part of the bytes.
FileCopyError writeError(const QString& path, int error)
{
    const QString reason = error == 0 ? QStringLiteral("écriture incomplète") : qt_error_string(error);
    return FileCopyError(QStringLiteral("Impossible d'écrire le fichier %1 : %2").arg(path, reason));
}

qint64 readSome(int fd, char* into, qint64 size)
{
    qint64 bytesRead = 0;
    do
        bytesRead = ::read(fd, into, size_t(size));
    while (bytesRead < 0 && errno == EINTR);
    return bytesRead;
}

// Every byte read must be written: a short write (full disk, quota) is an error, as is a
// failing close, where a network file system may first report it. Straight system calls: a
// practice's letters are tens of thousands of small files.
qint64 copyContent(const QString& source, int input, const QString& path, Descriptor& output)
{
    std::array<char, copyBufferSize> buffer;
    qint64 copied = 0;
    for (;;) {
        const qint64 bytesRead = readSome(input, buffer.data(), copyBufferSize);
        if (bytesRead < 0)
            throw readError(source, errno);
        if (bytesRead == 0)
            break;
        const qint64 written = ::write(output.get(), buffer.data(), size_t(bytesRead));
        if (written != bytesRead)
            throw writeError(path, written < 0 ? errno : 0);
        copied += bytesRead;
    }
    if (!output.close())
        throw writeError(path, errno);
    return copied;
}

} // namespace

namespace {

std::mutex copyFaultMutex;
QString faultedCopyName;
CopyFault faultedCopyKind = CopyFault::NameTaken;

// The fault a test set for the copy to that path, if any.
std::optional<CopyFault> copyFaultFor(const QString& path)
{
    const std::lock_guard lock(copyFaultMutex);
    if (faultedCopyName.isEmpty() || QFileInfo(path).fileName() != faultedCopyName)
        return std::nullopt;
    return faultedCopyKind;
}

} // namespace

void failCopiesNamed(const QString& fileName, CopyFault fault)
{
    const std::lock_guard lock(copyFaultMutex);
    faultedCopyName = fileName;
    faultedCopyKind = fault;
}

std::optional<qint64> copyFileAsNew(const QString& source, const QString& path)
{
    if (const std::optional<CopyFault> fault = copyFaultFor(path)) {
        if (*fault == CopyFault::NameTaken)
            return std::nullopt;
        throw FileCopyError(QStringLiteral("Copie impossible (panne simulée) : %1").arg(path));
    }
    // A taken path is told before anything is read: the source is not even opened then.
    Descriptor output(::open(QFile::encodeName(path).constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666));
    if (output.get() < 0) {
        if (errno == EEXIST)
            return std::nullopt;
        throw FileCreateError(path);
    }
    try {
        // Not blocking on a pipe or a device put in the source's place: only a regular file is read.
        const Descriptor input(::open(QFile::encodeName(source).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
        struct stat status {};
        if (input.get() < 0 || ::fstat(input.get(), &status) != 0 || !S_ISREG(status.st_mode))
            throw FileOpenError(source);
        return copyContent(source, input.get(), path, output);
    } catch (const FileCopyError&) {
        output.close();
        QFile::remove(path);
        throw;
    }
}

bool makeFolder(const QString& path)
{
    return QDir().mkpath(path);
}

namespace {

std::optional<QByteArray> realPath(const QString& path)
{
    char resolved[PATH_MAX];
    if (::realpath(QFile::encodeName(path).constData(), resolved) == nullptr)
        return std::nullopt;
    return QByteArray(resolved);
}

Error syncError(const QString& path, int error)
{
    return Error(QStringLiteral("Le contenu de %1 n'a pas pu être écrit sur le disque : %2")
                     .arg(QDir::toNativeSeparators(path), qt_error_string(error)));
}

} // namespace

RegularFilesWithin::RegularFilesWithin(const QString& folder) : inside_(realPath(folder))
{
    if (inside_ && !inside_->endsWith('/'))
        inside_->append('/');
}

bool RegularFilesWithin::holds(const QString& path)
{
    if (!inside_)
        return false;
    const QByteArray file = QFile::encodeName(path);
    struct stat status {};
    if (::lstat(file.constData(), &status) != 0)
        return false;
    if (S_ISLNK(status.st_mode))
        return linkLeadsToRegularFileInside(file);
    const qsizetype separator = file.lastIndexOf('/');
    if (!S_ISREG(status.st_mode) || separator < 0)
        return false;
    // Not a link itself: the file's real path is its folder's, joined with its name.
    const std::optional<QByteArray>& realFolder = realFolderOf(file.left(separator + 1));
    return realFolder && (*realFolder + '/').startsWith(*inside_);
}

bool RegularFilesWithin::linkLeadsToRegularFileInside(const QByteArray& path) const
{
    const std::optional<QByteArray> realFile = realPath(QFile::decodeName(path));
    struct stat status {};
    return realFile && realFile->startsWith(*inside_) && ::stat(realFile->constData(), &status) == 0
           && S_ISREG(status.st_mode);
}

const std::optional<QByteArray>& RegularFilesWithin::realFolderOf(const QByteArray& folder)
{
    auto found = realFolders_.constFind(folder);
    if (found == realFolders_.cend())
        found = realFolders_.insert(folder, realPath(QFile::decodeName(folder)));
    return *found;
}

void syncToDisk(const QString& path)
{
    const Descriptor descriptor(::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC));
    if (descriptor.get() < 0 || ::fsync(descriptor.get()) != 0)
        throw syncError(path, errno);
}

void syncFileSystemOf(const QString& folder)
{
    const Descriptor descriptor(::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (descriptor.get() < 0 || ::syncfs(descriptor.get()) != 0)
        throw syncError(folder, errno);
}

FileCopiesAhead::~FileCopiesAhead()
{
    if (!worker_.joinable())
        return;
    {
        const std::lock_guard lock(mutex_);
        waiting_.clear();
        stopping_ = true;
    }
    changed_.notify_all();
    worker_.join();
}

bool FileCopiesAhead::add(const QString& source, const QString& folder, const QString& path)
{
    if (!worker_.joinable()) {
        try {
            worker_ = std::thread(&FileCopiesAhead::work, this);
        } catch (const std::system_error&) {
            return false;
        }
    }
    {
        const std::lock_guard lock(mutex_);
        waiting_.push_back({source, folder, path});
    }
    changed_.notify_all();
    return true;
}

FileCopiesAhead::Outcome FileCopiesAhead::settle()
{
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [this] { return waiting_.empty() && !copying_; });
    return std::exchange(outcome_, {});
}

// What a copy throws is told again when the caller, told that not every copy was made, makes
// them itself.
void FileCopiesAhead::work()
{
    std::unique_lock lock(mutex_);
    for (;;) {
        changed_.wait(lock, [this] { return stopping_ || !waiting_.empty(); });
        if (stopping_)
            return;
        const Copy copy = std::move(waiting_.front());
        waiting_.pop_front();
        if (!outcome_.allMade) {
            changed_.notify_all();
            continue;
        }
        copying_ = true;
        lock.unlock();
        std::optional<qint64> copied;
        try {
            makeFolder(copy.folder);
            copied = copyFileAsNew(copy.source, copy.path);
        } catch (const std::exception&) {
        }
        lock.lock();
        copying_ = false;
        if (copied) {
            outcome_.made.append(copy.path);
            outcome_.bytes += *copied;
        } else {
            outcome_.allMade = false;
        }
        changed_.notify_all();
    }
}

QString programFolder()
{
    if (QCoreApplication::instance() != nullptr)
        return EnsureTrailingBackslash(QCoreApplication::applicationDirPath());
    return folderOf(QFileInfo(QStringLiteral("/proc/self/exe")).canonicalFilePath());
}

QString folderOf(const QString& filePath)
{
    return EnsureTrailingBackslash(QFileInfo(filePath).path());
}

namespace {

// Names that Windows opens as devices whatever the folder or extension.
bool isWindowsDevice(const QString& part)
{
    static const QRegularExpression device(R"(^(CON|PRN|AUX|NUL|COM[1-9]|LPT[1-9]|CONIN\$|CONOUT\$) *(\..*)?$)",
                                           QRegularExpression::CaseInsensitiveOption);
    return device.match(part).hasMatch();
}

bool leavesFolder(const QString& part)
{
    return part == QStringLiteral(".") || part == QStringLiteral("..") || part.contains(u':')
           || isWindowsDevice(part);
}

// Windows ignores the blanks and dots that end a part of a path ("lettre1.rtf " opens
// lettre1.rtf); a part made only of them names nothing, "." and ".." aside.
QString asWindowsReadsIt(QString part)
{
    if (part == QStringLiteral(".") || part == QStringLiteral(".."))
        return part;
    while (part.endsWith(u' ') || part.endsWith(u'.'))
        part.chop(1);
    return part;
}

} // namespace

bool folderHoldsName(const QString& folder, const QString& name)
{
    QDirIterator entries(folder, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    while (entries.hasNext()) {
        if (entries.nextFileInfo().fileName().compare(name, Qt::CaseInsensitive) == 0)
            return true;
    }
    return false;
}

QString resolveWindowsName(const QString& folder, const QString& windowsName)
{
    return WindowsNameResolver(folder).resolve(windowsName);
}

WindowsNameResolver::WindowsNameResolver(QString folder) : folder_(EnsureTrailingBackslash(folder)) {}

QString WindowsNameResolver::resolve(const QString& windowsName)
{
    // A name from the database never leaves its folder: no root, parent, drive or device.
    const bool absolute = windowsName.startsWith(u'\\') || windowsName.startsWith(u'/');
    static const QRegularExpression separator(R"([\\/])");
    QStringList parts = windowsName.split(separator, Qt::SkipEmptyParts);
    for (QString& part : parts)
        part = asWindowsReadsIt(part);
    if (parts.contains(QString()))
        return {};
    if (absolute || parts.isEmpty() || std::any_of(parts.cbegin(), parts.cend(), leavesFolder))
        return {};
    QString path = folder_;
    for (qsizetype i = 0; i < parts.size(); ++i) {
        path += entryMatching(path, parts[i]);
        if (i + 1 < parts.size())
            path += '/';
    }
    return path;
}

// The entry of the folder whose name matches without regard to case, as Windows would find it;
// the name itself when none does.
QString WindowsNameResolver::entryMatching(const QString& folder, const QString& name)
{
    if (QFileInfo::exists(folder + name))
        return name;
    auto entries = entriesByFoldedName_.find(folder);
    if (entries == entriesByFoldedName_.end()) {
        entries = entriesByFoldedName_.insert(folder, {});
        for (const QString& entry : QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot)) {
            if (!entries->contains(entry.toCaseFolded()))
                entries->insert(entry.toCaseFolded(), entry);
        }
    }
    return entries->value(name.toCaseFolded(), name);
}

} // namespace p1
