#pragma once

#include "stages/stage_frame.h"

namespace p1 {

// Copies the source consultations ([CON CONSULTATION]) into MOTCONSU: the consultations of a
// patient at one exact date-time meet in one row (found in the whole table, or numbered on from
// "MOTCONSU"), their type labels and free texts as lines of MOTIF_DE_CONSULTATION, their detail
// lines ([CON SOUS CONSULTATION]) indented by level as lines of AUTRES. A consultation without a
// date gets a row of its own with no DATE_CONSULTATION. UI thread only.
StageCounts importConsultations(RunContext& run);
// The statements the stage runs on its source file, whose indexes the run makes ahead.
QStringList consultationsSourceStatements();

} // namespace p1
