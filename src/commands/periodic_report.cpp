#include "commands/periodic_report.h"

#include "commands/periodic_clock.h"
#include "commands/senders.h"
#include "platform/system.h"
#include "transport/link_table.h"

namespace zavn::commands {
namespace {

constexpr std::int32_t kLinkCheckValue = 0x64;
constexpr std::int32_t kPeriodicRawData = 0xFF;
constexpr std::int32_t kPeriodicGameMode = 0x00;
constexpr std::int32_t kFirstPlayer = 1;

// Whether the period has passed; the one gate for the whole library.
bool PeriodElapsed(PeriodicClock& clock) {
  platform::System& system = platform::ActiveSystem();
  if (clock.lastTick == 0) {
    // The first call after a reset only takes the time.
    clock.lastTick = system.TickMs();
    if (clock.lastTick != 0) clock.nowTick = system.TickMs();
  } else {
    clock.nowTick = system.TickMs();
  }
  return clock.nowTick - clock.lastTick > kPeriodicIntervalMs;  // unsigned: wraps with the tick
}

void Emit() {
  transport::LinkTable& links = transport::Links();
  for (int i = 0; i < transport::kSlotCount; ++i) {
    // The link is up but the slot's latest read failed or has found nothing for 500 ms.
    if (links.txStatus[i] != LINK_OK && links.rxStatus[i] == LINK_OK) {
      Send(i + 1, BuildValue(id::kPlayerNumber, kLinkCheckValue));
    }
  }
  Send(kFirstPlayer, BuildSwitch(id::kRawData, kPeriodicRawData));
  Send(kFirstPlayer, BuildSwitch(id::kGameMode, kPeriodicGameMode));
}

}  // namespace

void SendPeriodicReport(std::uint32_t) {
  PeriodicClock& clock = Periodic();
  if (!PeriodElapsed(clock)) return;
  Emit();
  clock.lastTick = clock.nowTick.load();
}

}  // namespace zavn::commands
