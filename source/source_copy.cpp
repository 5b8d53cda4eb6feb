#include "source/source_copy.h"

#include "common/date_time.h"
#include "common/errors.h"

#include <sqlite3.h>

#include <algorithm>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <optional>
#include <system_error>
#include <thread>
#include <vector>

namespace p1 {

namespace {

QString declaredType(SourceType type)
{
    switch (type) {
    case SourceType::Double: return QStringLiteral("REAL");
    case SourceType::Text:
    case SourceType::Memo:
    case SourceType::Other: return QStringLiteral("TEXT COLLATE JET");
    default: return QStringLiteral("INTEGER");
    }
}

// Jet compares texts without regard to case, accented capitals included (SQLite's NOCASE only
// folds ASCII letters).
int compareWithoutCase(void*, int leftBytes, const void* left, int rightBytes, const void* right)
{
    return QStringView(static_cast<const char16_t*>(left), leftBytes / 2)
        .compare(QStringView(static_cast<const char16_t*>(right), rightBytes / 2), Qt::CaseInsensitive);
}

// SQLite counts the memory it uses under a lock at every allocation, and a copy allocates at
// nearly every value read: about one sample in twenty of a whole import. The count must be
// turned off before the library starts, so before main() (later, the call changes nothing).
const int memoryCountOff = sqlite3_config(SQLITE_CONFIG_MEMSTATUS, 0);

using RowBunch = std::vector<QList<SourceValue>>;

// The rows of a table decoded from the file on a thread of their own while the copy stores the
// ones before them: decoding and storing take about as long as each other. The reader keeps a
// few bunches ahead; an error of the file reaches the copy where the rows end.
class RowsReadAhead {
public:
    RowsReadAhead(const SourceDatabase& database, const QString& table) : database_(database), table_(table)
    {
        reader_ = std::thread(&RowsReadAhead::read, this);
    }

    ~RowsReadAhead()
    {
        {
            const std::lock_guard lock(mutex_);
            stopped_ = true;
        }
        changed_.notify_all();
        reader_.join();
    }

    RowsReadAhead(const RowsReadAhead&) = delete;
    RowsReadAhead& operator=(const RowsReadAhead&) = delete;

    // Takes the next rows in the file's order; false once every row was read. Throws the
    // reader's error.
    bool next(RowBunch& bunch)
    {
        bunch.clear();
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [this] { return !bunches_.empty() || finished_; });
        if (bunches_.empty()) {
            if (failure_)
                std::rethrow_exception(failure_);
            return false;
        }
        bunch = std::move(bunches_.front());
        bunches_.pop_front();
        changed_.notify_all();
        return true;
    }

private:
    static constexpr std::size_t rowsPerBunch = 512;
    static constexpr std::size_t bunchesAhead = 8;
    struct Stopped {};

    void read()
    {
        try {
            RowBunch bunch;
            // Each row is handed over in a list of its own: a list shared with the decoder's
            // would be written again by this thread once the copy lets go of it, and a release
            // seen through Qt's relaxed reference count orders nothing between the two threads.
            database_.readRows(table_, [&](const QList<SourceValue>& row) {
                bunch.emplace_back(row.begin(), row.end());
                if (bunch.size() == rowsPerBunch)
                    handOver(std::exchange(bunch, {}));
            });
            if (!bunch.empty())
                handOver(std::move(bunch));
        } catch (const Stopped&) {
        } catch (...) {
            const std::lock_guard lock(mutex_);
            failure_ = std::current_exception();
        }
        {
            const std::lock_guard lock(mutex_);
            finished_ = true;
        }
        changed_.notify_all();
    }

    void handOver(RowBunch bunch)
    {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [this] { return stopped_ || bunches_.size() < bunchesAhead; });
        if (stopped_)
            throw Stopped{};
        bunches_.push_back(std::move(bunch));
        changed_.notify_all();
    }

    const SourceDatabase& database_;
    const QString table_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<RowBunch> bunches_;
    bool finished_ = false;
    bool stopped_ = false;
    std::exception_ptr failure_;
    std::thread reader_;
};

} // namespace

void StatementFinalizer::operator()(sqlite3_stmt* statement) const
{
    sqlite3_finalize(statement);
}

QString quotedIdentifier(const QString& name)
{
    return QLatin1Char('"') + QString(name).replace(QLatin1Char('"'), QLatin1String("\"\"")) + QLatin1Char('"');
}

int CopiedTable::columnIndex(const QString& name) const
{
    for (int i = 0; i < columns.size(); ++i)
        if (columns[i].name.compare(name, Qt::CaseInsensitive) == 0)
            return i;
    return -1;
}

