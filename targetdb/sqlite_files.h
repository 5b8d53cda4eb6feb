#pragma once

#include "targetdb/target_sql.h"

#include <QSqlDatabase>
#include <QString>

namespace p1 {

// The database's write-ahead log, beside it.
QString sqliteLogFile(const QString& databaseFile);

// Sets the open connection for what the run may change; logFoundAtOpening: the log file was
// there before the connection opened.
void letSqliteFilesChange(QSqlDatabase& database, FileChanges changes, bool logFoundAtOpening);

} // namespace p1
