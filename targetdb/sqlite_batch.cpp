#include "targetdb/sqlite_batch.h"

#include <QDateTime>
#include <QSqlDriver>

#include <sqlite3.h>

#include <system_error>

namespace p1 {

namespace {

// Statements per handing over: the thread is woken a few hundred times a second at most.
constexpr std::size_t statementsPerBunch = 256;
// Bunches waiting for the thread before the program waits for it: rows prepared far ahead are
// memory, not speed.
constexpr std::size_t bunchesAhead = 8;

// What the driver binds as NULL: a null value, and a null text, bytes, date or time.
bool boundAsNull(const QVariant& value)
{
    if (value.isNull())
        return true;
    switch (value.typeId()) {
    case QMetaType::QString: return static_cast<const QString*>(value.constData())->isNull();
    case QMetaType::QByteArray: return static_cast<const QByteArray*>(value.constData())->isNull();
    case QMetaType::QDateTime: return !static_cast<const QDateTime*>(value.constData())->isValid();
    case QMetaType::QDate: return !static_cast<const QDate*>(value.constData())->isValid();
    case QMetaType::QTime: return !static_cast<const QTime*>(value.constData())->isValid();
    default: return false;
    }
}

int bind(sqlite3_stmt* statement, int place, const SqliteValue& value)
{
    if (const auto* integer = std::get_if<qint64>(&value))
        return sqlite3_bind_int64(statement, place, *integer);
    if (const auto* real = std::get_if<double>(&value))
        return sqlite3_bind_double(statement, place, *real);
    // The value outlives the statement's run: the batch keeps it until the statement is reset.
    if (const auto* text = std::get_if<QString>(&value))
        return sqlite3_bind_text16(statement, place, text->constData(), int(text->size() * sizeof(QChar)),
                                   SQLITE_STATIC);
    if (const auto* bytes = std::get_if<QByteArray>(&value))
        return sqlite3_bind_blob(statement, place, bytes->constData(), int(bytes->size()), SQLITE_STATIC);
    return sqlite3_bind_null(statement, place);
}

// The value as the driver binds it.
SqliteValue sqliteValueOf(const QVariant& value)
{
    if (boundAsNull(value))
        return {};
    switch (value.typeId()) {
    case QMetaType::Bool:
    case QMetaType::Int:
        return qint64(value.toInt());
    case QMetaType::UInt:
    case QMetaType::LongLong:
        return value.toLongLong();
    case QMetaType::Double:
        return value.toDouble();
    case QMetaType::QDateTime:
        return value.toDateTime().toString(Qt::ISODateWithMs);
    case QMetaType::QTime:
        return value.toTime().toString(u"hh:mm:ss.zzz");
    case QMetaType::QByteArray:
        return value.toByteArray();
    default:
        return value.toString();
    }
}

} // namespace

SqliteBatch::~SqliteBatch()
{
    detach();
}

void SqliteBatch::attach(const QSqlDatabase& database)
{
    if (connection_ && database.connectionName() == session_)
        return;
    detach();
    const QVariant handle = database.driver()->handle();
    if (qstrcmp(handle.typeName(), "sqlite3*") != 0)
        return;
    sqlite3* connection = *static_cast<sqlite3* const*>(handle.data());
    if (!connection)
        return;
    stopping_ = false;
    try {
        worker_ = std::thread(&SqliteBatch::work, this);
    } catch (const std::system_error&) {
        return; // left unattached: the connection says it cannot take rows ahead
    }
    connection_ = connection;
    session_ = database.connectionName();
}

void SqliteBatch::add(const QString& statement, const QVariantList& values, bool changesARow)
{
    Statement gathered;
    gathered.prepared = preparedNumber(statement);
    gathered.changesARow = changesARow;
    if (gathered.prepared < 0)
        return;
    gathered.values.reserve(std::size_t(values.size()));
    for (const QVariant& value : values)
        gathered.values.push_back(sqliteValueOf(value));
    gathered_.push_back(std::move(gathered));
    if (gathered_.size() >= statementsPerBunch)
        handOver();
}

// A statement is prepared while the thread is idle: the connection is then the program's.
qsizetype SqliteBatch::preparedNumber(const QString& statement)
{
    if (const auto known = numbers_.constFind(statement); known != numbers_.cend())
        return *known;
    handOver();
    std::unique_lock lock(mutex_);
    waitUntilIdle(lock);
    if (failure_)
        return -1;
    sqlite3_stmt* prepared = nullptr;
    const int code = sqlite3_prepare16_v2(connection_, statement.constData(), int(statement.size() * sizeof(QChar)),
                                          &prepared, nullptr);
    if (code != SQLITE_OK) {
        failure_ = errorOfConnection(code);
        return -1;
    }
    prepared_.push_back(prepared);
    return *numbers_.insert(statement, qsizetype(prepared_.size()) - 1);
}

void SqliteBatch::handOver()
{
    if (gathered_.empty())
        return;
    std::unique_lock lock(mutex_);
    idle_.wait(lock, [this] { return handed_.size() < bunchesAhead; });
    handed_.push_back(std::exchange(gathered_, {}));
    gathered_.reserve(statementsPerBunch);
    handedOver_.notify_one();
}

void SqliteBatch::waitUntilIdle(std::unique_lock<std::mutex>& lock)
{
    idle_.wait(lock, [this] { return handed_.empty() && !running_; });
}

std::optional<QSqlError> SqliteBatch::settle()
{
    handOver();
    std::unique_lock lock(mutex_);
    waitUntilIdle(lock);
    return std::exchange(failure_, std::nullopt);
}

void SqliteBatch::discard()
{
    gathered_.clear();
    std::unique_lock lock(mutex_);
    handed_.clear();
    waitUntilIdle(lock);
    failure_.reset();
}

void SqliteBatch::detach()
{
    if (!connection_)
        return;
    discard();
    {
        const std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    handedOver_.notify_one();
    worker_.join();
    for (sqlite3_stmt* prepared : prepared_)
        sqlite3_finalize(prepared);
    prepared_.clear();
    numbers_.clear();
    session_.clear();
    connection_ = nullptr;
}

// The thread's loop: each bunch in turn, none once a statement failed (the group is lost).
void SqliteBatch::work()
{
    std::unique_lock lock(mutex_);
    for (;;) {
        handedOver_.wait(lock, [this] { return stopping_ || !handed_.empty(); });
        if (handed_.empty())
            return;
        Bunch bunch = std::move(handed_.front());
        handed_.pop_front();
        running_ = true;
        const bool failedBefore = failure_.has_value();
        lock.unlock();
        std::optional<QSqlError> failure = failedBefore ? std::nullopt : runBunch(bunch);
        bunch.clear();
        lock.lock();
        running_ = false;
        if (failure && !failure_)
            failure_ = std::move(failure);
        idle_.notify_all();
    }
}

std::optional<QSqlError> SqliteBatch::runBunch(const Bunch& bunch)
{
    for (const Statement& statement : bunch) {
        if (std::optional<QSqlError> failure = runStatement(statement))
            return failure;
    }
    return std::nullopt;
}

std::optional<QSqlError> SqliteBatch::runStatement(const Statement& statement)
{
    sqlite3_stmt* prepared = prepared_[std::size_t(statement.prepared)];
    for (std::size_t place = 0; place < statement.values.size(); ++place) {
        if (const int code = bind(prepared, int(place) + 1, statement.values[place]); code != SQLITE_OK)
            return errorOfConnection(code);
    }
    const int code = sqlite3_step(prepared);
    std::optional<QSqlError> failure;
    if (code != SQLITE_DONE && code != SQLITE_ROW)
        failure = errorOfConnection(code);
    sqlite3_reset(prepared);
    if (failure)
        return failure;
    if (statement.changesARow && sqlite3_changes(connection_) == 0)
        return QSqlError(QString(), QStringLiteral("La ligne à modifier n'existe plus."), QSqlError::StatementError,
                         QString::number(SQLITE_NOTFOUND));
    return std::nullopt;
}

QSqlError SqliteBatch::errorOfConnection(int code) const
{
    return QSqlError(QString(), QString::fromUtf8(sqlite3_errmsg(connection_)), QSqlError::StatementError,
                     QString::number(code));
}

} // namespace p1
