#include "dbaccess/source_connections.h"

namespace p1 {

namespace {
QString jetConnectionString(const QString& dataSource)
{
    return QStringLiteral("Provider=Microsoft.Jet.OLEDB.4.0;User ID=Admin;Data Source=") + dataSource
           + ";Mode=Share Deny None;Persist Security Info=False;";
}
} // namespace

QString sourceConnectionString(const QString& chosenFile)
{
    return jetConnectionString(chosenFile);
}

QString ordoConnectionString(const QString& sourceFolder)
{
    return jetConnectionString(sourceFolder + "Ordo.mdb");
}

} // namespace p1
