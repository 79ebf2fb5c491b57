#include "transport/report_writer.h"

#include "transport/capture.h"
#include "transport/hid_device.h"
#include "transport/queued_writes.h"

namespace zavn::transport {

platform::WriteOutcome WriteOutputReport(std::int32_t playerIndex, const std::uint8_t* report,
                                         std::uint32_t length) {
  if (playerIndex < 1 || playerIndex > kSlotCount) return {};
  if (WritesAreQueuedOnThisThread()) {
    // The poll thread's report goes to the writer: that it was queued is all it learns.
    if (!Slot(playerIndex - 1).MarkedOpen()) return {};
    return {QueueOutputReport(playerIndex - 1, report, length), 0};
  }
  const platform::WriteOutcome outcome = Slot(playerIndex - 1).WriteOutputReport(report, length);
  if (outcome.written) CaptureOutput(playerIndex - 1, report, length);
  return outcome;
}

}  // namespace zavn::transport
