// Puts the firmware state that the library reset owns back to its defaults: every grant 1, the
// image checksum 0, every update mode and result 0. The machines themselves keep their state.
#pragma once

namespace zavn::firmware {

void ResetFirmwareState();

}  // namespace zavn::firmware
