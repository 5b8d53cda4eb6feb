#pragma once

#include "stages/stage_frame.h"

namespace p1 {

// Copies the prescriptions of Ordo.mdb ([ORD ORDONNANCE] and their items in [ORD PRESCRIPTION])
// into the configured prescriptions table: one row per patient and day, attached to a
// consultation found or created in MOTCONSU, the items of each prescription appended to its
// text. Leaves Sorvane_Select and Sorvane_Query1 on Ordo.mdb (the run takes them back).
// Raises the table's key once at the end. UI thread only.
StageCounts importPrescriptions(RunContext& run);
// The statements the stage runs on its source file, whose indexes the run makes ahead.
QStringList prescriptionsSourceStatements();

} // namespace p1