namespace {

// The copies keep their texts in UTF-8, half the room of UTF-16 for the mostly Latin texts of a
// practice; Qt converts them, in and out, several times faster than SQLite would.
void bindText(sqlite3_stmt* statement, int index, const QString& text)
{
    const QByteArray utf8 = text.toUtf8();
    sqlite3_bind_text(statement, index, utf8.constData(), int(utf8.size()), SQLITE_TRANSIENT);
}

} // namespace

void bindSourceValue(sqlite3_stmt* statement, int index, const SourceValue& value)
{
    if (const auto* number = std::get_if<qint64>(&value))
        sqlite3_bind_int64(statement, index, *number);
    else if (const auto* real = std::get_if<double>(&value))
        sqlite3_bind_double(statement, index, *real);
    else if (const auto* flag = std::get_if<bool>(&value))
        sqlite3_bind_int(statement, index, *flag ? 1 : 0);
    else if (const auto* moment = std::get_if<QDateTime>(&value))
        sqlite3_bind_int64(statement, index, zeroDay().msecsTo(*moment));
    else if (const auto* text = std::get_if<QString>(&value))
        bindText(statement, index, *text);
    else
        sqlite3_bind_null(statement, index);
}

SourceValue columnSourceValue(sqlite3_stmt* statement, int index, SourceType type)
{
    if (sqlite3_column_type(statement, index) == SQLITE_NULL)
        return {};
    switch (type) {
    case SourceType::Boolean: return sqlite3_column_int(statement, index) != 0;
    case SourceType::Byte:
    case SourceType::Integer:
    case SourceType::Long: return qint64(sqlite3_column_int64(statement, index));
    case SourceType::Double: return sqlite3_column_double(statement, index);
    case SourceType::DateTime: return zeroDay().addMSecs(sqlite3_column_int64(statement, index));
    default: {
        const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(statement, index));
        return QString::fromUtf8(text, sqlite3_column_bytes(statement, index));
    }
    }
}

void DatabaseCloser::operator()(sqlite3* database) const
{
    sqlite3_close_v2(database);
}

void failOn(sqlite3* database, const QString& what)
{
    throw SourceError(QStringLiteral("%1 : %2").arg(what, QString::fromUtf8(sqlite3_errmsg(database))));
}

namespace {

void execute(sqlite3* database, const QString& sql, const QString& failure)
{
    if (sqlite3_exec(database, sql.toUtf8().constData(), nullptr, nullptr, nullptr) != SQLITE_OK)
        failOn(database, failure);
}

} // namespace

MemoryCopy::MemoryCopy(const SourceDatabase& database) : database_(database) {}

MemoryCopy::~MemoryCopy()
{
    if (!indexer_.joinable())
        return;
    {
        const std::lock_guard lock(indexesMutex_);
        indexesAhead_.clear();
        stopping_ = true;
        if (indexedAhead_)
            sqlite3_interrupt(indexedAhead_->database.get());
    }
    indexesChanged_.notify_all();
    indexer_.join();
}

DatabasePointer MemoryCopy::openDatabase(const char* path) const
{
    sqlite3* raw = nullptr;
    // One thread at a time uses a copy: its own locks would only cost.
    const int opened =
        sqlite3_open_v2(path, &raw, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX, nullptr);
    DatabasePointer database(raw);
    if (opened != SQLITE_OK
        || sqlite3_create_collation(raw, "JET", SQLITE_UTF16_ALIGNED, nullptr, compareWithoutCase) != SQLITE_OK)
        failOn(raw, QStringLiteral("Impossible de préparer la lecture de [%1]").arg(database_.path()));
    // The pages of a database in memory stay whatever the cache's size; the size bounds the sorts
    // made in memory (an index's keys), which would otherwise go through temporary files.
    sqlite3_exec(raw, "PRAGMA cache_size = -65536", nullptr, nullptr, nullptr);
    return database;
}

const CopiedTable& MemoryCopy::table(const QString& name)
{
    CopiedTable& found = copied(name);
    std::unique_lock lock(indexesMutex_);
    waitForIndexesAhead(found, lock);
    readBack(found);
    return found;
}

namespace {

// The whole of one database into another, which then holds exactly the same pages, indexes
// included.
bool copyDatabase(sqlite3* from, sqlite3* to)
{
    sqlite3_backup* backup = sqlite3_backup_init(to, "main", from, "main");
    if (!backup)
        return false;
    const int stepped = sqlite3_backup_step(backup, -1);
    return sqlite3_backup_finish(backup) == SQLITE_OK && stepped == SQLITE_DONE;
}

// Pages beyond these few leave the cache for the file as soon as they are written.
constexpr const char* writtenOutSettings = "PRAGMA journal_mode = OFF; PRAGMA cache_size = 16";

} // namespace

