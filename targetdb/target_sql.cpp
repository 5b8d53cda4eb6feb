#include "targetdb/target_sql.h"

#include "common/connection_strings.h"
#include "common/errors.h"
#include "targetdb/rows_ahead_batch.h"
#include "targetdb/target_values.h"

#include <QAtomicInteger>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QHash>
#include <QMap>
#include <QSqlQuery>
#include <QStringList>

#include <utility>

namespace p1 {

namespace {

// A group older than this is committed at the next row boundary: a crash of the program loses at
// most about a second of rows, which the next run's purge clears anyway.
constexpr qint64 defaultGroupMilliseconds = 1000;
const QString groupSavepoint = QStringLiteral("p1_group");
const QString statementSavepoint = QStringLiteral("p1_statement");
// Moved past the statements run since it was set, in one request.
const QString movedStatementSavepoint = QStringLiteral("RELEASE SAVEPOINT %1; SAVEPOINT %1").arg(statementSavepoint);
const QString lostGroupText = QStringLiteral("La connexion à la base Tessaris a été perdue : "
                                             "les dernières lignes importées n'ont pas été enregistrées.");

// A statement that changed rows, as it ran: its text and its values in the order of its
// placeholders.
struct KeptStatement {
    QString text;
    QVariantList values;
};

QString uniqueConnectionName()
{
    static QAtomicInteger<quint64> counter;
    return QStringLiteral("p1target-%1").arg(++counter);
}

QString keyOf(const QString& segment)
{
    return segment.section('=', 0, 0).trimmed().toLower();
}

// The password is the last item the system writes and may hold any character, ";" included:
// it runs to the closing ";" unless another known key follows.
QString passwordValue(const QString& rest)
{
    static const QStringList otherKeys = {"provider", "integrated security", "persist security info",
                                          "data source", "initial catalog", "user id"};
    qsizetype end = rest.endsWith(';') ? rest.size() - 1 : rest.size();
    for (qsizetype at = rest.indexOf(';'); at >= 0 && at < end; at = rest.indexOf(';', at + 1)) {
        const QString segment = rest.mid(at + 1).section(';', 0, 0);
        if (segment.contains('=') && otherKeys.contains(keyOf(segment))) {
            end = at;
            break;
        }
    }
    return rest.left(end);
}

} // namespace

CommitMode defaultCommitMode()
{
    return qEnvironmentVariable("P1IMPORT_COMMIT_EACH_ROW") == QStringLiteral("1") ? CommitMode::EachRow
                                                                                : CommitMode::Grouped;
}

ConnectionStringParts parseConnectionString(const QString& connectionString)
{
    ConnectionStringParts parts;
    qsizetype at = 0;
    while (at < connectionString.size()) {
        const qsizetype equals = connectionString.indexOf('=', at);
        if (equals < 0)
            break;
        const QString key = keyOf(connectionString.mid(at, equals - at));
        QString value;
        qsizetype end = 0;
        if (const std::optional<QuotedValue> quoted = readQuotedValue(connectionString, equals + 1)) {
            value = quoted->text;
            end = connectionString.indexOf(';', quoted->end);
        } else if (key == "password") {
            value = passwordValue(connectionString.mid(equals + 1));
            end = equals + 1 + value.size();
        } else {
            end = connectionString.indexOf(';', equals + 1);
            value = connectionString.mid(equals + 1, end < 0 ? -1 : end - equals - 1).trimmed();
        }
        if (key == "password")
            parts.password = value;
        else if (key == "data source")
            parts.dataSource = value;
        else if (key == "initial catalog")
            parts.initialCatalog = value;
        else if (key == "user id")
            parts.userId = value;
        if (end < 0)
            break;
        at = end + 1;
    }
    return parts;
}

void createSqliteDatabase(const QString& path)
{
    if (QFileInfo::exists(path))
        throw TargetError(QStringLiteral("La base de données [%1] existe déjà.").arg(path));
    const QString connectionName = uniqueConnectionName();
    QString failure;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), connectionName);
        db.setDatabaseName(path);
        // An empty file is no database yet: choosing the log's mode writes the header.
        if (!db.open())
            failure = db.lastError().text();
        else if (QSqlQuery header(db); !header.exec(QStringLiteral("PRAGMA journal_mode=WAL")))
            failure = header.lastError().text();
        db.close();
    }
    QSqlDatabase::removeDatabase(connectionName);
    if (!failure.isEmpty()) {
        // A file cut short by a full disk is no database: it would block the next attempt.
        for (const QString& file : {path, path + "-wal", path + "-shm"})
            QFile::remove(file);
        throw TargetError(QStringLiteral("Impossible de créer la base de données [%1] : %2").arg(path, failure));
    }
}

