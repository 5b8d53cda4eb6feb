#pragma once

#include "common/errors.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

namespace p1 {

// A file that could not be written whole (a full disk, a quota, a folder that cannot be written
// to): "Impossible d'écrire le fichier " + its path + " : " + the system's reason.
class FileWriteError : public Error {
public:
    FileWriteError(const QString& path, QString reason);
    const QString& reason() const { return reason_; }

private:
    QString reason_;
};

// Writes the bytes into a new file of the path's folder, puts them on the disk, then gives that
// file the path, replacing a file already there: the path holds the whole content or what it
// held before, never a part of it. Every write is checked; when one fails, nothing is left under
// the path (an earlier file stays as it was) nor beside it, and FileWriteError is thrown.
void writeWholeFile(const QString& path, const QByteArray& bytes);

// The lines, each ended by CR LF, in Windows-1252.
QByteArray windows1252Lines(const QStringList& lines);

// Writes the lines as windows1252Lines gives them with writeWholeFile.
void writeWindows1252Lines(const QString& path, const QStringList& lines);

} // namespace p1
