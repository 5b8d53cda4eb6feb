#include "targetdb/target_claim.h"

#include "common/errors.h"

#include <QFile>
#include <QSqlQuery>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>

namespace p1 {

TargetClaim::TargetClaim(TargetConnection& connection) : connection_(connection) {}

TargetClaim::~TargetClaim()
{
    release();
}

bool TargetClaim::tryAcquire()
{
    const QString statement = connection_.unit().claimStatement();
    return statement.isEmpty() ? tryLockFile() : tryAcquireOnServer(statement);
}

bool TargetClaim::allowsACheck()
{
    return connection_.unit().claimStatement().isEmpty() ? !heldByARun() : tryAcquire();
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
    const TargetEngineUnit& unit = connection_.unit();
    if (unit.otherWritersStatement().isEmpty() || !side_.isOpen())
        return {};
    QSqlQuery own(connection_.database());
    if (!own.exec(unit.sessionIdentifierStatement()) || !own.next())
        throw TargetError(connection_.engineMessage(own.lastError()));
    QSqlQuery others(side_);
    if (!others.exec(unit.otherWritersStatement().arg(own.value(0).toLongLong())))
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