struct TargetConnection::Impl {
    TargetEngine engine;
    std::shared_ptr<const TargetEngineUnit> unit;
    QString connectionString;
    QString baseFolder;
    // Every opening gets a connection name of its own, so that a dataset can tell that the
    // statements it prepared belong to an earlier opening. All are removed at the end.
    QStringList connectionNames;
    QSqlDatabase database;
    std::vector<std::weak_ptr<QSqlQuery>> preparedQueries;
    // Open as far as the program knows: a connection found closed meanwhile was lost.
    bool meantOpen = false;
    bool reconnectionSpent = false;
    CommitMode commitMode = CommitMode::EachRow;
    bool groupOpen = false;
    // A group was open when its connection closed: the engine rolled it back.
    bool groupDropped = false;
    QElapsedTimer groupClock;
    qint64 groupMilliseconds = defaultGroupMilliseconds;
    bool columnSizesWatched = false;
    QList<OversizedText> oversizedTexts;
    // What the open journaling group changed, and whether it was run again since it began.
    QList<KeptStatement> journal;
    bool replayed = false;
    bool groupSavepointSet = false;
    // Statements guarded by a savepoint each (setStatementsGuarded): none set yet in the open
    // transaction, one set after the last statement that changed rows (where a refusal goes back
    // to), or one set before the last query that returned rows, to be moved past it before the
    // next statement; and whether the last command that moved it or went back to it still awaits
    // its answer.
    enum class Guard { None, Set, Passed };
    bool guardWanted = false;
    Guard guard = Guard::None;
    bool guardCommandAwaited = false;
    bool rowsAheadWanted = false;
    std::unique_ptr<RowsAheadBatch> batch; // none when each statement waits for its answer
    std::optional<FileChanges> fileChanges;
    bool logFoundAtOpening = false; // SQLite
    // The open group sent rows ahead, or kept statements for its commit: on an engine where a
    // refusal dooms the transaction, a statement refused meanwhile dooms them.
    bool aheadInGroup = false;
    QMap<QString, KeptStatement> keptForCommit; // by key, in key order
    // The same statements run at once, while rows do not go ahead (a counter kept row after row),
    // prepared once per session.
    QHash<QString, std::shared_ptr<QSqlQuery>> writesPrepared;
    QString writesPreparedOn;
    bool keptRefused = false;                   // one of them is refused by a test's fault
    std::optional<QSqlError> refusalAhead;      // a test's fault among the rows sent ahead
    // The counted statements, and their number at the last commit: a group taken back counts
    // its statements again. A test's fault hits the statement numbered faultAt.
    qint64 statementsCounted = 0;
    qint64 statementsAtCommit = 0;
    std::optional<qint64> faultAt;
    StatementFault faultKind = StatementFault::Refused;
    QSet<QString>* recordedTexts = nullptr;

    void record(const QString& text) const
    {
        if (recordedTexts)
            recordedTexts->insert(text);
    }

    // An engine that does not undo a failed statement alone keeps what its group ran, to run it
    // again.
    bool journaling() const { return groupOpen && unit->failedStatementUndo() != FailedStatementUndo::Alone; }

