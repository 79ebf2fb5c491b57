// The periodic output report: at most once every 200 ms, a 04 64 00 00 to each slot whose link
// is up but whose reads find nothing, then 04 FF and 05 00 to slot 1.
#pragma once

#include <cstdint>

namespace zavn::commands {

inline constexpr std::uint32_t kPeriodicIntervalMs = 200;

// Called by the poll pass once per enabled slot, inside the poll lock. The joystick-loop flag
// does not change what is sent or when.
void SendPeriodicReport(std::uint32_t joystickLoop);

}  // namespace zavn::commands
