#pragma once

#include <QString>

namespace p1 {

// ADOConnectionSorvane: the V4.mdb file the operator chose.
QString sourceConnectionString(const QString& chosenFile);
// ADOConnectionSorvaneOrdo: Ordo.mdb in the folder of the chosen file (folder with separator).
// A path holding ";" or quotes is quoted in the connection string.
QString ordoConnectionString(const QString& sourceFolder);

} // namespace p1
