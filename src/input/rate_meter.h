// Records per second of each player, measured over windows of at least a second: the player's
// first motion record after its window's end recomputes its rates from the change of its counters.
#pragma once

#include <cstdint>

#include "zavn/zavn_status.h"

namespace zavn::input {

inline constexpr std::uint32_t kRateWindowMs = 1000;
inline constexpr int kRateWords = 4;  // records/s, secondary records/s, two words kept 0

// Runs after each motion record of player 1..4, with the record's counters already updated;
// tick is the millisecond tick of the decode the record came in.
void RunRateMeter(std::int32_t player, const PlayerStatus& status, std::uint32_t tick);

std::uint32_t RecordRate(std::int32_t player, int word);

// Rates and previous counts 0; the window starts now (two readings of the tick).
void ResetRateMeter();

}  // namespace zavn::input