    QString password() const { return parseConnectionString(connectionString).password; }
    QSqlDatabase prepared(const QString& connectionName) const
    {
        return unit->addDatabase(connectionName, parseConnectionString(connectionString), baseFolder);
    }
    FailureCode failureKindOf(const QSqlError& error) const
    {
        const QString code = error.nativeErrorCode().trimmed();
        return code.isEmpty() ? FailureCode::Unknown : unit->failureKind(code);
    }
    QString databaseFile() const { return unit->databaseFile(parseConnectionString(connectionString), baseFolder); }
    void useUnit(std::shared_ptr<const TargetEngineUnit> chosen)
    {
        unit = std::move(chosen);
        batch = unit->rowsAheadBatch();
    }
};

TargetConnection::TargetConnection(TargetEngine engine) : impl_(std::make_unique<Impl>())
{
    impl_->engine = engine;
    impl_->useUnit(makeEngineUnit(engine));
}

TargetConnection::~TargetConnection()
{
    close();
    impl_->database = QSqlDatabase();
    for (const QString& name : std::as_const(impl_->connectionNames))
        QSqlDatabase::removeDatabase(name);
}

TargetEngine TargetConnection::engine() const
{
    return impl_->engine;
}

const TargetEngineUnit& TargetConnection::unit() const
{
    return *impl_->unit;
}

void TargetConnection::setConnectionString(const QString& connectionString)
{
    close();
    impl_->connectionString = connectionString;
}

void TargetConnection::setBaseFolder(const QString& folder)
{
    close();
    impl_->baseFolder = folder;
}

void TargetConnection::setOdbcDriver(const QString& driver)
{
    close();
    impl_->useUnit(makeEngineUnit(impl_->engine, driver));
}

void TargetConnection::open()
{
    close();
    const QString problem = impl_->unit->openingProblem(parseConnectionString(impl_->connectionString),
                                                        impl_->baseFolder);
    if (!problem.isEmpty())
        throw TargetError(withoutPassword(problem, impl_->password()));
    impl_->logFoundAtOpening = impl_->unit->logLeftBeside(impl_->databaseFile());
    impl_->connectionNames.append(uniqueConnectionName());
    impl_->database = impl_->prepared(impl_->connectionNames.last());
    if (!impl_->database.open())
        throw TargetUnavailable(engineMessage(impl_->database.lastError()));
    try {
        proveUsable();
    } catch (const TargetError&) {
        close();
        throw;
    }
    impl_->meantOpen = true;
    impl_->unit->tuneSession(impl_->database);
    if (impl_->fileChanges)
        impl_->unit->letFilesChange(impl_->database, *impl_->fileChanges, impl_->logFoundAtOpening);
}

QSqlDatabase TargetConnection::openSideSession()
{
    impl_->connectionNames.append(uniqueConnectionName());
    QSqlDatabase side = impl_->prepared(impl_->connectionNames.last());
    if (!side.open())
        throw TargetError(engineMessage(side.lastError()));
    impl_->unit->tuneSideSession(side);
    return side;
}

QString TargetConnection::sqliteDatabaseFile() const
{
    return impl_->databaseFile();
}

void TargetConnection::proveUsable()
{
    QSqlQuery probe(impl_->database);
    if (!probe.exec(impl_->unit->probeStatement()))
        throwFailure(probe);
}

bool TargetConnection::answers()
{
    QSqlQuery probe(impl_->database);
    return probe.exec(impl_->unit->probeStatement());
}

void TargetConnection::throwFailure(const QSqlError& error)
{
    const QString message = engineMessage(error);
    const FailureCode kind = impl_->failureKindOf(error);
    if (kind == FailureCode::Row || (kind == FailureCode::Unknown && answers()))
        throw TargetError(message);
    forgetGroup();
    dropSession();
    throw TargetUnavailable(message);
}

void TargetConnection::throwFailure(const QSqlQuery& failed)
{
    throwFailure(impl_->unit->errorOf(failed));
}

void TargetConnection::makeDurable()
{
    if (impl_->commitMode == CommitMode::RolledBack)
        return;
    if (!commitGroup())
        throw TargetUnavailable(lostGroupText);
    ensureOpen();
    if (const std::optional<QSqlError> failure = impl_->unit->makeCommittedDurable(impl_->database))
        throwFailure(*failure);
}

