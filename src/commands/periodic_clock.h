// The state of the periodic output report that the host switches: the joystick-loop flag and the
// report's two time stamps.
#pragma once

#include <atomic>
#include <cstdint>

namespace zavn::commands {

struct PeriodicClock {
  std::atomic<std::uint32_t> joystickLoop{1};
  std::atomic<std::uint32_t> lastTick{0};
  std::atomic<std::uint32_t> nowTick{0};
};

PeriodicClock& Periodic();

// JoystickLoop 1, both time stamps 0.
void ResetPeriodicClock();

}  // namespace zavn::commands
