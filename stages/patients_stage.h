#pragma once

#include "run/run_context.h"

namespace p1 {

void importPatients(RunContext& run);

} // namespace p1
