#pragma once

#include <QByteArray>
#include <QHash>
#include <QSqlDatabase>
#include <QSqlError>
#include <QString>
#include <QVariant>
#include <QVariantList>

#include <optional>
#include <vector>

struct pg_conn;
struct pg_result;

namespace p1 {

// Statements sent to a PostgreSQL session many at a time instead of one round trip each: each
// goes as "EXECUTE name (values)", the values written as literals by Qt's own driver (the text
// Qt sends for a prepared statement it runs), and a few hundred of them travel as one request.
// The next request is gathered while the server runs the last one. Whether a statement was
// refused is known only when the answers are read: after a failure nothing more is sent.
class PostgresBatch {
public:
    // The session the statements go to; a session opened again (a new connection name) prepares
    // its statements anew.
    void attach(const QSqlDatabase& database);
    bool isAttached() const { return connection_ != nullptr; }

    // A statement with "?" placeholders and its values in their order. changesARow: the
    // statement fails unless it changes a row (an update by key).
    void add(const QString& statement, const QVariantList& values, bool changesARow);

    // Sends what is gathered and reads every answer: nullopt when every statement did what it
    // should, else the first failure (a statement's error, or an update that changed no row).
    std::optional<QSqlError> settle();

    // Forgets what was gathered and reads the answers still due, whatever they say: the group
    // they belonged to is being rolled back, or the session closed.
    void discard();
    // Forgets the session without a word to it (it may be closed already): nothing is sent to it
    // any more.
    void detach();

private:
    void prepare(const QString& statement, const QByteArray& name);
    void send();
    void readAnswers();
    void checkAnswer(const pg_result* result, bool changesARow);
    void fail(QSqlError error);

    pg_conn* connection_ = nullptr;
    QString session_;
    const QSqlDriver* driver_ = nullptr;
    QHash<QString, QByteArray> names_; // prepared statements of the session, by their text
    QByteArray gathered_;
    std::vector<bool> gatheredChangesARow_;
    std::vector<bool> sentChangesARow_; // of the request the server runs, if any
    bool awaitingAnswers_ = false;
    std::optional<QSqlError> failure_;
};

// A value as a literal of a statement, as Qt's PostgreSQL driver writes it when it runs a
// prepared statement: NULL for a null value.
void appendLiteral(QByteArray& statement, const QVariant& value, const QSqlDriver& driver);

} // namespace p1
