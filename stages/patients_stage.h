#pragma once

#include "stages/stage_frame.h"

namespace p1 {

// Copies the source patients ([GLB PATIENT]) into PATIENTS under each patient's source code,
// with the profession as an ANTECED row and up to six PATMEDTR links to treating physicians,
// both numbered from 1 in every run. Raises "PATIENTS", "ANTECED" and "PATMEDTR" once at the
// end. UI thread only.
StageCounts importPatients(RunContext& run);
// The statements the stage runs on its source file, whose indexes the run makes ahead.
QStringList patientsSourceStatements();

} // namespace p1