void TargetConnection::recordStatementTexts(QSet<QString>* texts)
{
    impl_->recordedTexts = texts;
}

void TargetConnection::failStatement(std::optional<qint64> ordinal, StatementFault kind)
{
    impl_->faultAt = ordinal;
    impl_->faultKind = kind;
    impl_->statementsCounted = 0;
    impl_->statementsAtCommit = 0;
}

void TargetConnection::setGroupMilliseconds(qint64 milliseconds)
{
    impl_->groupMilliseconds = milliseconds;
}

qint64 TargetConnection::statementsCounted() const
{
    return impl_->statementsCounted;
}

std::optional<StatementFault> TargetConnection::countStatement()
{
    ++impl_->statementsCounted;
    if (impl_->faultAt && *impl_->faultAt == impl_->statementsCounted)
        return impl_->faultKind;
    return std::nullopt;
}

// The error a test's fault gives, with a code the engine's own refusals or failures bear.
QSqlError TargetConnection::faultError(StatementFault kind) const
{
    const bool target = kind == StatementFault::TargetFailed;
    const QString code = impl_->unit->faultCode(kind);
    const QString text = target ? QStringLiteral("Panne simulée de la base Tessaris à l'instruction n°%1")
                                : QStringLiteral("Refus simulé de l'instruction n°%1");
    return QSqlError(QString(), text.arg(impl_->statementsCounted), QSqlError::StatementError, code);
}

void TargetConnection::close()
{
    impl_->meantOpen = false;
    forgetGroup();
    dropSession();
}

// The statements go first: the SQLite ODBC driver refuses to close a session that still has
// statements prepared, and would keep the database open.
void TargetConnection::dropSession()
{
    releasePreparedQueries();
    if (impl_->database.isOpen())
        impl_->database.close();
}

std::shared_ptr<QSqlQuery> TargetConnection::preparedQuery()
{
    auto query = std::make_shared<QSqlQuery>(database());
    std::erase_if(impl_->preparedQueries, [](const std::weak_ptr<QSqlQuery>& kept) { return kept.expired(); });
    impl_->preparedQueries.push_back(query);
    return query;
}

// Their holders find them empty and prepare them again on the next opening, which has a name of
// its own.
void TargetConnection::releasePreparedQueries()
{
    for (const std::weak_ptr<QSqlQuery>& kept : std::as_const(impl_->preparedQueries))
        if (const std::shared_ptr<QSqlQuery> query = kept.lock())
            *query = QSqlQuery();
    impl_->preparedQueries.clear();
}

bool TargetConnection::isOpen() const
{
    return impl_->database.isOpen();
}

// A lost connection is opened again once per run step: a server that keeps dropping it, or no
// longer answers, would otherwise cost a connection timeout at every statement.
void TargetConnection::ensureOpen()
{
    if (isOpen())
        return;
    // The rows of a group the engine dropped with the connection are gone: going on after a
    // reconnection would leave them counted as stored.
    forgetGroup();
    if (impl_->groupDropped)
        throw TargetUnavailable(lostGroupText);
    if (impl_->meantOpen) {
        if (impl_->reconnectionSpent)
            throw TargetUnavailable(
                QStringLiteral("La connexion à la base Tessaris a été perdue une deuxième fois au cours de la même étape."));
        impl_->reconnectionSpent = true;
    }
    open();
}

void TargetConnection::startRunStep()
{
    impl_->reconnectionSpent = false;
}

QStringList TargetConnection::tableAndViewNames()
{
    QSqlDatabase db = database();
    QStringList names = db.tables(QSql::Tables) + db.tables(QSql::Views);
    // The engine's listing reads as empty when it fails.
    proveUsable();
    QStringList userNames;
    for (const QString& name : names) {
        if (!impl_->unit->isEngineTable(name))
            userNames.append(name);
    }
    return userNames;
}

QSqlDatabase TargetConnection::database()
{
    ensureOpen();
    settleRowsAhead();
    return impl_->database;
}

void TargetConnection::watchColumnSizes(bool watched)
{
    impl_->columnSizesWatched = watched;
    impl_->oversizedTexts.clear();
}

