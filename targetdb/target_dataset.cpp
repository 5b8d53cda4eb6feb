#include "common/errors.h"
#include "targetdb/dataset_rows.h"
#include "targetdb/rows_by_hash.h"
#include "targetdb/target_sql.h"
#include "targetdb/target_values.h"

#include <QRegularExpression>
#include <QSet>
#include <QSqlDriver>
#include <QSqlField>
#include <QSqlIndex>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QVarLengthArray>

#include <algorithm>
#include <functional>

namespace p1 {

namespace {

struct Column {
    QString name;
    ColumnKind kind;
    TimeResolution resolution = TimeResolution::Milliseconds;
};

using Row = QList<QVariant>;

// A stage keeps every row it stores for its locates, and most of a row's weight is its long
// texts (reasons, details, histories, prescriptions), which no locate compares. A row with a key
// keeps in their place a marker, and they are read again by the key when the row's fields are
// read or the row is edited; texts of located columns stay, shared with the locate's keys.
constexpr qsizetype longestKeptText = 40;

// Rows by the hash of the key their located columns make, in dataset order; the index holds no
// key of its own: a locate compares its key with each candidate row's, and the first equal is
// the one found.
struct LocateIndex {
    QList<int> columns;
    RowsByHash rowsByHash;
};

enum class Pending { None, Insert, Update };

// The highest value of an integer column over the rows held. A dataset is asked for one or two
// columns, and each stored row updates them: a short array, copied at every mark, allocates nothing.
struct Highest {
    int column;
    qint64 value;
};
using HighestValues = QVarLengthArray<Highest, 2>;

QString tableOfCommand(const QString& commandText)
{
    static const QRegularExpression from(QStringLiteral(R"(\bFROM\s+(\[[^\]]+\]|"[^"]+"|[\w.]+))"),
                                         QRegularExpression::CaseInsensitiveOption);
    const QRegularExpressionMatch match = from.match(commandText);
    if (!match.hasMatch())
        throw TargetError(QStringLiteral("Table introuvable dans la requête %1").arg(commandText));
    QString table = match.captured(1);
    if (table.startsWith('[') || table.startsWith('"'))
        table = table.mid(1, table.size() - 2);
    return table;
}

// The key the columns make, valueOf(place, column) giving the value of columns.at(place).
template <typename ValueOf>
std::optional<LocateKey> keyOf(const QList<int>& columns, const QList<Column>& layout, ValueOf valueOf)
{
    LocateKey key;
    for (int place = 0; place < columns.size(); ++place) {
        const int column = columns.at(place);
        if (!setLocateKeyPart(key, place, valueOf(place, column), layout.at(column).kind,
                              layout.at(column).resolution))
            return std::nullopt;
    }
    return key;
}

std::optional<LocateKey> keyOfValues(const QList<int>& columns, const QList<Column>& layout,
                                     const QVariantList& values)
{
    return keyOf(columns, layout, [&](int place, int) { return values.at(place); });
}

std::optional<LocateKey> keyOfRow(const QList<int>& columns, const QList<Column>& layout, const Row& row)
{
    return keyOf(columns, layout, [&](int, int column) { return row.at(column); });
}

// The value as the engine keeps it, so that a stored row reads and locates in the dataset as it
// will once read back.
QVariant keptByEngine(QVariant value, const Column& column)
{
    if (column.kind != ColumnKind::DateTime || value.isNull())
        return value;
    return dateTimeAsKept(value.toDateTime(), column.resolution);
}

} // namespace

struct TargetDataset::Impl {
    TargetConnection& connection;
    QString commandText;
    StatementParameters parameters;
    ParameterisedRun select;
    QString table;
    bool open = false;
    QList<Column> columns;
    QStringList columnNames;
    int keyColumn = -1;
    QString keyName;
    QHash<QString, ColumnKind> declaredKinds;
    QSet<QString> tickColumns;
    QHash<QString, int> textSizes; // declared sizes of the text columns, by upper-case name, while watched
    DatasetRows rows;
    QList<bool> located; // per column: some locate compares it
    int wholeRowNumber = -1;
    Row wholeRow; // the row wholeRowNumber with its texts read again
    int current = 0;
    Pending pending = Pending::None;
    Row pendingValues;
    QList<bool> pendingSet;
    std::vector<LocateIndex> indexes;
    QString preparedOn;
    QString factsOf; // the connection and table the facts and stores are of
    QHash<QString, std::shared_ptr<QSqlQuery>> preparedStores;
    QHash<QString, QString> aheadTexts; // statements sent ahead, by set of columns
    // Since mark(): the number of rows then, and each row changed since as it was then.
    std::optional<int> markedRows;
    int markedCurrent = 0;
    QHash<int, Row> rowsAtMark;
    // The highest value of each integer column asked for, over the rows held; as it was at mark().
    HighestValues highest;
    HighestValues highestAtMark;

