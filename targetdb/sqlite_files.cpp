#include "targetdb/sqlite_files.h"

#include <QSqlDriver>
#include <QSqlQuery>
#include <QVariant>

#include <sqlite3.h>

namespace p1 {

namespace {

sqlite3* handleOf(const QSqlDatabase& database)
{
    const QVariant handle = database.driver()->handle();
    if (qstrcmp(handle.typeName(), "sqlite3*") != 0)
        return nullptr;
    return *static_cast<sqlite3* const*>(handle.data());
}

// Closing the last connection copies the log into the database file and deletes the log; a log
// this connection did not make is left as it found it.
void copyLogAtClose(const QSqlDatabase& database, bool copied)
{
    if (sqlite3* handle = handleOf(database))
        sqlite3_db_config(handle, SQLITE_DBCONFIG_NO_CKPT_ON_CLOSE, copied ? 0 : 1, nullptr);
}

} // namespace

QString sqliteLogFile(const QString& databaseFile)
{
    return databaseFile + QStringLiteral("-wal");
}

// Errors are let go: a journal that cannot be changed (another program holds the database) is
// kept, and the statements that follow say what the target then refuses.
void letSqliteFilesChange(QSqlDatabase& database, FileChanges changes, bool logFoundAtOpening)
{
    QSqlQuery pragma(database);
    if (changes == FileChanges::Allowed) {
        pragma.exec(QStringLiteral("PRAGMA journal_mode=WAL"));
        copyLogAtClose(database, true);
        return;
    }
    if (pragma.exec(QStringLiteral("PRAGMA journal_mode")) && pragma.next()
        && pragma.value(0).toString().compare(QStringLiteral("wal"), Qt::CaseInsensitive) != 0) {
        pragma.finish();
        pragma.exec(QStringLiteral("PRAGMA journal_mode=MEMORY"));
    }
    copyLogAtClose(database, !logFoundAtOpening);
}

} // namespace p1
