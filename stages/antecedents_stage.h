#pragma once

#include "stages/stage_frame.h"

namespace p1 {

// Copies the source medical history ([ANT ANTECEDENT PATIENT]) into ANTECED: one row per
// patient, found in the whole table (the profession row of the patients stage, or the row made
// for the patient's first antecedent) or numbered on from "ANTECED", each antecedent one more
// line of ANTECEDENTS_MEDICAUX. The summary counts every row with a positive patient code.
// UI thread only.
StageCounts importAntecedents(RunContext& run);
// The statements the stage runs on its source file, whose indexes the run makes ahead.
QStringList antecedentsSourceStatements();

} // namespace p1
