#pragma once

// What the engine units share, inside the target layer.

#include "targetdb/target_engine.h"

#include <QStringList>

namespace p1 {

std::shared_ptr<const TargetEngineUnit> makeSqliteUnit(const QString& odbcDriver);
std::shared_ptr<const TargetEngineUnit> makePostgresUnit(const QString& odbcDriver);
std::shared_ptr<const TargetEngineUnit> makeSqlServerUnit(const QString& odbcDriver);

constexpr int loginTimeoutSeconds = 5;
// How long a statement waits for a lock another session holds, on every engine.
constexpr int lockWaitSeconds = 5;
// Well above any statement of an import (the purge of the largest table), yet a server that
// stalls ends the run instead of holding it for ever.
constexpr int statementTimeoutMinutes = 10;

// An ODBC attribute value, braced when it holds a character the connection string syntax uses.
QString odbcValue(const QString& value);
// A connection through Qt's ODBC driver with that connection string, its login bounded and its
// other requests (catalogue, transactions) bounded against a silent server.
QSqlDatabase addOdbcDatabase(const QString& connectionName, const QString& connectionString);

// The parts of an error code: "19", or "S1000;19" through ODBC (SQLSTATE, then native number).
QStringList codeParts(const QString& code);

} // namespace p1
