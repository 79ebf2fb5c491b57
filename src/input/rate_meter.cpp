#include "input/rate_meter.h"

#include <atomic>

#include "input/status_records.h"
#include "platform/system.h"
#include "zavn/zavn.h"

namespace zavn::input {
namespace {

// One window per player: with a window shared by all players, the player whose records always
// come second after the window's end (player 1 beside player 2, polled in the same pass) would
// never have its rate measured.
struct PlayerRate {
  std::atomic<std::uint32_t> windowStart{0};
  std::atomic<std::uint32_t> lastTick{0};  // the tick of the player's previous run
  std::atomic<std::int32_t> previousRecords{0};
  std::atomic<std::int32_t> previousSecondary{0};
  std::atomic<std::uint32_t> rates[kRateWords]{};
};

PlayerRate g_rates[4];

// The record counters run 0..kMaxRecordCount and then start again at 0, so they count modulo
// this; the meter may see kMaxRecordCount + 1 itself (the count before its wrap), which is 0.
constexpr std::int64_t kRecordCountRange = std::int64_t{kMaxRecordCount} + 1;

// The change of a counter over the window, modulo the counter's range: a window across the wrap
// counts the records it saw, not the distance between the wrapped values.
std::uint32_t Change(std::int32_t now, std::atomic<std::int32_t>& previous) {
  const std::int64_t change = (std::int64_t{now} - previous.exchange(now)) % kRecordCountRange;
  return static_cast<std::uint32_t>(change < 0 ? change + kRecordCountRange : change);
}

}  // namespace

void RunRateMeter(std::int32_t player, const PlayerStatus& status, std::uint32_t tick) {
  PlayerRate& rate = g_rates[player - 1];
  const std::uint32_t last = rate.lastTick;
  if (last - rate.windowStart >= kRateWindowMs) {
    rate.windowStart = last;
    rate.rates[0] = Change(status.RecordCount, rate.previousRecords);
    rate.rates[1] = Change(status.SecondaryRecordCount, rate.previousSecondary);
  }
  // Once per motion record: relaxed, as nothing else is published with it.
  rate.lastTick.store(tick, std::memory_order_relaxed);
}

std::uint32_t RecordRate(std::int32_t player, int word) {
  return g_rates[player - 1].rates[word];
}

void ResetRateMeter() {
  for (PlayerRate& rate : g_rates) {
    rate.previousRecords = 0;
    rate.previousSecondary = 0;
    for (auto& word : rate.rates) word = 0;
  }
  for (PlayerRate& rate : g_rates) {
    rate.windowStart = platform::ActiveSystem().TickMs();
    rate.lastTick = platform::ActiveSystem().TickMs();
  }
}

}  // namespace zavn::input

extern "C" ZAVN_API int32_t ZAVN_CALL ZAVNGetRawdataFPS(int32_t, uint32_t** rates) {
  if (rates == nullptr) return 1;
  for (std::int32_t player = 1; player <= 4; ++player) {
    uint32_t* words = rates[player - 1];
    if (words == nullptr) continue;
    for (int word = 0; word < zavn::input::kRateWords; ++word) {
      words[word] = zavn::input::RecordRate(player, word);
    }
  }
  return 1;
}