bool TargetConnection::columnSizesWatched() const
{
    return impl_->columnSizesWatched;
}

void TargetConnection::noteOversizedText(OversizedText text)
{
    impl_->oversizedTexts.append(std::move(text));
}

QList<OversizedText> TargetConnection::takeOversizedTexts()
{
    return std::exchange(impl_->oversizedTexts, {});
}

void TargetConnection::allowFileChanges(FileChanges changes)
{
    impl_->fileChanges = changes;
    if (isOpen())
        impl_->unit->letFilesChange(impl_->database, changes, impl_->logFoundAtOpening);
}

void TargetConnection::setCommitMode(CommitMode mode)
{
    endGroup();
    impl_->commitMode = mode;
}

CommitMode TargetConnection::commitMode() const
{
    return impl_->commitMode;
}

bool TargetConnection::commitGroup()
{
    const bool kept = !impl_->groupDropped;
    impl_->groupDropped = false;
    if (impl_->commitMode == CommitMode::RolledBack) {
        impl_->groupClock.start();
        markRolledBackGroup();
        return kept;
    }
    if (impl_->commitMode != CommitMode::Grouped || !impl_->groupOpen) {
        impl_->statementsAtCommit = impl_->statementsCounted;
        return kept;
    }
    settleRowsAhead();
    writeKeptStatements();
    impl_->groupOpen = false;
    impl_->aheadInGroup = false;
    impl_->journal.clear();
    if (!impl_->database.commit()) {
        const QSqlError error = impl_->unit->errorOf(impl_->database);
        // A commit that failed leaves no transaction behind on any engine but SQLite.
        impl_->database.rollback();
        throwFailure(error);
    }
    impl_->statementsAtCommit = impl_->statementsCounted;
    return kept;
}

// The statements kept for the commit, each as the last one of its key left it; one refused takes
// the group back, to be run again row by row, where each runs in its place.
void TargetConnection::writeKeptStatements()
{
    const QMap<QString, KeptStatement> kept = std::exchange(impl_->keptForCommit, {});
    if (std::exchange(impl_->keptRefused, false))
        takeBackRowsAhead();
    for (const KeptStatement& statement : kept) {
        QSqlQuery query(impl_->database);
        impl_->record(statement.text);
        bool done = query.prepare(statement.text);
        for (qsizetype place = 0; done && place < statement.values.size(); ++place)
            query.bindValue(int(place), statement.values.at(place));
        if (done && query.exec())
            continue;
        const QSqlError error = impl_->unit->errorOf(query);
        if (impl_->failureKindOf(error) == FailureCode::Target)
            throwFailure(error);
        takeBackRowsAhead();
    }
}

bool TargetConnection::groupDue() const
{
    return impl_->commitMode != CommitMode::EachRow && impl_->groupOpen
           && (impl_->replayed || impl_->groupClock.elapsed() >= impl_->groupMilliseconds);
}

void TargetConnection::endGroup()
{
    const bool wasOpen = impl_->groupOpen;
    impl_->groupOpen = false;
    impl_->groupDropped = false;
    impl_->journal.clear();
    forgetWorkAhead();
    if (impl_->batch)
        impl_->batch->discard();
    if (!wasOpen || !impl_->database.isOpen())
        return;
    impl_->database.rollback();
    if (impl_->commitMode == CommitMode::RolledBack)
        impl_->unit->holdChangesInMemory(impl_->database, false);
}

void TargetConnection::runStatement(QSqlQuery& query, const std::function<bool()>& attempt, Counting counting)
{
    settleRowsAhead();
    openGroupWhenWanted();
    guardStatement();
    if (counting == Counting::Counted)
        if (const std::optional<StatementFault> fault = countStatement())
            statementFailed(faultError(*fault));
    const bool done = attempt();
    impl_->record(query.lastQuery());
    if (done) {
        keepForReplay(query);
        passGuard(query);
        return;
    }
    statementFailed(impl_->unit->errorOf(query));
}

