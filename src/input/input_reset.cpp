#include "input/input_reset.h"

#include "input/acknowledgements.h"
#include "input/decoder.h"
#include "input/motion.h"
#include "input/rate_meter.h"
#include "input/slot_report_mode.h"
#include "input/status_records.h"

namespace zavn::input {

void ResetInputState() {
  ResetStatusRecords();
  ResetDecoderState();
  ResetSlotReportModes();
  ResetAcknowledgements();
  ResetMotion();
  // Last: the window starts at the end of the reset.
  ResetRateMeter();
}

}  // namespace zavn::input
