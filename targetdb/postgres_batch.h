#pragma once

#include "targetdb/rows_ahead_batch.h"

#include <QByteArray>
#include <QHash>
#include <QVariant>

#include <vector>

struct pg_conn;
struct pg_result;

namespace p1 {

// Statements sent to a PostgreSQL session many at a time instead of one round trip each: each
// goes as "EXECUTE name (values)", the values written as literals by Qt's own driver (the text
// Qt sends for a prepared statement it runs), and a few hundred of them travel as one request.
// The next request is gathered while the server runs the last one. Whether a statement was
// refused is known only when the answers are read: after a failure nothing more is sent.
class PostgresBatch final : public RowsAheadBatch {
public:
    void attach(const QSqlDatabase& database) override;
    bool isAttached() const override { return connection_ != nullptr; }
    void add(const QString& statement, const QVariantList& values, bool changesARow) override;
    // Sends what is gathered and reads every answer.
    std::optional<QSqlError> settle() override;
    bool sendWithoutWaiting(const QByteArray& command) override;
    // Reads the answers still due, whatever they say.
    void discard() override;
    // Without a word to the session (it may be closed already): its prepared statements end with it.
    void detach() override;

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
