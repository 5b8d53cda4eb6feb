// What a SQLite target puts on the disk at the end of a stage, seen from below the engine: the
// default file layer of SQLite is wrapped so that its syncs can be counted, everything else
// passing through unchanged.
#include "targetdb/target_sql.h"
#include "tests/support/qt_printers.h"
#include "tests/support/target_databases.h"

#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QSqlQuery>

#include <sqlite3.h>

#include <atomic>
#include <cstring>

namespace p1 {
namespace {

// An open file of the wrapped layer: ours first, the real layer's file after it.
struct ObservedFile {
    sqlite3_file base;
    bool log; // the database's write-ahead log
    sqlite3_file* real() { return reinterpret_cast<sqlite3_file*>(this + 1); }
};

ObservedFile* observed(sqlite3_file* file)
{
    return reinterpret_cast<ObservedFile*>(file);
}

sqlite3_file* real(sqlite3_file* file)
{
    return observed(file)->real();
}

std::atomic<int> logSyncs{0};

int syncFile(sqlite3_file* file, int flags)
{
    if (observed(file)->log)
        ++logSyncs;
    return real(file)->pMethods->xSync(real(file), flags);
}

const sqlite3_io_methods observedMethods = {
    3,
    [](sqlite3_file* file) {
        const int result = real(file)->pMethods ? real(file)->pMethods->xClose(real(file)) : SQLITE_OK;
        file->pMethods = nullptr;
        return result;
    },
    [](sqlite3_file* f, void* into, int size, sqlite3_int64 at) {
        return real(f)->pMethods->xRead(real(f), into, size, at);
    },
    [](sqlite3_file* f, const void* from, int size, sqlite3_int64 at) {
        return real(f)->pMethods->xWrite(real(f), from, size, at);
    },
    [](sqlite3_file* f, sqlite3_int64 size) { return real(f)->pMethods->xTruncate(real(f), size); },
    syncFile,
    [](sqlite3_file* f, sqlite3_int64* size) { return real(f)->pMethods->xFileSize(real(f), size); },
    [](sqlite3_file* f, int lock) { return real(f)->pMethods->xLock(real(f), lock); },
    [](sqlite3_file* f, int lock) { return real(f)->pMethods->xUnlock(real(f), lock); },
    [](sqlite3_file* f, int* out) { return real(f)->pMethods->xCheckReservedLock(real(f), out); },
    [](sqlite3_file* f, int op, void* arg) { return real(f)->pMethods->xFileControl(real(f), op, arg); },
    [](sqlite3_file* f) { return real(f)->pMethods->xSectorSize(real(f)); },
    [](sqlite3_file* f) { return real(f)->pMethods->xDeviceCharacteristics(real(f)); },
    [](sqlite3_file* f, int region, int size, int extend, void volatile** map) {
        return real(f)->pMethods->xShmMap(real(f), region, size, extend, map);
    },
    [](sqlite3_file* f, int offset, int n, int flags) { return real(f)->pMethods->xShmLock(real(f), offset, n, flags); },
    [](sqlite3_file* f) { real(f)->pMethods->xShmBarrier(real(f)); },
    [](sqlite3_file* f, int deleteFlag) { return real(f)->pMethods->xShmUnmap(real(f), deleteFlag); },
    [](sqlite3_file* f, sqlite3_int64 at, int size, void** page) {
        return real(f)->pMethods->xFetch(real(f), at, size, page);
    },
    [](sqlite3_file* f, sqlite3_int64 at, void* page) { return real(f)->pMethods->xUnfetch(real(f), at, page); },
};

sqlite3_vfs* realLayer = nullptr;

int openFile(sqlite3_vfs*, sqlite3_filename name, sqlite3_file* file, int flags, int* outFlags)
{
    ObservedFile* opened = observed(file);
    opened->base.pMethods = nullptr;
    opened->log = (flags & SQLITE_OPEN_WAL) != 0;
    const int result = realLayer->xOpen(realLayer, name, opened->real(), flags, outFlags);
    if (opened->real()->pMethods)
        opened->base.pMethods = &observedMethods;
    return result;
}

// The default layer while it lives; the connections opened meanwhile must be closed before it goes.
class SyncsCounted {
public:
    SyncsCounted()
    {
        realLayer = sqlite3_vfs_find(nullptr);
        std::memcpy(&layer_, realLayer, sizeof layer_);
        layer_.zName = "p1-syncs-counted";
        layer_.szOsFile = int(sizeof(ObservedFile)) + realLayer->szOsFile;
        layer_.pNext = nullptr;
        layer_.xOpen = openFile;
        sqlite3_vfs_register(&layer_, 1);
    }
    ~SyncsCounted()
    {
        sqlite3_vfs_unregister(&layer_);
        sqlite3_vfs_register(realLayer, 1);
    }
    SyncsCounted(const SyncsCounted&) = delete;
    SyncsCounted& operator=(const SyncsCounted&) = delete;

private:
    sqlite3_vfs layer_{};
};

// A program that reads the target (a database browser left open) keeps the log's pages from being
// copied into the database file: the rows committed must reach the disk all the same, at once.
TEST(SqliteDurability, TheLogIsSyncedWhileAnotherProgramReadsTheDatabase)
{
    test::ensureQtApplication();
    const SyncsCounted counted;
    const test::TestTarget target = test::makeSqliteTarget();
    {
        auto connection = test::connectTo(target);
        auto browser = test::connectTo(target);
        QSqlQuery reading(browser->database());
        ASSERT_TRUE(reading.exec("BEGIN") && reading.exec("SELECT count(*) FROM ID_VALUES") && reading.next());
        TargetStatement insert(*connection, {"INSERT INTO ID_VALUES values ('PATIENTS', 12)"});
        insert.execute();
        const int syncsBefore = logSyncs;
        QElapsedTimer clock;
        clock.start();

        connection->makeDurable();

        EXPECT_LT(clock.elapsed(), 2000); // no wait for the reader
        EXPECT_GT(logSyncs, syncsBefore);
        ASSERT_TRUE(reading.exec("SELECT count(*) FROM ID_VALUES") && reading.next());
        EXPECT_EQ(reading.value(0).toInt(), 0); // the browser still reads what it began with
        reading.exec("ROLLBACK");
    }
}

} // namespace
} // namespace p1
