#pragma once

#include "stages/stage_frame.h"

namespace p1 {

// Copies the source address book ([ADR CARNET ADRESSE]) into MEDTRAIT under each entry's source
// code, then raises "MEDTRAIT" once to the highest code stored. UI thread only.
StageCounts importCorrespondents(RunContext& run);

} // namespace p1
