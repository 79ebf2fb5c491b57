#include "commands/periodic_clock.h"

#include "platform/system.h"
#include "zavn/zavn.h"

namespace zavn::commands {
namespace {
PeriodicClock g_clock;
}

PeriodicClock& Periodic() {
  return g_clock;
}

void ResetPeriodicClock() {
  g_clock.joystickLoop = 1;
  g_clock.lastTick = 0;
  g_clock.nowTick = 0;
}

}  // namespace zavn::commands

extern "C" ZAVN_API int32_t ZAVN_CALL ZAVNTurnONJoystickAPILoop(uint32_t on) {
  zavn::commands::PeriodicClock& clock = zavn::commands::Periodic();
  if (on != clock.joystickLoop) {
    // A change restarts the periodic report's clock: two readings, as the report takes them.
    clock.lastTick = zavn::platform::ActiveSystem().TickMs();
    clock.nowTick = zavn::platform::ActiveSystem().TickMs();
  }
  clock.joystickLoop = on;
  return 1;
}
