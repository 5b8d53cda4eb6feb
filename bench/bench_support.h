#pragma once

// What every stage benchmark starts from: the engines at hand and the practice sizes.

#include "tests/support/target_databases.h"

#include <QList>

#include <cstdio>
#include <cstdlib>

namespace p1::test {

// SQLite, and PostgreSQL when scripts/with-postgres.sh provides a server.
inline QList<TargetEngine> benchEngines()
{
    QList<TargetEngine> engines = {TargetEngine::Sqlite};
    if (postgresAvailable())
        engines.append(TargetEngine::Postgres);
    else
        std::printf("PostgreSQL: no server (run under scripts/with-postgres.sh)\n");
    return engines;
}

// Sizes in patients from the command line, 20,000 and 80,000 by default.
inline QList<int> benchSizes(int argc, char** argv)
{
    QList<int> sizes;
    for (int at = 1; at < argc; ++at)
        sizes.append(std::atoi(argv[at]));
    return sizes.isEmpty() ? QList<int>{20000, 80000} : sizes;
}

} // namespace p1::test
