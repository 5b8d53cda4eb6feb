#include "stages/stage_tables.h"

#include "run/import_run.h"

namespace p1 {

void selectWholeTable(SourceQuery& Sorvane_Select, SourceConnection& connection,
                      const QString& tableLine, const QString& orderLine)
{
    Sorvane_Select.close();
    if (Sorvane_Select.connection() != &connection)
        Sorvane_Select.setConnection(&connection);
    QStringList lines = sharedSelectLines();
    lines[1] = tableLine;
    lines[2] = orderLine;
    Sorvane_Select.sql() = lines;
}

void openWholeTable(TargetDataset& dataset, const QString& table)
{
    dataset.close();
    dataset.setCommandText(QStringLiteral("SELECT * FROM ") + table);
    dataset.open();
}

} // namespace p1