// Called and left with the lock held, on the indexes' thread, while nothing else uses the table.
// A copy that cannot be written out (no room for the file) stays in memory as it is: only the
// memory it takes depends on it.
void MemoryCopy::writeOut(CopiedTable& table, std::unique_lock<std::mutex>& lock)
{
    if (table.writtenOut || wantedSoon(table))
        return;
    lock.unlock();
    // An empty name: a temporary file of SQLite's own, gone when the database closes.
    DatabasePointer file = openDatabase("");
    const bool written = sqlite3_exec(file.get(), writtenOutSettings, nullptr, nullptr, nullptr) == SQLITE_OK
                         && copyDatabase(table.database.get(), file.get());
    lock.lock();
    if (!written)
        return;
    table.database.swap(file);
    table.writtenOut = true;
}

// On the thread that uses the table, nothing else using it. A copy that cannot be read back
// into memory is read where it is, its cache as large as a copy in memory's.
void MemoryCopy::readBack(CopiedTable& table) const
{
    if (!table.writtenOut)
        return;
    DatabasePointer memory = openDatabase();
    if (copyDatabase(table.database.get(), memory.get()))
        table.database.swap(memory);
    else
        sqlite3_exec(table.database.get(), "PRAGMA cache_size = -65536", nullptr, nullptr, nullptr);
    table.writtenOut = false;
}

// A table the UI thread waits for, or that a statement reads, would only be read back at once.
bool MemoryCopy::wantedSoon(const CopiedTable& table) const
{
    return awaited_ == &table || sqlite3_next_stmt(table.database.get(), nullptr) != nullptr
           || std::any_of(indexesAhead_.cbegin(), indexesAhead_.cend(),
                          [&](const IndexAhead& index) { return index.table == &table; });
}

StatementTable MemoryCopy::statementTable(const QString& name)
{
    const CopiedTable& copy = table(name);
    StatementTable found{copy.name, {}};
    for (const SourceColumn& column : copy.columns)
        found.columns.append(column.name);
    return found;
}

CopiedTable& MemoryCopy::copied(const QString& name)
{
    const QString key = name.toCaseFolded();
    const auto found = tables_.find(key);
    if (found != tables_.end())
        return found->second;

    CopiedTable table;
    table.columns = database_.columns(name);
    for (const QString& candidate : database_.userTables())
        if (candidate.compare(name, Qt::CaseInsensitive) == 0)
            table.name = candidate;
    table.quotedName = quotedIdentifier(table.name);
    table.database = openDatabase();
    QStringList definitions;
    for (const SourceColumn& column : table.columns)
        definitions.append(quotedIdentifier(column.name) + QLatin1Char(' ') + declaredType(column.type));
    // One transaction for the table and its rows. A copy that fails goes with its database, and
    // the reader's own message is what the operator sees.
    const QString failure = QStringLiteral("Erreur de la copie de travail de [%1]").arg(database_.path());
    execute(table.database.get(), QStringLiteral("BEGIN"), failure);
    execute(table.database.get(), QStringLiteral("CREATE TABLE %1 (%2)").arg(table.quotedName, definitions.join(", ")),
            failure);
    copyRows(table);
    execute(table.database.get(), QStringLiteral("COMMIT"), failure);
    return tables_.emplace(key, std::move(table)).first->second;
}

void MemoryCopy::copyRows(const CopiedTable& table)
{
    QStringList placeholders;
    for (int i = 1; i <= table.columns.size(); ++i)
        placeholders.append(QStringLiteral("?%1").arg(i));
    const QByteArray insert =
        QStringLiteral("INSERT INTO %1 VALUES (%2)").arg(table.quotedName, placeholders.join(",")).toUtf8();
    sqlite3* database = table.database.get();
    const QString failure = QStringLiteral("Erreur de la copie de travail de [%1]").arg(table.name);
    sqlite3_stmt* raw = nullptr;
    if (sqlite3_prepare_v2(database, insert.constData(), -1, &raw, nullptr) != SQLITE_OK)
        failOn(database, failure);
    const StatementPointer statement(raw);
    const auto store = [&](const QList<SourceValue>& row) {
        for (int i = 0; i < row.size(); ++i)
            bindSourceValue(raw, i + 1, row[i]);
        if (sqlite3_step(raw) != SQLITE_DONE)
            failOn(database, failure);
        sqlite3_reset(raw);
    };
    std::optional<RowsReadAhead> ahead;
    try {
        ahead.emplace(database_, table.name);
    } catch (const std::system_error&) {
        // Without a thread to spare, the rows are stored as they are read.
        database_.readRows(table.name, store);
        return;
    }
    RowBunch bunch;
    while (ahead->next(bunch))
        for (const QList<SourceValue>& row : bunch)
            store(row);
}

