#pragma once

#include "source/source_database.h"
#include "source/source_jet_file.h"

#include <QList>
#include <QString>

#include <functional>
#include <memory>

// mdbtools.h opens an extern "C" block before it includes glib: glib must come first.
#include <glib.h>
#include <mdbtools.h>

namespace p1::jetfile {

enum StoredType : std::uint8_t {
    booleanType = 0x01, byteType = 0x02, integerType = 0x03, longType = 0x04, moneyType = 0x05,
    floatType = 0x06, doubleType = 0x07, dateTimeType = 0x08, binaryType = 0x09, textType = 0x0a,
    oleType = 0x0b, memoType = 0x0c, guidType = 0x0f, numericType = 0x10, complexType = 0x12
};

struct Column {
    QString name;
    std::uint8_t type = 0;
    int number = 0;      // its bit in a row's null mask
    bool fixed = false;
    int fixedOffset = 0; // after the row's column count
    int size = 0;
    int varIndex = 0;    // its slot in a row's variable offsets
    int scale = 0;       // decimals of a NUMERIC
};

// libmdb's definition of a table, with the catalog entry it points back to.
struct MdbDefinition {
    MdbCatalogEntry entry{};
    MdbTableDef* table = nullptr;

    MdbDefinition() = default;
    MdbDefinition(const MdbDefinition&) = delete;
    MdbDefinition& operator=(const MdbDefinition&) = delete;
    ~MdbDefinition() { mdb_free_tabledef(table); }
};

struct TableLayout {
    QString name;
    quint32 definitionPage = 0;
    quint32 declaredRowCount = 0;
    quint32 usedPagesPointer = 0;
    bool hasVariableColumns = false;
    int columnNumberLimit = 0; // every column number stays below it, deleted columns counted
    QList<Column> columns; // in column-number order, as libmdb decoded them
    std::shared_ptr<MdbDefinition> definition;
};

// Checks a table definition (its page chain, counts and page maps) before libmdb reads it:
// libmdb trusts all of these and crashes or loops on bad ones.
TableLayout checkTableDefinition(const PageFile& file, const QString& name, quint32 page);
// Checks the columns libmdb decoded: known types, sizes that fit the type, unique numbers.
void checkColumns(const PageFile& file, const TableLayout& table);

SourceType sourceType(std::uint8_t jetType);

// Calls onRow once per live row, in physical order, with one value per column.
using RowHandler = std::function<void(const QList<SourceValue>&)>;
void scanRows(const PageFile& file, MdbHandle* mdb, const TableLayout& table, const RowHandler& onRow);

} // namespace p1::jetfile
