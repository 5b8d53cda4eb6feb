#pragma once

#include "targetdb/target_sql.h"

#include <QLockFile>
#include <QSqlDatabase>

#include <memory>

namespace p1 {

// One run per target: an exclusive claim taken before the purge and held to the run's end, so
// that a second run on the same target (from another window or machine) is refused before it
// touches anything. SQLite: a lock file beside the database; PostgreSQL: a session advisory
// lock; SQL Server: a session application lock; the last two on a side session of their own, so
// that a reconnection of the run's session keeps the claim. UI thread only.
class TargetClaim {
public:
    explicit TargetClaim(TargetConnection& connection);
    ~TargetClaim();
    TargetClaim(const TargetClaim&) = delete;
    TargetClaim& operator=(const TargetClaim&) = delete;

    // True when the claim is now held; false, at once, when another run holds it.
    // Throws TargetError when the engine cannot be asked, or the lock file cannot be written.
    bool tryAcquire();
    // For a check: true when it may read the target. A lock file is not written (a check writes
    // no file there): only a run holding it refuses the check. A server's claim is taken.
    bool allowsACheck();
    void release();
    // SQLite: whether a run holds the claim, told without writing any file (a check's question).
    bool heldByARun() const;
    // PostgreSQL, once the claim is held: what another session of the target's database that
    // keeps a transaction open is, as the operator should read it (a run whose client died
    // mid-run keeps its locks until the server ends it, and would block the run midway); empty
    // when there is none, and on the other engines. Throws TargetError when it cannot be asked.
    QString otherSessionHoldingTheTarget();

private:
    bool tryLockFile();
    bool tryAcquireOnServer(const QString& statement);
    QString lockFilePath() const;

    TargetConnection& connection_;
    std::unique_ptr<QLockFile> lockFile_;
    QSqlDatabase side_;
};

} // namespace p1
