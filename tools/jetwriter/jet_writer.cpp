#include "tools/jetwriter/jet_writer.h"

#include "tools/jetwriter/file_structure.h"
#include "tools/jetwriter/page_store.h"
#include "tools/jetwriter/row_encoder.h"

#include <stdexcept>

namespace p1::jet {

using namespace writing;

namespace {

constexpr quint32 headerPageNumber = 0;
constexpr quint32 globalUsagePage = 1;
constexpr quint32 catalogDefinitionPage = 2;
constexpr qint64 catalogTableType = 1;
constexpr int maxNameLength = 64;

void checkName(const QString& name)
{
    if (name.trimmed().isEmpty() || name.size() > maxNameLength)
        throw std::invalid_argument(QStringLiteral("nom de table invalide : « %1 »").arg(name).toStdString());
}

// Rows of a table laid one after another on its own data pages, in the order they come.
struct RowPages {
    quint32 owner = 0;
    std::vector<quint32> pages;

    void add(const QByteArray& row, PageStore& store)
    {
        if (!pages.empty() && store.addRow(pages.back(), row) >= 0)
            return;
        pages.push_back(store.allocateRowPage(owner));
        store.addRow(pages.back(), row);
    }
};

TableLayout catalogLayout()
{
    TableLayout layout;
    layout.add(QStringLiteral("Id"), JetType::Long);
    layout.add(QStringLiteral("Name"), JetType::Text, 255);
    layout.add(QStringLiteral("Type"), JetType::Integer);
    layout.add(QStringLiteral("Flags"), JetType::Long);
    layout.add(QStringLiteral("LvProp"), JetType::Ole);
    return layout;
}

// The file's usage maps share row pages of their own, owned by no table.
class UsageMapRows {
public:
    explicit UsageMapRows(PageStore& store) : store_(store) {}

    quint32 add(const std::vector<quint32>& tablePages)
    {
        const QByteArray map = usageMap(tablePages, store_);
        int row = page_ == 0 ? -1 : store_.addRow(page_, map);
        if (row < 0) {
            page_ = store_.allocateRowPage(0);
            row = store_.addRow(page_, map);
        }
        return pageRow(page_, row);
    }

private:
    PageStore& store_;
    quint32 page_ = 0;
};

// The file is written compact: the global map lists no free page.
void writeGlobalUsageMap(PageStore& store)
{
    QByteArray& page = store.page(globalUsagePage);
    page = QByteArray(pageSize, '\0');
    page[0] = char(PageType::Data);
    page[1] = 0x01;
    store.addRow(globalUsagePage, usageMap({}, store));
}

} // namespace

struct TableBuilder::Impl {
    PageStore& store;
    QString name;
    QList<ColumnDefinition> columns;
    TableLayout layout;
    RowPages rows;
    qint64 rowCount = 0;
};

TableBuilder::TableBuilder(PageStore& pages, QString name)
    : impl_(new Impl{pages, std::move(name), {}, {}, {}, 0})
{
    impl_->rows.owner = pages.allocate();
}

TableBuilder::~TableBuilder() = default;

TableBuilder& TableBuilder::column(const QString& name, ColumnType type, int textLength)
{
    return column(ColumnDefinition{name, type, textLength});
}

TableBuilder& TableBuilder::column(const ColumnDefinition& column)
{
    if (impl_->rowCount > 0)
        throw std::logic_error("colonne ajoutée après les premières lignes");
    impl_->layout.add(column.name, jetType(column.type), column.textLength);
    impl_->columns.append(column);
    return *this;
}

TableBuilder& TableBuilder::row(std::initializer_list<Value> values)
{
    return row(QList<Value>(values));
}

TableBuilder& TableBuilder::row(const QList<Value>& values)
{
    impl_->rows.add(impl_->layout.encodeRow(values, impl_->store), impl_->store);
    ++impl_->rowCount;
    return *this;
}

const QString& TableBuilder::name() const
{
    return impl_->name;
}

const QList<ColumnDefinition>& TableBuilder::columns() const
{
    return impl_->columns;
}

qint64 TableBuilder::rowCount() const
{
    return impl_->rowCount;
}

DatabaseBuilder::DatabaseBuilder() : pages_(new PageStore)
{
    // The header, the global usage map and the catalog definition: write() fills them.
    while (pages_->count() <= catalogDefinitionPage)
        pages_->allocate();
}

DatabaseBuilder::~DatabaseBuilder() = default;

TableBuilder& DatabaseBuilder::table(const QString& name)
{
    checkName(name);
    for (const auto& existing : tables_) {
        if (existing->name().compare(name, Qt::CaseInsensitive) == 0)
            throw std::invalid_argument(QStringLiteral("table [%1] déclarée deux fois").arg(name).toStdString());
    }
    tables_.push_back(std::unique_ptr<TableBuilder>(new TableBuilder(*pages_, name)));
    return *tables_.back();
}

void DatabaseBuilder::write(const QString& path) const
{
    PageStore file(*pages_);
    const TableLayout catalog = catalogLayout();
    RowPages catalogRows{catalogDefinitionPage, {}};
    for (const auto& table : tables_) {
        const quint32 definitionPage = table->impl_->rows.owner;
        catalogRows.add(catalog.encodeRow({qint64(definitionPage), table->name(), catalogTableType,
                                           qint64(0), std::monostate{}},
                                          file),
                        file);
    }
    UsageMapRows maps(file);
    writeTableDefinition({catalog, qint64(tables_.size()), true, maps.add(catalogRows.pages)},
                         catalogDefinitionPage, file);
    for (const auto& table : tables_) {
        const TableBuilder::Impl& impl = *table->impl_;
        writeTableDefinition({impl.layout, impl.rowCount, false, maps.add(impl.rows.pages)},
                             impl.rows.owner, file);
    }
    file.page(headerPageNumber) = headerPage();
    writeGlobalUsageMap(file);
    file.save(path);
}

} // namespace p1::jet
