#include "common/files.h"

#include "common/errors.h"
#include "common/text_encoding.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSaveFile>

#include <algorithm>
#include <array>

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

FileCopyError readError(const QFile& file)
{
    return FileCopyError(
        QStringLiteral("Impossible de lire le fichier %1 : %2").arg(file.fileName(), file.errorString()));
}

// A short write sets no error of its own: the file system took part of the bytes.
FileCopyError writeError(const QFile& file)
{
    const QString reason =
        file.error() == QFileDevice::NoError ? QStringLiteral("écriture incomplète") : file.errorString();
    return FileCopyError(QStringLiteral("Impossible d'écrire le fichier %1 : %2").arg(file.fileName(), reason));
}

// Every byte read must be written: a short write (full disk, quota) is an error, as is a
// failing close, where a network file system may first report it.
qint64 copyContent(QFile& input, QFile& output)
{
    std::array<char, copyBufferSize> buffer;
    qint64 copied = 0;
    qint64 bytesRead = 0;
    do {
        bytesRead = input.read(buffer.data(), copyBufferSize);
        if (bytesRead < 0)
            throw readError(input);
        if (bytesRead > 0 && output.write(buffer.data(), bytesRead) != bytesRead)
            throw writeError(output);
        copied += bytesRead;
    } while (bytesRead == copyBufferSize);
    output.close();
    if (output.error() != QFileDevice::NoError)
        throw writeError(output);
    return copied;
}

} // namespace

std::optional<qint64> copyFileAsNew(const QString& source, const QString& path)
{
    // A taken path is told before anything is read: the source is not even opened then.
    QFile output(path);
    if (!output.open(QIODevice::WriteOnly | QIODevice::NewOnly | QIODevice::Unbuffered)) {
        if (QFileInfo::exists(path))
            return std::nullopt;
        throw FileCreateError(path);
    }
    try {
        QFile input(source);
        if (!input.open(QIODevice::ReadOnly | QIODevice::Unbuffered))
            throw FileOpenError(source);
        return copyContent(input, output);
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

} // namespace

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
    const QStringList parts = windowsName.split(separator, Qt::SkipEmptyParts);
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

void writeWindows1252Lines(const QString& path, const QStringList& lines)
{
    QSaveFile file(path);
    QByteArray content;
    for (const QString& line : lines)
        content += toWindows1252(line) + "\r\n";
    if (!file.open(QIODevice::WriteOnly) || file.write(content) != content.size() || !file.commit())
        throw Error(QStringLiteral("Impossible d'écrire le fichier %1 : %2").arg(path, file.errorString()));
}

} // namespace p1
