#include "dbaccess/letter_store.h"

#include "common/errors.h"
#include "common/files.h"
#include "common/locale_texts.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <fcntl.h>
#include <stdio.h>

#include <cerrno>

namespace p1 {

namespace {

const QString storeName = QStringLiteral("LETTERS");

QString withoutSeparator(const QString& folder)
{
    return folder.endsWith(u'/') ? folder.chopped(1) : folder;
}

} // namespace

QString letterStoreFolder(const QString& targetBaseFolder)
{
    return EnsureTrailingBackslash(targetBaseFolder) + storeName + u'/';
}

QString patientLetterFolder(const QString& targetBaseFolder, qint64 patient)
{
    return letterStoreFolder(targetBaseFolder) + QString::number(patient) + u'/';
}

QString letterStoreSetAsideName(const QString& targetBaseFolder, const QDateTime& now)
{
    if (!QFileInfo(withoutSeparator(letterStoreFolder(targetBaseFolder))).isDir())
        return {};
    const QString stamp = textLocale().toString(now.date(), shortDateFormat()) + u' ' + timeText(now.time());
    const QString base = storeName + QStringLiteral(".avant ") + MakeFileNameSafe(stamp);
    QString name = base;
    for (int copy = 2; QFileInfo::exists(EnsureTrailingBackslash(targetBaseFolder) + name); ++copy)
        name = QStringLiteral("%1 (%2)").arg(base).arg(copy);
    return name;
}

void setLetterStoreAside(const QString& targetBaseFolder, const QString& asideName)
{
    const QString store = withoutSeparator(letterStoreFolder(targetBaseFolder));
    const QString aside = EnsureTrailingBackslash(targetBaseFolder) + asideName;
    if (::renameat2(AT_FDCWD, QFile::encodeName(store).constData(), AT_FDCWD, QFile::encodeName(aside).constData(),
                    RENAME_NOREPLACE)
        != 0) {
        const int reason = errno;
        throw Error(QStringLiteral("Le dossier des courriers [%1] n'a pas pu être déplacé en [%2] : %3")
                        .arg(QDir::toNativeSeparators(store), QDir::toNativeSeparators(aside), qt_error_string(reason)));
    }
    syncToDisk(targetBaseFolder);
}

} // namespace p1