void TargetConnection::statementFailed(const QSqlError& error)
{
    const bool refused = impl_->failureKindOf(error) == FailureCode::Row;
    if (refused && undoneToGuard())
        throwFailure(error);
    // The statements sent ahead are in the transaction the refusal doomed, and only a run of the
    // group again gives each of them its own outcome.
    if (impl_->aheadInGroup && impl_->unit->refusalDoomsRowsAhead() && refused)
        takeBackRowsAhead();
    undoStatement(error);
    throwFailure(error);
}

void TargetConnection::setStatementsGuarded(bool wanted)
{
    impl_->guardWanted = wanted;
}

bool TargetConnection::guardsStatements() const
{
    return impl_->guardWanted && impl_->commitMode == CommitMode::Grouped && impl_->groupOpen
           && impl_->unit->failedStatementUndo() == FailedStatementUndo::Replayed;
}

// The savepoint moves past the statements stored since it was set, in the same round trip.
void TargetConnection::guardStatement()
{
    if (!guardsStatements() || impl_->guard == Impl::Guard::Set)
        return;
    const QString mark = QStringLiteral("SAVEPOINT ") + statementSavepoint;
    QSqlQuery savepoint(impl_->database);
    if (!savepoint.exec(impl_->guard == Impl::Guard::Passed ? movedStatementSavepoint : mark))
        loseGroup(impl_->unit->errorOf(savepoint));
    impl_->guard = Impl::Guard::Set;
}

// Past a statement that changed rows, the savepoint moves at once, without waiting. A query that
// returned rows may still be read by its holder (the driver reads some row by row): the
// savepoint moves before the next statement, as the session is free by then.
void TargetConnection::passGuard(const QSqlQuery& query)
{
    if (impl_->guard != Impl::Guard::Set)
        return;
    if (query.isSelect())
        impl_->guard = Impl::Guard::Passed;
    else
        sendGuardCommand(movedStatementSavepoint);
}

// A refused statement that a savepoint guards is undone back to it; the savepoint stays, just
// after the last statement stored.
bool TargetConnection::undoneToGuard()
{
    if (impl_->guard != Impl::Guard::Set || !impl_->groupOpen)
        return false;
    sendGuardCommand(QStringLiteral("ROLLBACK TO SAVEPOINT ") + statementSavepoint);
    return true;
}

// Without waiting for its answer where the engine's batch can send it so: the server runs it
// while the program prepares the next row, and the next request reads the answer first
// (settleRowsAhead). A failure there leaves the group without a savepoint to stand on.
void TargetConnection::sendGuardCommand(const QString& command)
{
    if (impl_->batch) {
        impl_->batch->attach(impl_->database);
        if (impl_->batch->isAttached() && impl_->batch->sendWithoutWaiting(command.toUtf8())) {
            impl_->guardCommandAwaited = true;
            return;
        }
    }
    QSqlQuery guard(impl_->database);
    if (!guard.exec(command))
        loseGroup(impl_->unit->errorOf(guard));
}

void TargetConnection::writeBeforeCommit(const QString& key, const QString& statement, const QVariantList& values,
                                         Counting counting)
{
    if (!sendsRowsAhead()) {
        QSqlQuery& query = preparedWrite(statement);
        for (qsizetype place = 0; place < values.size(); ++place)
            query.bindValue(int(place), values.at(place));
        runStatement(query, [&] { return query.exec(); }, counting);
        return;
    }
    ensureOpen();
    openGroupWhenWanted();
    impl_->aheadInGroup = true;
    if (counting == Counting::Counted) {
        if (const std::optional<StatementFault> fault = countStatement()) {
            if (*fault == StatementFault::TargetFailed)
                throwFailure(faultError(*fault));
            impl_->keptRefused = true;
        }
    }
    impl_->keptForCommit.insert(key, {statement, values});
}

QSqlQuery& TargetConnection::preparedWrite(const QString& statement)
{
    const QString session = database().connectionName();
    if (impl_->writesPreparedOn != session) {
        impl_->writesPrepared.clear();
        impl_->writesPreparedOn = session;
    }
    // A query the connection let go of when it closed is empty.
    auto found = impl_->writesPrepared.constFind(statement);
    if (found == impl_->writesPrepared.cend() || (*found)->lastQuery().isEmpty()) {
        std::shared_ptr<QSqlQuery> query = preparedQuery();
        runStatement(*query, [&] { return query->prepare(statement); }, Counting::Uncounted);
        found = impl_->writesPrepared.insert(statement, query);
    }
    return **found;
}

