#include "source/source_query.h"

#include "common/date_time.h"
#include "common/errors.h"
#include "source/source_connection_impl.h"
#include "source/source_statement.h"

#include <sqlite3.h>

#include <optional>

namespace p1 {

struct SourceQuery::Impl {
    SourceConnection* connection = nullptr;
    QStringList lines;
    QHash<QString, QVariant> parameters; // by case-folded name, without the colon

    // The statement prepared for the text in preparedText, kept from one opening to the next:
    // a look-up run once per source row then costs its binding and its rows only.
    StatementPointer statement;
    QString preparedText;
    QString unorderedSql; // what a count runs: the order of the rows does not change their number
    QString table;
    QList<SourceType> types;
    QStringList names;
    QHash<QString, int> positions; // by case-folded name
    // The names fields were read by, as the caller spells them, in the order first read. A stage
    // reads the same fields in the same order row after row, mostly by literals: a look-up that
    // starts after the name found last meets its name first, and a name held here is the one
    // text at its address (literals never change, a shared text is copied before it changes),
    // so a field read costs a comparison of addresses instead of hashing its name.
    struct SpelledName {
        QString name;
        int position;
    };
    mutable QList<SpelledName> spelledNames;
    mutable qsizetype lastSpelled = 0;
    QStringList parameterKeys; // of the prepared statement's parameters in turn (parameterKeysOf)

    bool open = false;
    bool atEnd = true;
    int rowNumber = 0; // of the current row, from 0; the row count at the end
    std::optional<int> count;

