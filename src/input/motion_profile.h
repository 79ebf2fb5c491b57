// The sensor profile: what each of a record's six motion channels measures, its zero and its
// counts per unit, and what the G-sensitivity switch does to the acceleration channels; and the
// profile files that replace the defaults per player or per transmitter serial number.
//
// A profile file is an INI file. Its sections are [default], [player N] (N = 1..4) and
// [serial TEXT] (the serial number as zavn-monitor shows it); a section names only what differs
// from [default], which names only what differs from the built-in defaults:
//   Motion0 = +AccelX 32768 8192     ; sign and quantity, zero (counts), counts per g or per deg/s
//   Motion3 = -GyroZ 32768 16.384
//   GSensitivity = 2 1 0.5 0.25      ; counts-per-g factor after the switch's value 0, 1, 2, 3
// Comments start with ';' or '#'. Names match without regard to case. Sections whose name
// starts with "controls" hold zavn-bridge's mapping of the buttons and extension: passed over.
#pragma once

#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "zavn/zavn_motion.h"
#include "zavn/zavn_status.h"

namespace zavn::input {

inline constexpr int kGSensitivityValues = 4;

struct ChannelRule {
  bool gyro = false;  // rotation rate (deg/s); else acceleration (g)
  int axis = 0;       // x, y, z
  float sign = 1;     // +1 or -1
  float zero = ZAVN_MOTION_DEFAULT_ZERO;
  float countsPerUnit = ZAVN_MOTION_DEFAULT_COUNTS_PER_G;
};

struct SensorProfile {
  ChannelRule channels[ZAVN_MOTION_CHANNELS];
  // Counts per g are multiplied by this after ZAVNSwitchGSensitivity(player, value 0..3).
  float gSensitivityFactor[kGSensitivityValues] = {2.0f, 1.0f, 0.5f, 0.25f};
};

// Motion[0..2] acceleration x, y, z; Motion[3..5] rotation about x, y, z; centred on 32768.
SensorProfile DefaultProfile();

// A profile file as read: its sections over the defaults.
struct ProfileSet {
  SensorProfile fallback = DefaultProfile();
  bool hasPlayer[4] = {};
  SensorProfile player[4];
  // A deque: the reader keeps pointers to the sections it has made while it adds more.
  std::deque<std::pair<std::string, SensorProfile>> serials;

  // The serial's profile, else the player's (1..4), else the fallback. `serial` is the
  // printable serial number ("" when none is known).
  const SensorProfile& For(std::int32_t playerIndex, const std::string& serial) const;
};

// Reads a profile file; on a broken rule returns null and `error` names the file, line and key.
std::shared_ptr<const ProfileSet> ReadProfileFile(const char* path, std::string& error);

// The serial number as zavn-monitor prints it: up to the block's first NUL, each character that
// is not printable ASCII as '.'.
std::string PrintableSerial(const std::uint8_t (&block)[16]);

}  // namespace zavn::input
