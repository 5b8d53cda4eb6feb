#include "source/source_connection.h"

#include "source/source_connection_impl.h"

#include "common/connection_strings.h"
#include "common/errors.h"

namespace p1 {

SourceConnection::SourceConnection() : impl_(std::make_unique<Impl>()) {}

SourceConnection::~SourceConnection()
{
    close();
    const QList<SourceQuery*> queries = impl_->queries.keys();
    for (SourceQuery* query : queries)
        query->setConnection(nullptr);
}

void SourceConnection::setConnectionString(const QString& connectionString)
{
    impl_->connectionString = connectionString;
}

QString SourceConnection::connectionString() const
{
    return impl_->connectionString;
}

QString SourceConnection::fileName() const
{
    return connectionStringValueOf(impl_->connectionString, QStringLiteral("Data Source"));
}

void SourceConnection::open()
{
    if (isOpen())
        return;
    const QString file = fileName();
    if (file.isEmpty())
        throw SourceError(QStringLiteral("La chaîne de connexion ne désigne aucun fichier (Data Source)."));
    auto database = std::make_unique<SourceDatabase>(file);
    impl_->copy = std::make_unique<MemoryCopy>(*database);
    impl_->database = std::move(database);
}

void SourceConnection::close()
{
    impl_->releaseQueries();
    impl_->copy.reset();
    impl_->database.reset();
}

bool SourceConnection::isOpen() const
{
    return impl_->copy != nullptr;
}

void SourceConnection::releaseCopies(const QStringList& tables)
{
    if (!isOpen())
        return;
    // The closed queries let their statements go (they prepare them again when opened): a copy
    // goes only once nothing is prepared on it.
    for (auto query = impl_->queries.cbegin(); query != impl_->queries.cend(); ++query)
        if (!query.key()->isOpen())
            query.value()();
    for (QString table : tables) {
        if (table.startsWith(u'[') && table.endsWith(u']'))
            table = table.mid(1, table.size() - 2);
        impl_->copy->release(table);
    }
}

void SourceConnection::makeIndexesAhead(const QStringList& statements)
{
    if (!isOpen())
        return;
    MemoryCopy& copy = *impl_->copy;
    for (const QString& text : statements) {
        try {
            const CopyStatement translated =
                translateStatement(text, [&](const QString& name) { return copy.statementTable(name); });
            copy.makeIndexesAhead(translated.table, indexesFor(translated));
        } catch (const SourceError&) {
        }
    }
}

SourceConnection::Impl& SourceConnection::impl()
{
    return *impl_;
}

} // namespace p1
