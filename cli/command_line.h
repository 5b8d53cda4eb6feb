#pragma once

#include "cli/terminal_ui.h"

#include <QStringList>

namespace p1 {

// The import run without the window (arguments without the program name):
//   --source <V4.mdb or folder> --letters <folder> --target <Kelvanor.ver or folder>
//   [--no-purge] [--only <stages>] [--yes] [--target-engine sqlserver|postgres|sqlite]
//   [--report <file.html|.json|.csv>]
//   --init-target <folder> [--target-engine sqlite]
//   --init-target <folder> --target-engine postgres --server <host[:port]|socket folder>
//                 --database <existing empty database> --user <name>   (P1IMPORT_TARGET_PASSWORD)
//   --help
//   --version
// 0 for a run that reached its end (or an empty target created, the help or the version), 1 for
// a run that stopped or failed, 2 for arguments it cannot use, 3 when rows were left out
// (refused, or not accounted for by their stage).
int runCommandLine(const QStringList& arguments);
int runCommandLine(const QStringList& arguments, const TerminalStreams& streams);

} // namespace p1
