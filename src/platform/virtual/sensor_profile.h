// The default sensor profile as the virtual transmitter produces its counts (zavn/zavn_motion.h
// documents it; the library decodes with the same values): Motion[0..2] acceleration along x, y,
// z in g, Motion[3..5] rotation rate about x, y, z in degrees per second, all with sign +, each
// centred on kMotionZero.
#pragma once

#include "zavn/zavn_motion.h"

namespace zavn::platform::virt {

inline constexpr int kMotionZero = ZAVN_MOTION_DEFAULT_ZERO;
inline constexpr int kMotionMaxCount = 65535;
// Counts per g by G-sensitivity switch value 0..3 (+-2, +-4, +-8, +-16 g); +-4 g until the
// host switches.
inline constexpr double kCountsPerGBySensitivity[] = {16384.0, 8192.0, 4096.0, 2048.0};
inline constexpr int kDefaultGSensitivity = 1;
inline constexpr double kCountsPerG = kCountsPerGBySensitivity[kDefaultGSensitivity];
inline constexpr double kCountsPerDps = ZAVN_MOTION_DEFAULT_COUNTS_PER_DPS;
static_assert(kCountsPerG == ZAVN_MOTION_DEFAULT_COUNTS_PER_G);

}  // namespace zavn::platform::virt
