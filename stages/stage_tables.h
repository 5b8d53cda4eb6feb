#pragma once

#include "platform/source_query.h"
#include "platform/target_sql.h"

namespace p1 {

// Points the shared three-line source query ("SELECT * from ", table line, order line) at a
// table of the given connection. An earlier stage may have left it open or on the other file.
void selectWholeTable(SourceQuery& Sorvane_Select, SourceConnection& connection,
                      const QString& tableLine, const QString& orderLine);

// Opens the dataset on "SELECT * FROM " + table, ready for appending. A dataset that an earlier
// run left open (its run ended on an error) is closed first.
void openWholeTable(TargetDataset& dataset, const QString& table);

} // namespace p1