    MemoryCopy& copy() const { return *connection->impl().copy; }
    void release();
    void prepareText(const QString& text);
    void prepare(sqlite3* database, const QString& sql, StatementPointer& into) const;
    void bindParameters(sqlite3_stmt* target, const QStringList& keys) const;
    void step();
    int columnIndex(const QString& name) const;
};

namespace {

SourceValue sourceValueOf(const QVariant& value)
{
    if (value.isNull())
        return {};
    switch (value.typeId()) {
    case QMetaType::Bool: return value.toBool();
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::LongLong:
    case QMetaType::ULongLong:
    case QMetaType::Short:
    case QMetaType::UShort: return value.toLongLong();
    case QMetaType::Double:
    case QMetaType::Float: return value.toDouble();
    case QMetaType::QDate: return wallClock(value.toDate());
    case QMetaType::QDateTime: {
        const QDateTime moment = value.toDateTime();
        return wallClock(moment.date(), moment.time());
    }
    default: return value.toString();
    }
}

// The parameters' names as the parameters are kept, worked out once for a statement run once per
// source row.
QStringList parameterKeysOf(sqlite3_stmt* statement)
{
    QStringList keys;
    for (int index = 1; index <= sqlite3_bind_parameter_count(statement); ++index)
        keys.append(QString::fromUtf8(sqlite3_bind_parameter_name(statement, index)).mid(1).toCaseFolded());
    return keys;
}

} // namespace

void SourceQuery::Impl::release()
{
    statement.reset();
    preparedText.clear();
    open = false;
    atEnd = true;
    count.reset();
}

void SourceQuery::Impl::prepareText(const QString& text)
{
    release();
    MemoryCopy& memory = copy();
    const CopyStatement translated =
        translateStatement(text, [&](const QString& name) { return memory.statementTable(name); });
    for (const QStringList& columns : indexesFor(translated))
        memory.ensureIndex(translated.table, columns);

    const CopiedTable& copied = memory.table(translated.table);
    StatementPointer prepared;
    prepare(copied.database.get(), translated.sql, prepared);
    types.clear();
    names.clear();
    positions.clear();
    spelledNames.clear();
    parameterKeys = parameterKeysOf(prepared.get());
    for (int i = 0; i < sqlite3_column_count(prepared.get()); ++i) {
        const QString name = QString::fromUtf8(sqlite3_column_name(prepared.get(), i));
        const int column = copied.columnIndex(name);
        names.append(column < 0 ? name : copied.columns[column].name);
        types.append(column < 0 ? SourceType::Other : copied.columns[column].type);
        if (!positions.contains(names.last().toCaseFolded()))
            positions.insert(names.last().toCaseFolded(), i);
    }
    statement = std::move(prepared);
    preparedText = text;
    unorderedSql = translated.unorderedSql;
    table = translated.table;
}

void SourceQuery::Impl::prepare(sqlite3* database, const QString& sql, StatementPointer& into) const
{
    sqlite3_stmt* raw = nullptr;
    const QByteArray utf8 = sql.toUtf8();
    const int result = sqlite3_prepare_v2(database, utf8.constData(), int(utf8.size()), &raw, nullptr);
    into.reset(raw);
    if (result != SQLITE_OK || !raw)
        failOn(database, QStringLiteral("La requête [%1] ne peut pas être exécutée").arg(lines.join(' ').simplified()));
}

void SourceQuery::Impl::bindParameters(sqlite3_stmt* target, const QStringList& keys) const
{
    for (int index = 1; index <= keys.size(); ++index) {
        const auto found = parameters.constFind(keys[index - 1]);
        if (found == parameters.constEnd())
            throw SourceError(QStringLiteral("Le paramètre %1 de la requête [%2] n'a pas de valeur.")
                                  .arg(QString::fromUtf8(sqlite3_bind_parameter_name(target, index)),
                                       lines.join(' ').simplified()));
        bindSourceValue(target, index, sourceValueOf(*found));
    }
}

void SourceQuery::Impl::step()
{
    const int result = sqlite3_step(statement.get());
    if (result != SQLITE_ROW && result != SQLITE_DONE)
        failOn(sqlite3_db_handle(statement.get()), QStringLiteral("Erreur de lecture de la table [%1]").arg(table));
    atEnd = result != SQLITE_ROW;
}

namespace {

bool sameText(const QString& known, const QString& name)
{
    return known.size() == name.size() && (known.constData() == name.constData() || known == name);
}

} // namespace

int SourceQuery::Impl::columnIndex(const QString& name) const
{
    const qsizetype count = spelledNames.size();
    for (qsizetype step = 1; step <= count; ++step) {
        const qsizetype at = (lastSpelled + step) % count;
        if (sameText(spelledNames[at].name, name)) {
            lastSpelled = at;
            return spelledNames[at].position;
        }
    }
    const int position = positions.value(name.toCaseFolded(), -1);
    spelledNames.append({name, position});
    lastSpelled = count;
    return position;
}

SourceQuery::SourceQuery(SourceConnection* connection, QStringList lines) : impl_(std::make_unique<Impl>())
{
    impl_->lines = std::move(lines);
    setConnection(connection);
}

SourceQuery::~SourceQuery()
{
    setConnection(nullptr);
}

void SourceQuery::setConnection(SourceConnection* connection)
{
    impl_->release();
    if (impl_->connection)
        impl_->connection->impl().queries.remove(this);
    impl_->connection = connection;
    if (connection)
        connection->impl().queries.insert(this, [impl = impl_.get()] { impl->release(); });
}

SourceConnection* SourceQuery::connection() const
{
    return impl_->connection;
}

QStringList& SourceQuery::sql()
{
    return impl_->lines;
}

const QStringList& SourceQuery::sql() const
{
    return impl_->lines;
}

void SourceQuery::setParameter(const QString& name, const QVariant& value)
{
    QString key = name.toCaseFolded();
    if (key.startsWith(QLatin1Char(':')))
        key.remove(0, 1);
    impl_->parameters.insert(key, value);
}

void SourceQuery::open()
{
    close();
    if (!impl_->connection)
        throw SourceError(QStringLiteral("La requête [%1] n'est liée à aucune base de données.")
                              .arg(impl_->lines.join(' ').simplified()));
    impl_->connection->open();
    const QString text = impl_->lines.join(QLatin1Char('\n'));
    if (!impl_->statement || text != impl_->preparedText)
        impl_->prepareText(text);
    sqlite3_clear_bindings(impl_->statement.get());
    impl_->bindParameters(impl_->statement.get(), impl_->parameterKeys);
    impl_->open = true;
    impl_->rowNumber = 0;
    impl_->step();
}

void SourceQuery::close()
{
    if (impl_->statement)
        sqlite3_reset(impl_->statement.get());
    impl_->open = false;
    impl_->atEnd = true;
    impl_->count.reset();
}

bool SourceQuery::isOpen() const
{
    return impl_->open;
}

int SourceQuery::recordCount() const
{
    if (!isOpen())
        throw SourceError(QStringLiteral("La requête [%1] n'est pas ouverte.").arg(impl_->lines.join(' ').simplified()));
    if (!impl_->count) {
        sqlite3* database = sqlite3_db_handle(impl_->statement.get());
        StatementPointer counting;
        impl_->prepare(database, QStringLiteral("SELECT count(*) FROM (%1)").arg(impl_->unorderedSql), counting);
        impl_->bindParameters(counting.get(), parameterKeysOf(counting.get()));
        if (sqlite3_step(counting.get()) != SQLITE_ROW)
            failOn(database, QStringLiteral("Erreur de lecture de la table [%1]").arg(impl_->table));
        impl_->count = sqlite3_column_int(counting.get(), 0);
    }
    return *impl_->count;
}

bool SourceQuery::eof() const
{
    return impl_->atEnd;
}

void SourceQuery::next()
{
    if (isOpen() && !impl_->atEnd) {
        ++impl_->rowNumber;
        impl_->step();
    }
}

int SourceQuery::rowNumber() const
{
    return impl_->rowNumber;
}

// The statement runs again from its first row: the source copy does not change meanwhile, and
// the order of its rows is the same from one run to the next.
void SourceQuery::moveToRow(int row)
{
    if (!isOpen())
        throw SourceError(QStringLiteral("La requête [%1] n'est pas ouverte.").arg(impl_->lines.join(' ').simplified()));
    sqlite3_reset(impl_->statement.get());
    impl_->rowNumber = 0;
    impl_->step();
    while (impl_->rowNumber < row && !impl_->atEnd) {
        ++impl_->rowNumber;
        impl_->step();
    }
}

SourceField SourceQuery::field(const QString& name) const
{
    if (!isOpen() || impl_->atEnd)
        throw SourceError(QStringLiteral("La requête [%1] n'a pas de ligne courante (champ [%2]).")
                              .arg(impl_->lines.join(' ').simplified(), name));
    const int index = impl_->columnIndex(name);
    if (index < 0)
        throw SourceError(QStringLiteral("Le champ [%1] n'existe pas dans la table [%2].").arg(name, impl_->table));
    return SourceField(impl_->names[index], impl_->types[index],
                       columnSourceValue(impl_->statement.get(), index, impl_->types[index]));
}

} // namespace p1
