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

namespace p1 {

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

bool renameFile(const QString& from, const QString& to)
{
    return !QFileInfo::exists(to) && QFile::rename(from, to);
}

bool copyFile(const QString& from, const QString& to)
{
    return QFile::copy(from, to);
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

// The entry of the folder whose name matches without regard to case, as Windows would find it.
QString matchingEntry(const QString& folder, const QString& name)
{
    if (QFileInfo::exists(folder + name))
        return name;
    const QStringList entries = QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
    for (const QString& entry : entries) {
        if (entry.compare(name, Qt::CaseInsensitive) == 0)
            return entry;
    }
    return name;
}

} // namespace

QString resolveWindowsName(const QString& folder, const QString& windowsName)
{
    QString path = EnsureTrailingBackslash(folder);
    const QStringList parts = windowsName.split(QRegularExpression(R"([\\/])"), Qt::SkipEmptyParts);
    // A name from the database never leaves its folder: no parent, no drive.
    const bool leavesFolder = std::any_of(parts.cbegin(), parts.cend(), [](const QString& part) {
        return part == QStringLiteral(".") || part == QStringLiteral("..") || part.contains(':');
    });
    if (leavesFolder || parts.isEmpty())
        return {};
    for (qsizetype i = 0; i < parts.size(); ++i) {
        path += matchingEntry(path, parts[i]);
        if (i + 1 < parts.size())
            path += '/';
    }
    return path;
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
