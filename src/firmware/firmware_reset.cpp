#include "firmware/firmware_reset.h"

#include "firmware/acknowledgements.h"
#include "firmware/image_checksum.h"
#include "firmware/update_control.h"

namespace zavn::firmware {

void ResetFirmwareState() {
  ResetAcknowledgements();
  ResetImageChecksum();
  ResetUpdateControl();
}

}  // namespace zavn::firmware
