#pragma once

#include "run/run_context.h"

namespace p1 {

void importCorrespondents(RunContext& run);

} // namespace p1
