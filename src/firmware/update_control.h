// The host's control of the update machines: each slot's mode and last result, and the poll
// thread's call that runs them.
#pragma once

#include <cstdint>

namespace zavn::firmware {

// Runs one pass for every slot in mode 1 (its own machine) or 100 (the reset of all machines)
// and keeps its result. Called by the poll thread once per cycle, inside the poll lock.
//
// An update run of a slot lasts from its mode set to 1 from another mode until the mode is set
// to anything else (a later 1 starts a new run, from the machine's state) or the machine is
// done. The serial number a run reads is written back in that run only: the receiver may have
// been exchanged while the machine stood still.
void RunUpdateMachines();

// Every mode and result 0.
void ResetUpdateControl();

}  // namespace zavn::firmware
