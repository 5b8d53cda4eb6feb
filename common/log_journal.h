#pragma once

#include "common/operator_ui.h"

#include <QString>
#include <QStringList>

namespace p1 {

// The extension of a run's journal, after the log's own name: "P1Import - <date> <time>.log.en-cours".
extern const QString journalExtension;

// A run's log lines kept on the disk as the run goes, against a kill (SIGKILL), a crash or a power
// cut, which would lose the log the run holds in memory until its end: a file of the log folder in
// the log file's own form (Windows-1252, CR LF), to which the lines are appended and put on the
// disk (fsync) at each commit of the target, never line by line. At the run's end the log file is
// written and the journal removed; a journal left in the log folder is the record of a run that
// never got there.
//
// The journal holds every line up to the last commit, or it is not there: one that cannot be
// created or appended (a full disk) is removed and given up, and the run goes on as it would
// without it. The program holds a lock on it (flock) while it is open, so that another run tells
// a journal in use from one left behind.
class LogJournal : public LogKeeper {
public:
    // Creates the journal folder + stem + journalExtension, or under stem + " (2)", " (3)"...
    // when that name is taken. Given up at once (kept() false) when it cannot be created.
    LogJournal(const QString& folder, const QString& stem);
    // Closes it, releasing its lock; the file stays unless removed.
    ~LogJournal() override;
    LogJournal(const LogJournal&) = delete;
    LogJournal& operator=(const LogJournal&) = delete;

    void keep(const QStringList& lines) override;
    // The journal is on the disk with every line kept so far.
    bool kept() const { return fd_ >= 0; }
    // Its path, once created.
    const QString& path() const { return path_; }
    // Removes the file (its run has its log file, or nothing to record); it is given up.
    void remove();

private:
    void giveUp();

    int fd_ = -1;
    QString path_;
    qsizetype linesKept_ = 0;
};

// The journals of earlier runs left in the folder, that no program running holds, by name.
QStringList journalsLeftIn(const QString& folder);

} // namespace p1
