// The default sensor profile: what the six motion counts of a record measure. Motion[0..2] are
// acceleration along x, y, z in g, Motion[3..5] rotation rate about x, y, z in degrees per
// second, all with sign +, each centred on kMotionZero. The virtual transmitter produces its
// counts with these; the library decodes them with the same values.
#pragma once

namespace zavn::platform::virt {

inline constexpr int kMotionZero = 32768;
inline constexpr int kMotionMaxCount = 65535;
// Counts per g by G-sensitivity switch value 0..3 (+-2, +-4, +-8, +-16 g); +-4 g until the
// host switches.
inline constexpr double kCountsPerGBySensitivity[] = {16384.0, 8192.0, 4096.0, 2048.0};
inline constexpr int kDefaultGSensitivity = 1;
inline constexpr double kCountsPerG = kCountsPerGBySensitivity[kDefaultGSensitivity];
inline constexpr double kCountsPerDps = 16.384;  // +-2000 deg/s

}  // namespace zavn::platform::virt
