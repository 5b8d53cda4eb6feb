#pragma once

#include "stages/stage_frame.h"

namespace p1 {

// Copies the source letters ([COU COURRIER GENERE] and their RTF files) into LETTERS and the
// target's letter store, LETTERS/<patient code>/LET<n>.HED beside Kelvanor.ver, numbering them
// from "LETTERS" in ID_VALUES; a row is stored only once its file stands under its new name.
// A file that cannot be copied ends the run. UI thread only.
StageCounts importLetters(RunContext& run);
// The statements the stage runs on its source file, whose indexes the run makes ahead.
QStringList lettersSourceStatements();

} // namespace p1
