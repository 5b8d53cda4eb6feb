#pragma once

#include "targetdb/rows_ahead_batch.h"

#include <QByteArray>
#include <QHash>
#include <QVariant>

#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>
#include <variant>
#include <vector>

struct sqlite3;
struct sqlite3_stmt;

namespace p1 {

// A value as Qt's SQLite driver binds it: NULL, an integer, a real, a text (bound as UTF-16, as
// the driver binds it) or bytes.
using SqliteValue = std::variant<std::monostate, qint64, double, QString, QByteArray>;

// Statements run on a thread of their own, on the SQLite connection Qt opened, while the program
// prepares the next rows: the engine's work goes to the second core. The statements are prepared
// once per connection and bound as Qt's driver binds them. The connection is the thread's alone
// from the first statement handed over until the batch settles or is discarded: the program asks
// nothing else of it meanwhile.
class SqliteBatch final : public RowsAheadBatch {
public:
    SqliteBatch() = default;
    SqliteBatch(const SqliteBatch&) = delete;
    SqliteBatch& operator=(const SqliteBatch&) = delete;
    ~SqliteBatch() override;

    void attach(const QSqlDatabase& database) override;
    bool isAttached() const override { return connection_ != nullptr; }
    void add(const QString& statement, const QVariantList& values, bool changesARow) override;
    std::optional<QSqlError> settle() override;
    void discard() override;
    // Finalises the prepared statements, which the connection cannot close without.
    void detach() override;

private:
    struct Statement {
        qsizetype prepared = 0;
        std::vector<SqliteValue> values;
        bool changesARow = false;
    };
    using Bunch = std::vector<Statement>;

    qsizetype preparedNumber(const QString& statement);
    void handOver();
    void waitUntilIdle(std::unique_lock<std::mutex>& lock);
    void work();
    std::optional<QSqlError> runBunch(const Bunch& bunch);
    std::optional<QSqlError> runStatement(const Statement& statement);
    QSqlError errorOfConnection(int code) const;

    sqlite3* connection_ = nullptr;
    QString session_;
    QHash<QString, qsizetype> numbers_; // prepared statements of the connection, by their text
    std::vector<sqlite3_stmt*> prepared_;
    Bunch gathered_;

    std::mutex mutex_;
    std::condition_variable handedOver_;
    std::condition_variable idle_;
    std::deque<Bunch> handed_;
    bool running_ = false;
    bool stopping_ = false;
    std::optional<QSqlError> failure_;
    std::thread worker_;
};

} // namespace p1
