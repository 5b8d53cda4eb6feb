#pragma once

#include "targetdb/target_sql.h"

#include <QString>
#include <QStringList>

namespace p1 {

// The target tables as the tests and the demo create them: every table and column the import
// writes, the counters table ID_VALUES and every table the purge empties. One description
// gives the three dialects, so SQLite, PostgreSQL and the SQL Server script cannot drift apart.

// Creates the tables on an empty target (throws TargetError).
void createTargetSchema(TargetConnection& connection);
// The CREATE TABLE statements in the engine's dialect, in creation order.
QStringList targetSchemaStatements(TargetEngine engine);
QStringList targetSchemaStatements(const TargetEngineUnit& unit);
// The text of schema/target_schema_sqlserver.sql, for a real SQL Server.
QString sqlServerSchemaScript();
// The prescriptions table of the schema (EDITOR.INI of a test target names it).
QString prescriptionsTableName();

} // namespace p1
