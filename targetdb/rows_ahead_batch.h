#pragma once

#include <QByteArray>
#include <QSqlDatabase>
#include <QSqlError>
#include <QString>
#include <QVariantList>

#include <optional>

namespace p1 {

// Statements handed to the engine ahead of their outcome, many at a time, while the next rows are
// prepared: whether one was refused is known only when the batch settles. After a failure
// nothing more is run.
class RowsAheadBatch {
public:
    virtual ~RowsAheadBatch() = default;

    // The session the statements go to; a session opened again (a new connection name) prepares
    // its statements anew.
    virtual void attach(const QSqlDatabase& database) = 0;
    virtual bool isAttached() const = 0;

    // A statement with "?" placeholders and its values in their order. changesARow: the
    // statement fails unless it changes a row (an update by key).
    virtual void add(const QString& statement, const QVariantList& values, bool changesARow) = 0;

    // Runs what is gathered and waits for every outcome: nullopt when every statement did what it
    // should, else the first failure (a statement's error, or an update that changed no row).
    virtual std::optional<QSqlError> settle() = 0;

    // Sends a command of the session's own (a savepoint moved, or gone back to) at once, after
    // what is gathered, without waiting for its answer: the next settle reads it, a failure
    // included. False when the engine's batch cannot: the caller runs it itself then.
    virtual bool sendWithoutWaiting(const QByteArray&) { return false; }

    // Forgets what was gathered and waits for what is running, whatever its outcome: the group
    // it belonged to is being rolled back, or the session closed.
    virtual void discard() = 0;
    // Forgets the session: nothing is sent to it any more, and nothing of the batch stays in it.
    virtual void detach() = 0;
};

} // namespace p1
