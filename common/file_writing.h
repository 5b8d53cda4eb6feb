#pragma once

#include "common/errors.h"

#include <QByteArray>
#include <QList>
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

// Every byte written to the descriptor, through interruptions and short writes; false on a full
// disk, a quota, an I/O error, errno telling which.
bool writeEveryByte(int fd, const QByteArray& bytes);

// A file of a set written together: its extension (".log") and its content.
struct FileToWrite {
    QString extension;
    QByteArray bytes;
};

// Writes each file of the set whole, as writeWholeFile does, under folder + stem + its extension;
// when one of these names is taken, under stem + " (2)", then " (3)" and so on, the first for
// which none is: a file already there is never replaced, even by a program writing the same
// names at the same moment. When any write fails, no file of the set is left and FileWriteError
// is thrown. Returns the stem the files were given.
QString writeNewFilesUnderOneName(const QString& folder, const QString& stem, const QList<FileToWrite>& files);

// The lines, each ended by CR LF, in Windows-1252.
QByteArray windows1252Lines(const QStringList& lines);

// Writes the lines as windows1252Lines gives them with writeWholeFile.
void writeWindows1252Lines(const QString& path, const QStringList& lines);

} // namespace p1
