#include "targetdb/target_claim.h"

#include "common/errors.h"

#include <QFile>
#include <QSqlQuery>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>

namespace p1 {

namespace {

// The same number for every run of this program, so that two runs meet on it.
const QString postgresClaim = QStringLiteral("SELECT pg_try_advisory_lock(7106341520)");
const QString sqlServerClaim = QStringLiteral(
    "DECLARE @result int; "
    "EXEC @result = sp_getapplock @Resource = 'p1import', @LockMode = 'Exclusive', "
    "@LockOwner = 'Session', @LockTimeout = 0; "
    "SELECT CASE WHEN @result >= 0 THEN 1 ELSE 0 END");

// A transaction that has written holds the lock of its own transaction number until it ends.
const QString postgresOtherWriters = QStringLiteral(
    "SELECT a.pid FROM pg_locks l JOIN pg_stat_activity a ON a.pid = l.pid "
    "WHERE l.locktype = 'transactionid' AND l.mode = 'ExclusiveLock' AND l.granted "
    "AND a.datname = current_database() AND a.backend_type = 'client backend' "
    "AND a.pid <> pg_backend_pid() AND a.pid <> %1 ORDER BY a.pid LIMIT 1");

} // namespace

TargetClaim::TargetClaim(TargetConnection& connection) : connection_(connection) {}

TargetClaim::~TargetClaim()
{
    release();
}

bool TargetClaim::tryAcquire()
{
    switch (connection_.engine()) {
    case TargetEngine::Sqlite:
        return tryLockFile();
    case TargetEngine::Postgres:
        return tryAcquireOnServer(postgresClaim);
    case TargetEngine::SqlServer:
        return tryAcquireOnServer(sqlServerClaim);
    }
    return false;
}

// Only a lock file another run holds means another run: one that cannot be written (a full disk,
// a folder protected against writing) is said as such.
bool TargetClaim::tryLockFile()
{
    lockFile_ = std::make_unique<QLockFile>(lockFilePath());
    lockFile_->setStaleLockTime(0);
    if (lockFile_->tryLock(0))
        return true;
    const QLockFile::LockError error = lockFile_->error();
    lockFile_.reset();
    if (error == QLockFile::LockFailedError)
        return false;
    if (error == QLockFile::PermissionError)
        throw TargetError(QStringLiteral("Le fichier de réservation [%1] ne peut pas être créé : le dossier de la "
                                         "base est protégé en écriture.")
                              .arg(lockFilePath()));
    throw TargetError(QStringLiteral("Le fichier de réservation [%1] n'a pas pu être écrit.").arg(lockFilePath()));
}

bool TargetClaim::tryAcquireOnServer(const QString& statement)
{
    side_ = connection_.openSideSession();
    QSqlQuery query(side_);
    if (!query.exec(statement) || !query.next()) {
        const QString message = connection_.engineMessage(query.lastError());
        release();
        throw TargetError(message);
    }
    if (query.value(0).toBool())
        return true;
    release();
    return false;
}

QString TargetClaim::otherSessionHoldingTheTarget()
{
    if (connection_.engine() != TargetEngine::Postgres || !side_.isOpen())
        return {};
    QSqlQuery own(connection_.database());
    if (!own.exec(QStringLiteral("SELECT pg_backend_pid()")) || !own.next())
        throw TargetError(connection_.engineMessage(own.lastError()));
    QSqlQuery others(side_);
    if (!others.exec(postgresOtherWriters.arg(own.value(0).toLongLong())))
        throw TargetError(connection_.engineMessage(others.lastError()));
    if (!others.next())
        return {};
    return QStringLiteral("Une autre session du serveur (processus %1) garde une transaction ouverte sur la base "
                          "Tessaris, peut-être celle d'une importation interrompue : elle n'a pas été modifiée. "
                          "Le serveur ferme de lui-même une session dont le programme a disparu.")
        .arg(others.value(0).toLongLong());
}

// The lock file of a run is locked for as long as the run lives; one its run left behind when it
// died is not.
bool TargetClaim::heldByARun() const
{
    const int fd = ::open(QFile::encodeName(lockFilePath()).constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    const bool held = ::flock(fd, LOCK_SH | LOCK_NB) != 0 && errno == EWOULDBLOCK;
    ::close(fd);
    return held;
}

QString TargetClaim::lockFilePath() const
{
    return connection_.sqliteDatabaseFile() + ".p1import-lock";
}

// Closing the side session ends the server's claim with it.
void TargetClaim::release()
{
    lockFile_.reset();
    if (side_.isValid())
        side_.close();
    side_ = QSqlDatabase();
}

} // namespace p1