    explicit Impl(TargetConnection& target) : connection(target) {}

    void readTableFacts();
    void readTableFactsOnce();
    void readSqliteFacts();
    void readCoarseDateTimeColumns(const QString& statement);
    void readServerTextSizes();
    void noteOversizedTexts(const Row& row) const;
    void readLayout(const QSqlRecord& record);
    int columnOf(const QString& name) const;
    void requireOpen() const;
    Row convertedPendingRow() const;
    QString setColumnsMask(QChar kind) const;
    QStringList setColumnNames() const;
    QSqlQuery& preparedStore(const QString& mask, const std::function<QString()>& text);
    QVariantList setValues(const Row& row) const;
    static void bindAll(QSqlQuery& query, const QVariantList& values);
    QString insertText() const;
    QString updateText() const;
    void sendAhead(const QString& mask, const QVariantList& values, bool changesARow);
    void noteChange(int row);
    void insertPending();
    void updatePending();
    Row compacted(Row row) const;
    bool leftInTarget(int row, const QList<int>& columnsOfRow) const;
    void keepStored(int row, const Row& values);
    void forgetWholeRow();
    Row readRowAgain(int row);
    Row wholeRowAt(int row);
    QVariant valueAt(int row, int column);
    void keepLocatedValues(const QList<int>& columnsOfKey);
    std::optional<LocateKey> keyOfStoredRow(const QList<int>& columnsOfKey, int row) const;
    std::optional<int> firstRowWithKey(const LocateIndex& index, const LocateKey& key) const;
    void indexRow(int row);
    void unindexRow(int row);
    void reindexRow(int row, const Row& before);
    LocateIndex& indexFor(const QList<int>& columnsOfKey);
    void noteHighest(const Row& row);
    [[noreturn]] void fail(const QSqlQuery& query) const;
};

void TargetDataset::Impl::noteHighest(const Row& row)
{
    for (Highest& column : highest)
        column.value = std::max(column.value, row.at(column.column).toLongLong());
}

void TargetDataset::Impl::fail(const QSqlQuery& query) const
{
    connection.throwFailure(query);
}

void TargetDataset::Impl::requireOpen() const
{
    if (!open)
        throw TargetError(QStringLiteral("La table %1 n'est pas ouverte").arg(table));
}

int TargetDataset::Impl::columnOf(const QString& name) const
{
    const qsizetype column = indexOfName(columnNames, name);
    if (column < 0)
        throw TargetError(QStringLiteral("Champ %1 introuvable dans la table %2").arg(name, table));
    return int(column);
}

// SQLite keeps only the declared types, which Qt does not pass on for date-times.
void TargetDataset::Impl::readSqliteFacts()
{
    QSqlQuery info(connection.database());
    if (!info.exec(QStringLiteral("PRAGMA table_info(\"%1\")").arg(table)))
        fail(info);
    while (info.next()) {
        const QString name = info.value(1).toString().toUpper();
        declaredKinds.insert(name, columnKindOfDeclaredType(info.value(2).toString()));
        if (info.value(5).toInt() == 1)
            keyName = name;
        if (connection.columnSizesWatched())
            if (const std::optional<int> size = declaredTextSize(info.value(2).toString()))
                textSizes.insert(name, *size);
    }
}

// The catalogue of both servers names the sizes; PostgreSQL keeps unquoted names in lower case.
void TargetDataset::Impl::readServerTextSizes()
{
    QSqlQuery info(connection.database());
    connection.runStatement(info, [&] {
        return info.prepare(QStringLiteral("SELECT COLUMN_NAME, CHARACTER_MAXIMUM_LENGTH FROM INFORMATION_SCHEMA.COLUMNS "
                                           "WHERE UPPER(TABLE_NAME) = ? AND CHARACTER_MAXIMUM_LENGTH > 0"));
    }, Counting::Uncounted);
    info.addBindValue(table.section('.', -1).toUpper());
    connection.runStatement(info, [&] { return info.exec(); });
    while (info.next())
        textSizes.insert(info.value(0).toString().toUpper(), info.value(1).toInt());
}

void TargetDataset::Impl::noteOversizedTexts(const Row& row) const
{
    // Sizes are read only while watched (a check): an import spends nothing here.
    if (textSizes.isEmpty())
        return;
    for (int column = 0; column < columns.size(); ++column) {
        const int size = textSizes.value(columns.at(column).name.toUpper(), 0);
        const QVariant& value = row.at(column);
        if (size > 0 && pendingSet.at(column) && value.typeId() == QMetaType::QString
            && value.toString().size() > size)
            connection.noteOversizedText({table, columns.at(column).name.toUpper(), size, value.toString()});
    }
}

// A date-time stored in a column that keeps the time of day coarser than the millisecond (SQL
// Server's datetime, to 1/300 s) is compared as the engine keeps it. A catalogue that cannot be
// read ends the run as a failed target does: every consultation would otherwise stop merging by
// date-time without a word, or each row would fail on its own.
void TargetDataset::Impl::readCoarseDateTimeColumns(const QString& statement)
{
    QSqlQuery info(connection.database());
    const auto unreadable = [&] {
        throw TargetUnavailable(QStringLiteral("Le catalogue de la base Tessaris ne dit pas comment la table %1 "
                                               "garde ses dates et heures : %2")
                              .arg(table, connection.engineMessage(connection.unit().errorOf(info))));
    };
    if (!info.prepare(statement))
        unreadable();
    info.addBindValue(table.section('.', -1));
    if (!info.exec())
        unreadable();
    while (info.next())
        tickColumns.insert(info.value(0).toString().toUpper());
}

// Read before the rows: a PostgreSQL result is fetched row by row, and any other statement on
// the connection meanwhile would discard it.
void TargetDataset::Impl::readTableFacts()
{
    declaredKinds.clear();
    tickColumns.clear();
    textSizes.clear();
    keyName.clear();
    const TargetEngineUnit& unit = connection.unit();
    if (unit.tableFacts() == TableFacts::DeclaredTypes) {
        readSqliteFacts();
        return;
    }
    keyName = connection.database().primaryIndex(table).fieldName(0);
    if (connection.columnSizesWatched())
        readServerTextSizes();
    if (const QString statement = unit.coarseDateTimeColumnsStatement(); !statement.isEmpty())
        readCoarseDateTimeColumns(statement);
}

// A dataset reopened on the same table of the same connection (a search run once per source
// row) keeps its facts and its prepared stores; every open of the connection has its own name.
void TargetDataset::Impl::readTableFactsOnce()
{
    const QString facts = connection.database().connectionName() + u'\n' + table
                          + (connection.columnSizesWatched() ? QStringLiteral("\nsizes") : QString());
    if (facts == factsOf)
        return;
    readTableFacts();
    preparedStores.clear();
    aheadTexts.clear();
    factsOf = facts;
}

void TargetDataset::Impl::readLayout(const QSqlRecord& record)
{
    columns.clear();
    columnNames.clear();
    for (int at = 0; at < record.count(); ++at) {
        const QString name = record.fieldName(at);
        const ColumnKind kind = declaredKinds.value(name.toUpper(),
                                                   columnKindOf(record.field(at).metaType()));
        const TimeResolution resolution = tickColumns.contains(name.toUpper())
                                              ? TimeResolution::SqlServerTicks
                                              : TimeResolution::Milliseconds;
        columns.append({name, kind, resolution});
        columnNames.append(name);
    }
    keyColumn = keyName.isEmpty() ? -1 : int(indexOfName(columnNames, keyName));
    if (keyColumn < 0)
        keyColumn = int(indexOfName(columnNames, table.section('.', -1) + QStringLiteral("_ID")));
}

// Built value by value rather than copied and then changed: the copy would be made twice.
Row TargetDataset::Impl::convertedPendingRow() const
{
    Row row;
    row.reserve(columns.size());
    for (int column = 0; column < columns.size(); ++column) {
        const QVariant& given = pendingValues.at(column);
        if (!pendingSet.at(column)) {
            row.append(given);
            continue;
        }
        auto value = valueForColumn(given, columns.at(column).kind);
        if (!value) {
            throw TargetError(QStringLiteral("Valeur « %1 » incorrecte pour le champ %2")
                                  .arg(given.toString(), columns.at(column).name));
        }
        row.append(keptByEngine(std::move(*value), columns.at(column)));
    }
    return row;
}

QString TargetDataset::Impl::setColumnsMask(QChar kind) const
{
    QString mask(columns.size() + 1, '0');
    mask[0] = kind;
    for (int column = 0; column < columns.size(); ++column) {
        if (pendingSet.at(column))
            mask[column + 1] = '1';
    }
    return mask;
}

QStringList TargetDataset::Impl::setColumnNames() const
{
    const QSqlDriver* driver = connection.database().driver();
    QStringList names;
    for (int column = 0; column < columns.size(); ++column) {
        if (pendingSet.at(column))
            names.append(driver->escapeIdentifier(columns.at(column).name, QSqlDriver::FieldName));
    }
    return names;
}

// One prepared statement per set of columns written: a stage writes the same columns row
// after row, so the engine parses each statement once.
QSqlQuery& TargetDataset::Impl::preparedStore(const QString& mask,
                                              const std::function<QString()>& text)
{
    QSqlDatabase db = connection.database();
    if (preparedOn != db.connectionName()) {
        preparedStores.clear();
        preparedOn = db.connectionName();
    }
    auto found = preparedStores.find(mask);
    if (found == preparedStores.end()) {
        auto query = connection.preparedQuery();
        const QString statement = text();
        connection.runStatement(*query, [&] { return query->prepare(statement); }, Counting::Uncounted);
        found = preparedStores.insert(mask, query);
    }
    return **found;
}

// The values of the columns set, in the order of the statement's placeholders.
QVariantList TargetDataset::Impl::setValues(const Row& row) const
{
    QVariantList values;
    // An update adds the key after them.
    values.reserve(columns.size() + 1);
    for (int column = 0; column < columns.size(); ++column) {
        if (pendingSet.at(column))
            values.append(parameterForEngine(row.at(column), columns.at(column).kind, connection.unit()));
    }
    return values;
}

void TargetDataset::Impl::bindAll(QSqlQuery& query, const QVariantList& values)
{
    for (int place = 0; place < values.size(); ++place)
        query.bindValue(place, values.at(place));
}

QString TargetDataset::Impl::insertText() const
{
    const QStringList names = setColumnNames();
    if (names.isEmpty())
        return QStringLiteral("INSERT INTO %1 DEFAULT VALUES").arg(table);
    return QStringLiteral("INSERT INTO %1 (%2) VALUES (%3)")
        .arg(table, names.join(", "), QStringList(names.size(), "?").join(", "));
}

QString TargetDataset::Impl::updateText() const
{
    const QSqlDriver* driver = connection.database().driver();
    return QStringLiteral("UPDATE %1 SET %2 = ? WHERE %3 = ?")
        .arg(table, setColumnNames().join(" = ?, "),
             driver->escapeIdentifier(columns.at(keyColumn).name, QSqlDriver::FieldName));
}

// A statement sent ahead of its outcome: its text is worked out once per set of columns, while
// the session is free to answer the driver's questions.
void TargetDataset::Impl::sendAhead(const QString& mask, const QVariantList& values, bool changesARow)
{
    auto text = aheadTexts.constFind(mask);
    if (text == aheadTexts.cend())
        text = aheadTexts.insert(mask, mask.startsWith(u'I') ? insertText() : updateText());
    connection.sendAhead(*text, values, changesARow);
}

void TargetDataset::Impl::insertPending()
{
    const Row row = convertedPendingRow();
    noteOversizedTexts(row);
    const QString mask = setColumnsMask('I');
    if (connection.sendsRowsAhead()) {
        sendAhead(mask, setValues(row), false);
    } else {
        QSqlQuery& query = preparedStore(mask, [this] { return insertText(); });
        bindAll(query, setValues(row));
        connection.runStatement(query, [&] { return query.exec(); });
    }
    rows.append(compacted(row));
    noteHighest(row);
    current = rows.size() - 1;
    indexRow(current);
    wholeRowNumber = current;
    wholeRow = row;
}

void TargetDataset::Impl::updatePending()
{
    if (!pendingSet.contains(true))
        return;
    if (keyColumn < 0)
        throw TargetError(QStringLiteral("La table %1 n'a pas de clé : modification impossible").arg(table));
    const Row row = convertedPendingRow();
    noteOversizedTexts(row);
    const Row before = rows.row(current);
    QVariantList values = setValues(row);
    values.append(parameterForEngine(before.at(keyColumn), columns.at(keyColumn).kind, connection.unit()));
    const QString mask = setColumnsMask('U');
    if (connection.sendsRowsAhead()) {
        sendAhead(mask, values, true);
    } else {
        QSqlQuery& query = preparedStore(mask, [this] { return updateText(); });
        bindAll(query, values);
        connection.runStatement(query, [&] { return query.exec(); });
        if (query.numRowsAffected() == 0)
            throw TargetError(QStringLiteral("La ligne à modifier n'existe plus dans la table %1").arg(table));
    }
    noteChange(current);
    keepStored(current, row);
    noteHighest(row);
    reindexRow(current, before);
}

Row TargetDataset::Impl::compacted(Row row) const
{
    if (keyColumn < 0 || row.at(keyColumn).isNull())
        return row;
    for (int column = 0; column < columns.size(); ++column) {
        const QVariant& value = row.at(column);
        if (column != keyColumn && columns.at(column).kind == ColumnKind::Text && !located.at(column)
            && value.typeId() == QMetaType::QString && value.toString().size() > longestKeptText)
            row[column] = textLeftInTarget();
    }
    return row;
}

bool TargetDataset::Impl::leftInTarget(int row, const QList<int>& columnsOfRow) const
{
    return std::any_of(columnsOfRow.begin(), columnsOfRow.end(),
                       [&](int column) { return rows.isLeftInTarget(row, column); });
}

// The row just stored is the one the next merge most often edits (the source's rows come by
// patient): it stays whole until another row is read again.
void TargetDataset::Impl::keepStored(int row, const Row& values)
{
    rows.set(row, compacted(values));
    wholeRowNumber = row;
    wholeRow = values;
}

void TargetDataset::Impl::forgetWholeRow()
{
    wholeRowNumber = -1;
    wholeRow.clear();
}

// The row as the target holds it, by its key: what the dataset stored there or read from it.
Row TargetDataset::Impl::readRowAgain(int row)
{
    QSqlQuery& query = preparedStore(QStringLiteral("S"), [this] {
        const QSqlDriver* driver = connection.database().driver();
        QStringList names;
        for (const Column& column : columns)
            names.append(driver->escapeIdentifier(column.name, QSqlDriver::FieldName));
        return QStringLiteral("SELECT %1 FROM %2 WHERE %3 = ?")
            .arg(names.join(", "), table, names.at(keyColumn));
    });
    const QVariant key = rows.value(row, keyColumn);
    query.bindValue(0, parameterForEngine(key, columns.at(keyColumn).kind, connection.unit()));
    if (!query.exec())
        fail(query);
    if (!query.next()) {
        if (query.lastError().isValid())
            fail(query);
        throw TargetError(QStringLiteral("La ligne %1 = %2 n'existe plus dans la table %3")
                              .arg(columns.at(keyColumn).name, key.toString(), table));
    }
    Row whole;
    whole.reserve(columns.size());
    for (int column = 0; column < columns.size(); ++column)
        whole.append(valueFromEngine(query.value(column), query.isNull(column), columns.at(column).kind));
    query.finish();
    return whole;
}

Row TargetDataset::Impl::wholeRowAt(int row)
{
    if (!rows.holdsLeftInTarget(row))
        return rows.row(row);
    if (wholeRowNumber != row) {
        wholeRow = readRowAgain(row);
        wholeRowNumber = row;
    }
    return wholeRow;
}

QVariant TargetDataset::Impl::valueAt(int row, int column)
{
    if (!rows.isLeftInTarget(row, column))
        return rows.value(row, column);
    if (wholeRowNumber != row) {
        wholeRow = readRowAgain(row);
        wholeRowNumber = row;
    }
    return wholeRow.at(column);
}

// Texts a new locate compares are read again for the rows that left them in the target, and
// kept from then on.
void TargetDataset::Impl::keepLocatedValues(const QList<int>& columnsOfKey)
{
    for (int column : columnsOfKey)
        located[column] = true;
    for (int row = 0; row < rows.size(); ++row) {
        if (leftInTarget(row, columnsOfKey))
            rows.set(row, compacted(readRowAgain(row)));
    }
}

std::optional<LocateKey> TargetDataset::Impl::keyOfStoredRow(const QList<int>& columnsOfKey, int row) const
{
    return keyOf(columnsOfKey, columns, [&](int, int column) { return rows.value(row, column); });
}

std::optional<int> TargetDataset::Impl::firstRowWithKey(const LocateIndex& index, const LocateKey& key) const
{
    for (int row : index.rowsByHash.rowsWith(locateHash(key))) {
        if (keyOfStoredRow(index.columns, row) == key)
            return row;
    }
    return std::nullopt;
}

void TargetDataset::Impl::indexRow(int row)
{
    for (LocateIndex& index : indexes) {
        if (auto key = keyOfStoredRow(index.columns, row))
            index.rowsByHash.add(locateHash(*key), row);
    }
}

void TargetDataset::Impl::unindexRow(int row)
{
    for (LocateIndex& index : indexes) {
        if (auto key = keyOfStoredRow(index.columns, row))
            index.rowsByHash.remove(locateHash(*key), row);
    }
}

// Rows appended since the mark are simply dropped: only rows older than the mark are kept.
void TargetDataset::Impl::noteChange(int row)
{
    if (markedRows && row < *markedRows && !rowsAtMark.contains(row))
        rowsAtMark.insert(row, rows.row(row));
}

void TargetDataset::Impl::reindexRow(int row, const Row& before)
{
    for (LocateIndex& index : indexes) {
        const auto oldKey = keyOfRow(index.columns, columns, before);
        const auto newKey = keyOfStoredRow(index.columns, row);
        if (oldKey == newKey)
            continue;
        if (oldKey)
            index.rowsByHash.remove(locateHash(*oldKey), row);
        if (newKey)
            index.rowsByHash.add(locateHash(*newKey), row);
    }
}

LocateIndex& TargetDataset::Impl::indexFor(const QList<int>& columnsOfKey)
{
    for (LocateIndex& index : indexes) {
        if (index.columns == columnsOfKey)
            return index;
    }
    keepLocatedValues(columnsOfKey);
    LocateIndex& index = indexes.emplace_back();
    index.columns = columnsOfKey;
    index.rowsByHash.reserve(rows.size());
    for (int row = 0; row < rows.size(); ++row) {
        if (auto key = keyOfStoredRow(columnsOfKey, row))
            index.rowsByHash.add(locateHash(*key), row);
    }
    return index;
}

TargetDataset::TargetDataset(TargetConnection& connection)
    : impl_(std::make_unique<Impl>(connection))
{
}

TargetDataset::~TargetDataset() = default;

void TargetDataset::setCommandText(const QString& text)
{
    close();
    impl_->commandText = text;
}

void TargetDataset::setParameter(const QString& name, const QVariant& value)
{
    impl_->parameters.set(name, value);
}

QString TargetDataset::commandText() const
{
    return impl_->commandText;
}

void TargetDataset::open()
{
    close();
    impl_->table = tableOfCommand(impl_->commandText);
    impl_->readTableFactsOnce();
    QSqlQuery& query = impl_->select.run(impl_->connection, impl_->commandText, impl_->parameters);
    impl_->readLayout(query.record());
    impl_->located = QList<bool>(impl_->columns.size(), false);
    QList<ColumnKind> kinds;
    for (const Column& column : std::as_const(impl_->columns))
        kinds.append(column.kind);
    impl_->rows.reset(kinds);
    const int count = int(impl_->columns.size());
    while (query.next()) {
        Row row;
        row.reserve(count);
        for (int column = 0; column < count; ++column)
            row.append(valueFromEngine(query.value(column), query.isNull(column),
                                       impl_->columns.at(column).kind));
        impl_->rows.append(impl_->compacted(std::move(row)));
    }
    if (query.lastError().isValid())
        impl_->fail(query);
    query.finish();
    impl_->open = true;
}

void TargetDataset::close()
{
    cancel();
    impl_->markedRows.reset();
    impl_->rowsAtMark.clear();
    impl_->highest.clear();
    impl_->open = false;
    impl_->rows.reset({});
    impl_->indexes.clear();
    impl_->forgetWholeRow();
    impl_->current = 0;
}

bool TargetDataset::isOpen() const
{
    return impl_->open;
}

int TargetDataset::recordCount() const
{
    return impl_->rows.size();
}

bool TargetDataset::eof() const
{
    return impl_->current >= impl_->rows.size();
}

// Moving to another row stores a pending row first, as a dataset in edit mode does.
void TargetDataset::first()
{
    post();
    impl_->current = 0;
}

void TargetDataset::next()
{
    post();
    if (!eof())
        ++impl_->current;
}

bool TargetDataset::locate(const QStringList& columns, const QVariantList& values)
{
    impl_->requireOpen();
    if (columns.isEmpty() || columns.size() > 2 || columns.size() != values.size())
        throw TargetError(QStringLiteral("Recherche dans la table %1 : colonnes et valeurs ne correspondent pas")
                              .arg(impl_->table));
    post();
    QList<int> columnsOfKey;
    for (const QString& name : columns)
        columnsOfKey.append(impl_->columnOf(name));
    const auto key = keyOfValues(columnsOfKey, impl_->columns, values);
    if (!key)
        return false;
    const std::optional<int> found = impl_->firstRowWithKey(impl_->indexFor(columnsOfKey), *key);
    if (!found)
        return false;
    impl_->current = *found;
    return true;
}

void TargetDataset::append()
{
    impl_->requireOpen();
    post();
    impl_->pending = Pending::Insert;
    impl_->pendingValues = Row(impl_->columns.size());
    impl_->pendingSet = QList<bool>(impl_->columns.size(), false);
}

void TargetDataset::edit()
{
    impl_->requireOpen();
    post();
    if (eof())
        throw TargetError(QStringLiteral("Aucune ligne courante à modifier dans la table %1").arg(impl_->table));
    impl_->pendingValues = impl_->wholeRowAt(impl_->current);
    impl_->pending = Pending::Update;
    impl_->pendingSet = QList<bool>(impl_->columns.size(), false);
}

void TargetDataset::setValue(const QString& column, const QVariant& value)
{
    impl_->requireOpen();
    const int place = impl_->columnOf(column);
    if (impl_->pending == Pending::None)
        throw TargetError(QStringLiteral("La table %1 n'est ni en ajout ni en modification").arg(impl_->table));
    impl_->pendingValues[place] = value;
    impl_->pendingSet[place] = true;
}

void TargetDataset::post()
{
    switch (impl_->pending) {
    case Pending::None:
        return;
    case Pending::Insert:
        impl_->insertPending();
        break;
    case Pending::Update:
        impl_->updatePending();
        break;
    }
    impl_->pending = Pending::None;
}

void TargetDataset::cancel()
{
    impl_->pending = Pending::None;
    impl_->pendingValues.clear();
    impl_->pendingSet.clear();
}

void TargetDataset::mark()
{
    impl_->markedRows = impl_->rows.size();
    impl_->markedCurrent = impl_->current;
    impl_->rowsAtMark.clear();
    impl_->highestAtMark = impl_->highest;
}

void TargetDataset::backToMark()
{
    cancel();
    if (!impl_->markedRows)
        return;
    impl_->forgetWholeRow();
    for (int row = int(impl_->rows.size()) - 1; row >= *impl_->markedRows; --row)
        impl_->unindexRow(row);
    impl_->rows.truncate(*impl_->markedRows);
    for (auto atMark = impl_->rowsAtMark.cbegin(); atMark != impl_->rowsAtMark.cend(); ++atMark) {
        const Row changed = impl_->rows.row(atMark.key());
        impl_->rows.set(atMark.key(), atMark.value());
        impl_->reindexRow(atMark.key(), changed);
    }
    impl_->rowsAtMark.clear();
    impl_->highest = impl_->highestAtMark;
    impl_->current = impl_->markedCurrent;
}

qint64 TargetDataset::highestValue(const QString& column)
{
    impl_->requireOpen();
    const int place = impl_->columnOf(column);
    const auto found = std::find_if(impl_->highest.cbegin(), impl_->highest.cend(),
                                    [place](const Highest& known) { return known.column == place; });
    if (found != impl_->highest.cend())
        return found->value;
    qint64 highest = 0;
    for (int row = 0; row < impl_->rows.size(); ++row)
        highest = std::max(highest, impl_->rows.value(row, place).toLongLong());
    impl_->highest.append({place, highest});
    return highest;
}

bool TargetDataset::isPending() const
{
    return impl_->pending != Pending::None;
}

TargetField TargetDataset::field(const QString& column) const
{
    impl_->requireOpen();
    const int place = impl_->columnOf(column);
    if (impl_->pending != Pending::None) {
        const QVariant& value = impl_->pendingValues.at(place);
        const auto converted = valueForColumn(value, impl_->columns.at(place).kind);
        return TargetField(converted.value_or(value));
    }
    if (eof())
        return TargetField();
    return TargetField(impl_->valueAt(impl_->current, place));
}

QStringList TargetDataset::fieldNames() const
{
    return impl_->columnNames;
}

} // namespace p1
