#pragma once

#include "stages/stage_frame.h"

namespace p1 {

// Copies the source users ([GLB Medecin]) into MEDECINS, each with a planning subject in
// PL_SUBJ, both under the user's source code. Raises "MEDECINS" and "PL_SUBJ" after each stored
// row. UI thread only.
StageCounts importUsers(RunContext& run);

} // namespace p1