void TargetConnection::setRowsAhead(bool wanted)
{
    impl_->rowsAheadWanted = wanted;
}

bool TargetConnection::rowsAheadPossible() const
{
    return impl_->batch && impl_->commitMode == CommitMode::Grouped;
}

bool TargetConnection::sendsRowsAhead() const
{
    return impl_->rowsAheadWanted && rowsAheadPossible();
}

void TargetConnection::sendAhead(const QString& statement, const QVariantList& values, bool changesARow)
{
    ensureOpen();
    openGroupWhenWanted();
    impl_->batch->attach(impl_->database);
    if (!impl_->batch->isAttached())
        throw TargetError(QStringLiteral("La base cible ne peut pas recevoir de lignes groupées."));
    impl_->aheadInGroup = true;
    if (const std::optional<StatementFault> fault = countStatement()) {
        if (*fault == StatementFault::TargetFailed)
            throwFailure(faultError(*fault));
        // Known, as an engine's refusal of a row ahead is, once the rows ahead are settled.
        if (!impl_->refusalAhead)
            impl_->refusalAhead = faultError(*fault);
        return;
    }
    impl_->record(statement);
    impl_->batch->add(statement, values, changesARow);
}

// A refusal leaves the transaction unusable: the group is rolled back before anything else is
// asked of the session. A target failure ends the run as any statement's would.
void TargetConnection::settleRowsAhead()
{
    if (!impl_->batch || !impl_->batch->isAttached())
        return;
    std::optional<QSqlError> refusal = impl_->batch->settle();
    if (std::exchange(impl_->guardCommandAwaited, false) && refusal)
        loseGroup(*refusal);
    std::optional<QSqlError> faulted = std::exchange(impl_->refusalAhead, std::nullopt);
    if (!refusal)
        refusal = std::move(faulted);
    if (!refusal)
        return;
    const FailureCode kind = impl_->failureKindOf(*refusal);
    if (kind == FailureCode::Target)
        throwFailure(*refusal);
    impl_->database.rollback();
    impl_->groupOpen = false;
    if (kind == FailureCode::Unknown && !answers())
        throwFailure(*refusal);
    takeBackRowsAhead();
}

void TargetConnection::takeBackRowsAhead()
{
    if (impl_->batch)
        impl_->batch->discard();
    if (impl_->groupOpen && impl_->database.isOpen())
        impl_->database.rollback();
    impl_->groupOpen = false;
    impl_->journal.clear();
    forgetWorkAhead();
    impl_->statementsCounted = impl_->statementsAtCommit;
    throw RowsAheadRefused();
}

void TargetConnection::forgetWorkAhead()
{
    impl_->guardCommandAwaited = false;
    impl_->aheadInGroup = false;
    impl_->keptForCommit.clear();
    impl_->keptRefused = false;
    impl_->refusalAhead.reset();
}

// A rolled-back run must leave the target's files as they were until its rollback.
void TargetConnection::openGroupWhenWanted()
{
    if (impl_->commitMode == CommitMode::EachRow || impl_->groupOpen)
        return;
    if (impl_->commitMode == CommitMode::RolledBack)
        impl_->unit->holdChangesInMemory(impl_->database, true);
    if (!impl_->database.transaction())
        throwFailure(impl_->unit->errorOf(impl_->database));
    impl_->groupOpen = true;
    impl_->replayed = false;
    impl_->groupSavepointSet = false;
    impl_->guard = Impl::Guard::None;
    impl_->groupClock.start();
    markRolledBackGroup();
}

