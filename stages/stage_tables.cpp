#include "stages/stage_tables.h"

namespace p1 {

void selectWholeTable(SourceQuery& Sorvane_Select, SourceConnection& connection,
                      const QString& tableLine, const QString& orderLine)
{
    Sorvane_Select.close();
    if (Sorvane_Select.connection() != &connection)
        Sorvane_Select.setConnection(&connection);
    Sorvane_Select.sql() = {QStringLiteral("SELECT * from "), tableLine, orderLine};
}

void openWholeTable(TargetDataset& dataset, const QString& table)
{
    dataset.close();
    dataset.setCommandText(QStringLiteral("SELECT * FROM ") + table);
    dataset.open();
}

} // namespace p1
