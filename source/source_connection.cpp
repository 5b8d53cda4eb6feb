#include "source/source_connection.h"

#include "source/source_connection_impl.h"

#include "common/errors.h"

namespace p1 {

namespace {

QString dataSourceOf(const QString& connectionString)
{
    for (const QString& part : connectionString.split(QLatin1Char(';'))) {
        const int equals = part.indexOf(QLatin1Char('='));
        if (equals < 0 || part.left(equals).trimmed().compare(QLatin1String("Data Source"), Qt::CaseInsensitive) != 0)
            continue;
        QString value = part.mid(equals + 1).trimmed();
        if (value.size() >= 2 && value.startsWith(QLatin1Char('"')) && value.endsWith(QLatin1Char('"')))
            value = value.mid(1, value.size() - 2);
        return value;
    }
    return {};
}

} // namespace

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
    return dataSourceOf(impl_->connectionString);
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

SourceConnection::Impl& SourceConnection::impl()
{
    return *impl_;
}

} // namespace p1
