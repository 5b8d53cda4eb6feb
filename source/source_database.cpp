#include "source/source_database.h"

#include "common/errors.h"
#include "source/source_jet_table.h"

#include <QFile>

#include <unordered_map>

namespace p1 {

namespace {

constexpr quint32 catalogDefinitionPage = 2;
constexpr qint64 userTableType = 1;
constexpr qint64 systemObjectFlags = 0x80000002;
constexpr qint64 definitionPageMask = 0x00ffffff;

struct MdbCloser {
    void operator()(MdbHandle* handle) const { mdb_close(handle); }
};
using MdbPointer = std::unique_ptr<MdbHandle, MdbCloser>;

jetfile::Column columnFrom(const MdbColumn& source)
{
    jetfile::Column column;
    column.name = QString::fromUtf8(source.name);
    column.type = std::uint8_t(source.col_type);
    column.number = source.col_num;
    column.fixed = source.is_fixed;
    column.fixedOffset = source.fixed_offset;
    column.size = source.col_size;
    column.varIndex = int(source.var_col_num);
    column.scale = source.col_scale;
    return column;
}

// libmdb decodes the column records and names (spread over the definition's page chain) once
// our own checks of that chain have passed; the rows are later split on that same definition.
void readDefinition(MdbHandle* mdb, const jetfile::PageFile& file, jetfile::TableLayout& layout)
{
    auto definition = std::make_shared<jetfile::MdbDefinition>();
    definition->entry.mdb = mdb;
    definition->entry.object_type = MDB_TABLE;
    definition->entry.table_pg = layout.definitionPage;
    qstrncpy(definition->entry.object_name, layout.name.toUtf8().constData(),
             sizeof definition->entry.object_name);
    definition->table = mdb_read_table(&definition->entry);
    MdbTableDef* table = definition->table;
    if (!table || !mdb_read_columns(table) || table->columns->len != table->num_cols)
        file.damaged(QStringLiteral("la définition de la table [%1] est illisible").arg(layout.name));
    for (guint i = 0; i < table->columns->len; ++i)
        layout.columns.append(columnFrom(*static_cast<MdbColumn*>(g_ptr_array_index(table->columns, i))));
    layout.definition = std::move(definition);
}

struct CatalogEntry {
    QString name;
    quint32 definitionPage;
};

} // namespace

struct SourceDatabase::Impl {
    explicit Impl(const QString& path);

    const jetfile::TableLayout& layout(const QString& name, quint32 page) const;
    const jetfile::TableLayout& userTable(const QString& name) const;
    void readCatalog();

    jetfile::PageFile file;
    MdbPointer mdb;
    QList<CatalogEntry> catalog;
    // Node-based so that a layout handed out stays put while later tables are added.
    mutable std::unordered_map<quint32, jetfile::TableLayout> layouts;
};

SourceDatabase::Impl::Impl(const QString& path) : file(path)
{
    mdb.reset(mdb_open(QFile::encodeName(path).constData(), MDB_NOFLAGS));
    if (!mdb)
        throw SourceError(QStringLiteral("Le fichier [%1] n'est pas une base de données Access.").arg(path));
    readCatalog();
}

const jetfile::TableLayout& SourceDatabase::Impl::layout(const QString& name, quint32 page) const
{
    if (auto found = layouts.find(page); found != layouts.end())
        return found->second;
    jetfile::TableLayout table = jetfile::checkTableDefinition(file, name, page);
    readDefinition(mdb.get(), file, table);
    jetfile::checkColumns(file, table);
    return layouts.emplace(page, std::move(table)).first->second;
}

// The catalog is itself a table (its definition on page 2), read like any other rather than
// through libmdb's catalog reader, which parses property blobs that can make it loop forever.
void SourceDatabase::Impl::readCatalog()
{
    const jetfile::TableLayout& objects = layout(QStringLiteral("MSysObjects"), catalogDefinitionPage);
    auto columnIndex = [&](const char* name) {
        for (int i = 0; i < objects.columns.size(); ++i)
            if (objects.columns[i].name.compare(QLatin1String(name), Qt::CaseInsensitive) == 0)
                return i;
        file.damaged(QStringLiteral("le catalogue des tables n'a pas de colonne %1").arg(QLatin1String(name)));
    };
    const int id = columnIndex("Id");
    const int name = columnIndex("Name");
    const int type = columnIndex("Type");
    const int flags = columnIndex("Flags");
    jetfile::scanRows(file, mdb.get(), objects, [&](const QList<SourceValue>& row) {
        const auto* typeValue = std::get_if<qint64>(&row[type]);
        const auto* flagsValue = std::get_if<qint64>(&row[flags]);
        if (!typeValue || *typeValue != userTableType || (flagsValue && (*flagsValue & systemObjectFlags)))
            return;
        const auto* idValue = std::get_if<qint64>(&row[id]);
        const auto* nameValue = std::get_if<QString>(&row[name]);
        if (!idValue || !nameValue || nameValue->isEmpty())
            file.damaged(QStringLiteral("le catalogue des tables a une entrée sans nom ou sans page"));
        catalog.append({*nameValue, quint32(*idValue & definitionPageMask)});
    });
}

const jetfile::TableLayout& SourceDatabase::Impl::userTable(const QString& name) const
{
    for (const CatalogEntry& entry : catalog)
        if (entry.name.compare(name, Qt::CaseInsensitive) == 0)
            return layout(entry.name, entry.definitionPage);
    throw SourceError(QStringLiteral("La table [%1] n'existe pas dans [%2].").arg(name, file.path()));
}

SourceDatabase::SourceDatabase(const QString& path) : impl_(std::make_unique<Impl>(path)) {}

SourceDatabase::~SourceDatabase() = default;

QString SourceDatabase::path() const
{
    return impl_->file.path();
}

QStringList SourceDatabase::userTables() const
{
    QStringList names;
    for (const CatalogEntry& entry : impl_->catalog)
        names.append(entry.name);
    return names;
}

QList<SourceColumn> SourceDatabase::columns(const QString& table) const
{
    QList<SourceColumn> columns;
    for (const jetfile::Column& column : impl_->userTable(table).columns)
        columns.append({column.name, jetfile::sourceType(column.type)});
    return columns;
}

void SourceDatabase::readRows(const QString& table,
                              const std::function<void(const QList<SourceValue>&)>& onRow) const
{
    jetfile::scanRows(impl_->file, impl_->mdb.get(), impl_->userTable(table), onRow);
}

} // namespace p1