// A rolled-back run is never committed: where its groups are savepoints, a failed statement goes
// back only to the last one.
void TargetConnection::markRolledBackGroup()
{
    if (!impl_->journaling() || !impl_->unit->rolledBackGroupsAreSavepoints()
        || impl_->commitMode != CommitMode::RolledBack)
        return;
    QSqlQuery savepoint(impl_->database);
    const QString mark = QStringLiteral("SAVEPOINT ") + groupSavepoint;
    if (!savepoint.exec(impl_->groupSavepointSet ? QStringLiteral("RELEASE SAVEPOINT %1; ").arg(groupSavepoint) + mark
                                                 : mark))
        throwFailure(savepoint);
    impl_->groupSavepointSet = true;
    impl_->journal.clear();
    impl_->replayed = false;
}

// The statements of a journaling group that changed rows, to be run again after a failure.
void TargetConnection::keepForReplay(const QSqlQuery& query)
{
    if (impl_->journaling() && query.isActive() && !query.isSelect())
        impl_->journal.append({query.lastQuery(), query.boundValues()});
}

void TargetConnection::undoStatement(const QSqlError& failure)
{
    if (!impl_->groupOpen || impl_->failureKindOf(failure) == FailureCode::Target)
        return;
    if (impl_->unit->failedStatementUndo() == FailedStatementUndo::ByTransactionCount) {
        undoByTransactionCount();
        return;
    }
    if (!impl_->journaling())
        return;
    QSqlQuery statement(impl_->database);
    const bool back = impl_->commitMode == CommitMode::RolledBack
                          ? statement.exec(QStringLiteral("ROLLBACK TO SAVEPOINT ") + groupSavepoint)
                          : impl_->database.rollback() && impl_->database.transaction();
    if (!back)
        loseGroup(impl_->database.lastError().isValid() ? impl_->unit->errorOf(impl_->database)
                                                        : impl_->unit->errorOf(statement));
    impl_->guard = Impl::Guard::None;
    runKeptStatementsAgain();
}

// The errors that end the transaction undo the whole group: the driver's next statement begins a
// new transaction, in which the group's statements before the failed one run again, as after a
// doomed transaction. A check's one transaction cannot be rebuilt so: it ends.
void TargetConnection::undoByTransactionCount()
{
    QSqlQuery count(impl_->database);
    if (!count.exec(impl_->unit->transactionCountStatement()) || !count.next())
        loseGroup(impl_->unit->errorOf(count));
    if (count.value(0).toInt() > 0)
        return;
    if (impl_->commitMode == CommitMode::RolledBack)
        loseGroup(QSqlError());
    runKeptStatementsAgain();
}

void TargetConnection::runKeptStatementsAgain()
{
    QSqlQuery statement(impl_->database);
    for (const KeptStatement& kept : std::as_const(impl_->journal)) {
        const bool done = kept.values.isEmpty() ? statement.exec(kept.text) : statement.prepare(kept.text);
        for (qsizetype place = 0; place < kept.values.size(); ++place)
            statement.bindValue(int(place), kept.values.at(place));
        if (!done || (!kept.values.isEmpty() && !statement.exec()))
            loseGroup(impl_->unit->errorOf(statement));
    }
    impl_->replayed = true;
}

void TargetConnection::loseGroup(const QSqlError& error)
{
    forgetGroup();
    dropSession();
    const QString reason = engineMessage(error);
    throw TargetUnavailable(reason.isEmpty() ? lostGroupText
                                             : QStringLiteral("Les dernières lignes importées n'ont pas pu être "
                                                              "rétablies après le refus d'une ligne : ")
                                                   + reason);
}

void TargetConnection::forgetGroup()
{
    if (impl_->batch)
        impl_->batch->detach();
    impl_->groupDropped = impl_->groupDropped || impl_->groupOpen;
    impl_->groupOpen = false;
    impl_->groupSavepointSet = false;
    impl_->journal.clear();
    forgetWorkAhead();
}

QString TargetConnection::engineMessage(const QSqlError& error) const
{
    QString message = error.databaseText().trimmed();
    if (message.isEmpty())
        message = error.text().trimmed();
    if (message.isEmpty())
        message = error.driverText().trimmed();
    return withoutPassword(message, impl_->password());
}

} // namespace p1
