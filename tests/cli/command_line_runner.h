#pragma once

// Runs the command line in-process on temporary files for its three streams.

#include "cli/command_line.h"
#include "tests/support/target_databases.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <cstdio>

namespace p1::test {

struct CommandLineOutcome {
    int status;
    QString out;
    QString err;
};

// The whole content of a temporary stream, which is then closed.
inline QString readAllAndClose(FILE* file)
{
    std::rewind(file);
    QByteArray content;
    char buffer[4096];
    for (size_t size; (size = std::fread(buffer, 1, sizeof buffer, file)) > 0;)
        content.append(buffer, static_cast<qsizetype>(size));
    std::fclose(file);
    return QString::fromUtf8(content);
}

inline CommandLineOutcome runCommandLineWith(const QStringList& arguments, const QByteArray& input = {})
{
    FILE* out = std::tmpfile();
    FILE* err = std::tmpfile();
    FILE* in = std::tmpfile();
    std::fwrite(input.constData(), 1, static_cast<size_t>(input.size()), in);
    std::rewind(in);
    const int status = runCommandLine(arguments, TerminalStreams{out, err, in});
    std::fclose(in);
    return {status, readAllAndClose(out), readAllAndClose(err)};
}

// What makes an empty database of the throwaway server (makePostgresTarget(false)) a target
// whose settings go into the folder.
inline QStringList postgresInitArguments(const QString& folder, const TestTarget& emptyDatabase)
{
    return {"--init-target", folder, "--target-engine", "postgres", "--server", postgresDataSource(),
            "--database", emptyDatabase.databaseName, "--user", qEnvironmentVariable("P1_PG_USER")};
}

} // namespace p1::test
