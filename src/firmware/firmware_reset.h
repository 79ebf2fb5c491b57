// Puts the firmware state that the library reset owns back to its defaults: every update mode
// and result 0. The machines themselves keep their state.
#pragma once

namespace zavn::firmware {

void ResetFirmwareState();

}  // namespace zavn::firmware
