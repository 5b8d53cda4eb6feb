#pragma once

#include <QDateTime>
#include <QString>

namespace p1 {

// The target's letter store: the folder LETTERS beside Kelvanor.ver, one folder per patient
// named by the patient's code, one file LET<n>.HED per letter.
QString letterStoreFolder(const QString& targetBaseFolder);                 // with separator
QString patientLetterFolder(const QString& targetBaseFolder, qint64 patient); // with separator

// Where an emptied LETTERS table leaves the files of its letters: beside the store, as
// "LETTERS.avant <date heure>" (the stamp made safe for a file name), with " (2)", " (3)"...
// when that name is taken. Empty when the target has no letter store.
QString letterStoreSetAsideName(const QString& targetBaseFolder, const QDateTime& now);

// Renames the store to that name, never over an existing entry, and puts the rename on disk.
// Throws Error, naming both folders and the system's reason, when it cannot.
void setLetterStoreAside(const QString& targetBaseFolder, const QString& asideName);

} // namespace p1
