// The input report form of each slot: 32-byte reports until the decoder sees a long one.
#pragma once

#include <atomic>
#include <cstdint>

namespace zavn::input {

inline constexpr std::int32_t kShortReportMode = 32;
inline constexpr std::int32_t kLongReportMode = 64;

// Entry PlayerIndex - 1.
std::atomic<std::int32_t>& SlotReportMode(int slot);

// Every slot back to kShortReportMode.
void ResetSlotReportModes();

}  // namespace zavn::input
