#include "targetdb/target_engine.h"

#include "targetdb/engine_units.h"
#include "targetdb/rows_ahead_batch.h"
#include "targetdb/target_values.h"

#include <QSqlDriver>
#include <QSqlQuery>
#include <QSqlResult>

#include <sql.h>
#include <sqlext.h>

#include <array>

namespace p1 {

namespace {

// Qt's ODBC driver hands on the driver's native number alone, which tells nothing through
// drivers that give the same number to every error (psqlODBC gives 1): the SQLSTATE the driver
// recorded for the failed request is read from its handle, while no other request has cleared it.
QString odbcSqlState(SQLSMALLINT handleType, const QVariant& handle)
{
    if (!handle.isValid() || qstrcmp(handle.typeName(), "void*") != 0)
        return {};
    SQLHANDLE raw = *static_cast<SQLHANDLE const*>(handle.constData());
    if (!raw)
        return {};
    std::array<SQLCHAR, SQL_SQLSTATE_SIZE + 1> state{};
    SQLINTEGER native = 0;
    SQLSMALLINT length = 0;
    if (!SQL_SUCCEEDED(SQLGetDiagRecA(handleType, raw, 1, state.data(), &native, nullptr, 0, &length)))
        return {};
    return QString::fromLatin1(reinterpret_cast<const char*>(state.data()));
}

// "SQLSTATE;native", the form every unit reads through ODBC.
QSqlError withSqlState(const QSqlError& error, const QString& state)
{
    if (state.isEmpty() || !error.isValid())
        return error;
    return QSqlError(error.driverText(), error.databaseText(), error.type(),
                     state + u';' + error.nativeErrorCode());
}

} // namespace

QString TargetEngineUnit::databaseFile(const ConnectionStringParts&, const QString&) const
{
    return {};
}

QString TargetEngineUnit::openingProblem(const ConnectionStringParts&, const QString&) const
{
    return {};
}

QString TargetEngineUnit::probeStatement() const
{
    return QStringLiteral("SELECT 1");
}

void TargetEngineUnit::tuneSideSession(QSqlDatabase&) const {}

bool TargetEngineUnit::isEngineTable(const QString&) const
{
    return false;
}

void TargetEngineUnit::letFilesChange(QSqlDatabase&, FileChanges, bool) const {}

bool TargetEngineUnit::logLeftBeside(const QString&) const
{
    return false;
}

QSqlError TargetEngineUnit::errorOf(const QSqlQuery& query) const
{
    const QSqlError error = query.lastError();
    if (!throughOdbc() || !query.result())
        return error;
    return withSqlState(error, odbcSqlState(SQL_HANDLE_STMT, query.result()->handle()));
}

QSqlError TargetEngineUnit::errorOf(const QSqlDatabase& session) const
{
    const QSqlError error = session.lastError();
    if (!throughOdbc() || !session.driver())
        return error;
    return withSqlState(error, odbcSqlState(SQL_HANDLE_DBC, session.driver()->handle()));
}

QString TargetEngineUnit::transactionCountStatement() const
{
    return {};
}

bool TargetEngineUnit::refusalDoomsRowsAhead() const
{
    return false;
}

bool TargetEngineUnit::rolledBackGroupsAreSavepoints() const
{
    return false;
}

void TargetEngineUnit::holdChangesInMemory(QSqlDatabase&, bool) const {}

std::unique_ptr<RowsAheadBatch> TargetEngineUnit::rowsAheadBatch() const
{
    return nullptr;
}

TableFacts TargetEngineUnit::tableFacts() const
{
    return TableFacts::ServerCatalogue;
}

QString TargetEngineUnit::coarseDateTimeColumnsStatement() const
{
    return {};
}

// A typed null, so that a driver that describes its parameters by their values binds the type
// the column has. Through ODBC a date-time is bound as a timestamp, as production binds it.
QVariant TargetEngineUnit::nullParameter(ColumnKind kind) const
{
    switch (kind) {
    case ColumnKind::Integer:
        return QVariant(QMetaType::fromType<qint64>());
    case ColumnKind::Real:
        return QVariant(QMetaType::fromType<double>());
    case ColumnKind::Boolean:
        return QVariant(QMetaType::fromType<bool>());
    case ColumnKind::DateTime:
        return throughOdbc() ? QVariant(QMetaType::fromType<QDateTime>()) : QVariant(QMetaType::fromType<QString>());
    default:
        return QVariant(QMetaType::fromType<QString>());
    }
}

// The engines' own Qt drivers take a date-time text without any zone conversion on either side.
QVariant TargetEngineUnit::dateTimeParameter(const QDateTime& dateTime) const
{
    return throughOdbc() ? QVariant(dateTime) : QVariant(dateTimeForEngine(dateTime));
}

QVariant TargetEngineUnit::booleanParameter(bool value) const
{
    return value;
}

QString TargetEngineUnit::defaultValue(SchemaType type, const QString& value) const
{
    switch (type) {
    case SchemaType::Boolean:
        return value == QStringLiteral("true") ? QStringLiteral("1") : QStringLiteral("0");
    case SchemaType::Text:
    case SchemaType::Memo:
        return u'\'' + QString(value).replace(u'\'', QStringLiteral("''")) + u'\'';
    default:
        return value;
    }
}

QString TargetEngineUnit::sessionIdentifierStatement() const
{
    return {};
}

QString TargetEngineUnit::otherWritersStatement() const
{
    return {};
}

TargetCreation TargetEngineUnit::creation() const
{
    return TargetCreation::None;
}

QString odbcValue(const QString& value)
{
    const bool plain = !value.contains(u';') && !value.contains(u'{') && !value.contains(u'}')
                       && value.trimmed() == value;
    if (plain)
        return value;
    QString escaped = value;
    escaped.replace(u'}', QStringLiteral("}}"));
    return u'{' + escaped + u'}';
}

QSqlDatabase addOdbcDatabase(const QString& connectionName, const QString& connectionString)
{
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QODBC"), connectionName);
    db.setDatabaseName(connectionString);
    db.setConnectOptions(QStringLiteral("SQL_ATTR_LOGIN_TIMEOUT=%1;SQL_ATTR_CONNECTION_TIMEOUT=%2")
                             .arg(loginTimeoutSeconds)
                             .arg(statementTimeoutMinutes * 60));
    return db;
}

QStringList codeParts(const QString& code)
{
    return code.trimmed().split(u';', Qt::SkipEmptyParts);
}

std::shared_ptr<const TargetEngineUnit> makeEngineUnit(TargetEngine engine, const QString& odbcDriver)
{
    switch (engine) {
    case TargetEngine::Sqlite: return makeSqliteUnit(odbcDriver);
    case TargetEngine::Postgres: return makePostgresUnit(odbcDriver);
    case TargetEngine::SqlServer: break;
    }
    return makeSqlServerUnit(odbcDriver);
}

const TargetEngineUnit& defaultEngineUnit(TargetEngine engine)
{
    static const std::array<std::shared_ptr<const TargetEngineUnit>, 3> units = {
        makeEngineUnit(TargetEngine::SqlServer), makeEngineUnit(TargetEngine::Sqlite),
        makeEngineUnit(TargetEngine::Postgres)};
    for (const auto& unit : units)
        if (unit->engine() == engine)
            return *unit;
    return *units.front();
}

namespace {

constexpr std::array allEngines = {TargetEngine::SqlServer, TargetEngine::Sqlite, TargetEngine::Postgres};

} // namespace

std::optional<TargetEngine> targetEngineFromName(const QString& name)
{
    const QString key = name.trimmed().toLower();
    for (const TargetEngine engine : allEngines)
        if (defaultEngineUnit(engine).commandLineName() == key)
            return engine;
    return std::nullopt;
}

TargetEngine defaultTargetEngine()
{
    return targetEngineFromName(qEnvironmentVariable("P1IMPORT_TARGET_ENGINE")).value_or(allEngines.front());
}

std::optional<TargetEngine> engineCreating(TargetCreation creation)
{
    for (const TargetEngine engine : allEngines)
        if (defaultEngineUnit(engine).creation() == creation)
            return engine;
    return std::nullopt;
}

FailureCode failureCodeKind(TargetEngine engine, const QString& code)
{
    if (code.trimmed().isEmpty())
        return FailureCode::Unknown;
    return defaultEngineUnit(engine).failureKind(code.trimmed());
}

} // namespace p1
