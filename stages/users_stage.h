#pragma once

#include "run/run_context.h"

namespace p1 {

void importUsers(RunContext& run);

} // namespace p1
