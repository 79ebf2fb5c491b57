// Puts the firmware state that the library reset owns back to its defaults: every update mode
// and result 0. The reset ends every update run, so the serial numbers the machines kept for a
// write-back are dropped; the machines otherwise keep their state. Called with the poll thread
// stopped, or on it.
#pragma once

namespace zavn::firmware {

void ResetFirmwareState();

}  // namespace zavn::firmware
