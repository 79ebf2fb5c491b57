// The host's control of the update machines: each slot's mode and last result, and the poll
// thread's call that runs them.
#pragma once

#include <cstdint>

namespace zavn::firmware {

// Runs one pass for every slot in mode 1 (its own machine) or 100 (the reset of all machines)
// and keeps its result. Called by the poll thread once per cycle, inside the poll lock.
void RunUpdateMachines();

// Every mode and result 0.
void ResetUpdateControl();

}  // namespace zavn::firmware
