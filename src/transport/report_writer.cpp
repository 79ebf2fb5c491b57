#include "transport/report_writer.h"

#include "transport/hid_device.h"

namespace zavn::transport {

platform::WriteOutcome WriteOutputReport(std::int32_t playerIndex, const std::uint8_t* report,
                                         std::uint32_t length) {
  if (playerIndex < 1 || playerIndex > kSlotCount) return {};
  return Slot(playerIndex - 1).WriteOutputReport(report, length);
}

}  // namespace zavn::transport
