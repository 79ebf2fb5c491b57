#include "input/slot_report_mode.h"

#include "transport/hid_device.h"

namespace zavn::input {
namespace {
std::atomic<std::int32_t> g_modes[transport::kSlotCount] = {kShortReportMode, kShortReportMode,
                                                            kShortReportMode, kShortReportMode};
}

std::atomic<std::int32_t>& SlotReportMode(int slot) {
  return g_modes[slot];
}

void ResetSlotReportModes() {
  for (auto& mode : g_modes) mode = kShortReportMode;
}

}  // namespace zavn::input
