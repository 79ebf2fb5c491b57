#include "firmware/firmware_reset.h"

#include "firmware/update_control.h"
#include "firmware/update_machine.h"

namespace zavn::firmware {

void ResetFirmwareState() {
  ResetUpdateControl();
  for (std::int32_t slot = 1; slot <= kUpdateSlots; ++slot) ForgetKeptSerial(slot);
}

}  // namespace zavn::firmware