namespace {

// An index on more columns than asked, the asked ones first, finds and orders rows as well.
bool indexBeginsWith(const CopiedTable& table, const QString& key)
{
    const QString prefix = key + QLatin1Char('\n');
    return std::any_of(table.indexes.cbegin(), table.indexes.cend(),
                       [&](const QString& index) { return index.startsWith(prefix); });
}

} // namespace

void MemoryCopy::ensureIndex(const QString& tableName, const QStringList& columns)
{
    CopiedTable& table = tables_.at(tableName.toCaseFolded());
    std::unique_lock lock(indexesMutex_);
    waitForIndexesAhead(table, lock);
    readBack(table);
    makeIndex(table, columns, lock);
}

// Called and left with the lock held; the index is made without it, while nothing else uses the
// table: the indexes made ahead are made one at a time, and the other calls wait for them.
void MemoryCopy::makeIndex(CopiedTable& table, const QStringList& columns, std::unique_lock<std::mutex>& lock)
{
    const QString key = columns.join(QLatin1Char('\n')).toCaseFolded();
    if (table.indexes.contains(key) || indexBeginsWith(table, key))
        return;
    QStringList quoted;
    for (const QString& column : columns)
        quoted.append(quotedIdentifier(column));
    const QString statement = QStringLiteral("CREATE INDEX p1_index_%1 ON %2 (%3)")
                                  .arg(table.indexes.size() + 1)
                                  .arg(table.quotedName, quoted.join(QStringLiteral(", ")));
    lock.unlock();
    try {
        execute(table.database.get(), statement,
                QStringLiteral("Erreur de la copie de travail de [%1]").arg(database_.path()));
    } catch (...) {
        lock.lock();
        throw;
    }
    lock.lock();
    table.indexes.insert(key);
}

bool MemoryCopy::indexedAhead(const CopiedTable& table) const
{
    return indexedAhead_ == &table || std::any_of(indexesAhead_.cbegin(), indexesAhead_.cend(),
                                                  [&](const IndexAhead& index) { return index.table == &table; });
}

void MemoryCopy::waitForIndexesAhead(const CopiedTable& table, std::unique_lock<std::mutex>& lock)
{
    awaited_ = &table;
    indexesChanged_.wait(lock, [&] { return !indexedAhead(table); });
    awaited_ = nullptr;
}

void MemoryCopy::makeIndexesAhead(const QString& tableName, const QList<QStringList>& indexes)
{
    CopiedTable& table = copied(tableName);
    if (!indexer_.joinable()) {
        try {
            indexer_ = std::thread(&MemoryCopy::makeIndexesAheadInTurn, this);
        } catch (const std::system_error&) {
            return; // each is made when a statement wants it
        }
    }
    {
        const std::lock_guard lock(indexesMutex_);
        // A table already given was not read then, and nothing reads it until its indexes are made.
        if (!indexedAhead(table) && sqlite3_next_stmt(table.database.get(), nullptr) != nullptr)
            return;
        for (const QStringList& columns : indexes)
            indexesAhead_.push_back({&table, columns});
    }
    indexesChanged_.notify_all();
}

// An index that cannot be made here is made again, with its error, when a statement wants it.
void MemoryCopy::makeIndexesAheadInTurn()
{
    std::unique_lock lock(indexesMutex_);
    for (;;) {
        indexesChanged_.wait(lock, [this] { return stopping_ || !indexesAhead_.empty(); });
        if (stopping_)
            return;
        const IndexAhead next = std::move(indexesAhead_.front());
        indexesAhead_.pop_front();
        indexedAhead_ = next.table;
        try {
            readBack(*next.table);
            makeIndex(*next.table, next.columns, lock);
        } catch (const std::exception&) {
        }
        writeOut(*next.table, lock);
        indexedAhead_ = nullptr;
        indexesChanged_.notify_all();
    }
}

void MemoryCopy::release(const QString& name)
{
    const auto copied = tables_.find(name.toCaseFolded());
    if (copied == tables_.end())
        return;
    {
        std::unique_lock lock(indexesMutex_);
        waitForIndexesAhead(copied->second, lock);
    }
    if (sqlite3_next_stmt(copied->second.database.get(), nullptr) == nullptr)
        tables_.erase(copied);
}

bool MemoryCopy::writtenOut(const QString& name)
{
    const std::lock_guard lock(indexesMutex_);
    const auto copied = tables_.find(name.toCaseFolded());
    return copied != tables_.end() && copied->second.writtenOut;
}

QList<QStringList> indexesFor(const CopyStatement& statement)
{
    if (statement.orderColumns.isEmpty()) {
        QList<QStringList> indexes;
        for (const QString& column : statement.filterColumns)
            indexes.append({column});
        return indexes;
    }
    QStringList columns = statement.filterColumns;
    for (const QString& column : statement.orderColumns)
        if (!columns.contains(column))
            columns.append(column);
    return {columns};
}

} // namespace p1
