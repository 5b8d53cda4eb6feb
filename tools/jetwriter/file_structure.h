#pragma once

#include "tools/jetwriter/page_store.h"
#include "tools/jetwriter/row_encoder.h"

#include <vector>

namespace p1::jet::writing {

// Page 0: the database header, its 128-byte region masked the way Jet masks it.
QByteArray headerPage();

// The row that lists a table's pages (ascending). A table spanning more pages than an inline
// bitmap covers gets a reference map whose bitmap pages are allocated in the store.
QByteArray usageMap(const std::vector<quint32>& pages, PageStore& store);

struct TableDefinition {
    const TableLayout& layout;
    qint64 rowCount = 0;
    bool system = false;
    quint32 usedPagesMap = 0; // page/row pointer of the usage map row
};

// Writes the definition on its first page and chains continuation pages when it is longer.
void writeTableDefinition(const TableDefinition& definition, quint32 firstPage, PageStore& store);

} // namespace p1::jet::writing
