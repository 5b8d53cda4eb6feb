#include "targetdb/postgres_batch.h"

#include <QSqlDriver>
#include <QSqlField>

#include <libpq-fe.h>

#include <cstring>

namespace p1 {

namespace {

// Enough statements per request that the round trip no longer counts, few enough that the
// server starts on them while the next ones are gathered.
constexpr std::size_t statementsPerRequest = 200;
constexpr qsizetype bytesPerRequest = 256 * 1024;

// "?" placeholders as PostgreSQL numbers them, outside quoted names and texts.
QString numberedPlaceholders(const QString& statement)
{
    QString numbered;
    numbered.reserve(statement.size() + 16);
    QChar quote;
    int number = 0;
    for (const QChar c : statement) {
        if (!quote.isNull()) {
            if (c == quote)
                quote = QChar();
            numbered += c;
        } else if (c == u'"' || c == u'\'') {
            quote = c;
            numbered += c;
        } else if (c == u'?') {
            numbered += u'$' + QString::number(++number);
        } else {
            numbered += c;
        }
    }
    return numbered;
}

QSqlError errorOf(const PGresult* result)
{
    return QSqlError(QString(), QString::fromUtf8(PQresultErrorMessage(result)).trimmed(),
                     QSqlError::StatementError, QString::fromUtf8(PQresultErrorField(result, PG_DIAG_SQLSTATE)));
}

QSqlError connectionError(pg_conn* connection)
{
    return QSqlError(QString(), QString::fromUtf8(PQerrorMessage(connection)).trimmed(),
                     QSqlError::ConnectionError);
}

} // namespace

// Texts without a backslash (whose writing depends on the server's settings) and integers, nearly
// every value of an import, are written here without the driver's round of allocations.
void appendLiteral(QByteArray& statement, const QVariant& value, const QSqlDriver& driver)
{
    if (value.isNull()) {
        statement += "NULL";
        return;
    }
    switch (value.typeId()) {
    case QMetaType::LongLong:
        statement += QByteArray::number(value.toLongLong());
        return;
    case QMetaType::Int:
        statement += QByteArray::number(value.toInt());
        return;
    case QMetaType::QString: {
        const QString& text = *static_cast<const QString*>(value.constData());
        if (text.contains(u'\\'))
            break;
        QByteArray utf8 = text.toUtf8();
        statement += '\'';
        statement += utf8.contains('\'') ? utf8.replace("'", "''") : utf8;
        statement += '\'';
        return;
    }
    default:
        break;
    }
    QSqlField field;
    field.setMetaType(value.metaType());
    field.setValue(value);
    statement += driver.formatValue(field).toUtf8();
}

void PostgresBatch::attach(const QSqlDatabase& database)
{
    if (connection_ && database.connectionName() == session_)
        return;
    detach();
    const QVariant handle = database.driver()->handle();
    // Qt names the type of the handle as libpq declares the structure.
    if (qstrcmp(handle.typeName(), "pg_conn*") != 0 && qstrcmp(handle.typeName(), "PGconn*") != 0)
        return;
    connection_ = *static_cast<pg_conn* const*>(handle.data());
    gathered_.reserve(bytesPerRequest + bytesPerRequest / 4);
    session_ = database.connectionName();
    driver_ = database.driver();
}

void PostgresBatch::add(const QString& statement, const QVariantList& values, bool changesARow)
{
    if (failure_)
        return;
    auto name = names_.constFind(statement);
    if (name == names_.cend()) {
        prepare(statement, "p1_ahead_" + QByteArray::number(names_.size() + 1));
        if (failure_)
            return;
        name = names_.constFind(statement);
    }
    // What Qt's driver sends for a prepared statement it runs, values written the same way.
    gathered_ += "EXECUTE ";
    gathered_ += *name;
    if (!values.isEmpty()) {
        gathered_ += " (";
        for (qsizetype place = 0; place < values.size(); ++place) {
            if (place > 0)
                gathered_ += ", ";
            appendLiteral(gathered_, values.at(place), *driver_);
        }
        gathered_ += ')';
    }
    gathered_ += ';';
    gatheredChangesARow_.push_back(changesARow);
    if (gatheredChangesARow_.size() >= statementsPerRequest || gathered_.size() >= bytesPerRequest)
        send();
}

// The session must be idle: the answers due are read first.
void PostgresBatch::prepare(const QString& statement, const QByteArray& name)
{
    send();
    readAnswers();
    if (failure_)
        return;
    PGresult* result = PQprepare(connection_, name.constData(), numberedPlaceholders(statement).toUtf8().constData(),
                                 0, nullptr);
    if (!result)
        fail(connectionError(connection_));
    else if (PQresultStatus(result) != PGRES_COMMAND_OK)
        fail(errorOf(result));
    else
        names_.insert(statement, name);
    PQclear(result);
}

void PostgresBatch::send()
{
    if (gatheredChangesARow_.empty())
        return;
    readAnswers();
    if (!failure_) {
        if (PQsendQuery(connection_, gathered_.constData()) == 1) {
            sentChangesARow_ = std::move(gatheredChangesARow_);
            awaitingAnswers_ = true;
        } else {
            fail(connectionError(connection_));
        }
    }
    // libpq keeps its own copy of the request: the buffer is filled again, not grown again.
    gathered_.resize(0);
    gatheredChangesARow_.clear();
}

// One answer per statement, in their order, until the first failure: the server skips the rest
// of a request after an error.
void PostgresBatch::readAnswers()
{
    if (!awaitingAnswers_)
        return;
    std::size_t statement = 0;
    while (PGresult* result = PQgetResult(connection_)) {
        if (!failure_)
            checkAnswer(result, statement < sentChangesARow_.size() && sentChangesARow_[statement]);
        ++statement;
        PQclear(result);
    }
    if (!failure_ && PQstatus(connection_) != CONNECTION_OK)
        fail(connectionError(connection_));
    awaitingAnswers_ = false;
    sentChangesARow_.clear();
}

void PostgresBatch::checkAnswer(const pg_result* result, bool changesARow)
{
    if (PQresultStatus(result) != PGRES_COMMAND_OK)
        fail(errorOf(result));
    else if (changesARow && std::strcmp(PQcmdTuples(const_cast<pg_result*>(result)), "0") == 0)
        // No code of its own: run again one at a time, the statement says what it is.
        fail(QSqlError(QString(), QStringLiteral("La ligne à modifier n'existe plus."),
                       QSqlError::StatementError, QStringLiteral("P0002")));
}

void PostgresBatch::fail(QSqlError error)
{
    if (!failure_)
        failure_ = std::move(error);
}

std::optional<QSqlError> PostgresBatch::settle()
{
    if (!connection_)
        return std::exchange(failure_, std::nullopt);
    send();
    readAnswers();
    return std::exchange(failure_, std::nullopt);
}

// One answer per statement of the command, none of them counted as changing a row. A query of
// the driver's own still being answered (it reads some row by row) holds the session: the driver
// runs the command then.
bool PostgresBatch::sendWithoutWaiting(const QByteArray& command)
{
    if (!connection_)
        return false;
    send();
    readAnswers();
    if (PQtransactionStatus(connection_) == PQTRANS_ACTIVE)
        return false;
    gathered_ += command;
    gathered_ += ';';
    gatheredChangesARow_.push_back(false);
    send();
    return true;
}

void PostgresBatch::discard()
{
    gathered_.resize(0);
    gatheredChangesARow_.clear();
    if (connection_)
        readAnswers();
    failure_.reset();
}

void PostgresBatch::detach()
{
    gathered_.resize(0);
    gatheredChangesARow_.clear();
    sentChangesARow_.clear();
    awaitingAnswers_ = false;
    failure_.reset();
    connection_ = nullptr;
    driver_ = nullptr;
    session_.clear();
    names_.clear();
}

} // namespace p1
