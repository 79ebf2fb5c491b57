#include "firmware/firmware_reset.h"

#include "firmware/update_control.h"

namespace zavn::firmware {

void ResetFirmwareState() {
  ResetUpdateControl();
}

}  // namespace zavn::firmware
