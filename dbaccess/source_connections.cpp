#include "dbaccess/source_connections.h"

#include "common/connection_strings.h"
#include "common/files.h"

namespace p1 {

namespace {
QString jetConnectionString(const QString& dataSource)
{
    return QStringLiteral("Provider=Microsoft.Jet.OLEDB.4.0;User ID=Admin;Data Source=")
           + connectionStringValue(dataSource)
           + ";Mode=Share Deny None;Persist Security Info=False;";
}
} // namespace

QString sourceConnectionString(const QString& chosenFile)
{
    return jetConnectionString(chosenFile);
}

QString ordoConnectionString(const QString& sourceFolder)
{
    // Found as Windows finds it, whatever the case of its letters.
    return jetConnectionString(resolveWindowsName(sourceFolder, QStringLiteral("Ordo.mdb")));
}

} // namespace p1
