// From a player's motion sample (and its extension triple) to a DSU data packet's controls and
// motion.
//
// Motion: DSU clients expect a DualShock 4's axes. The protocol's public description (the
// "cemuhook-protocol" reference) gives the fields and units: accelerometer x, y, z in g, gyro
// pitch, yaw, roll in deg/s. Their directions are those of DS4Windows' DSU server, the server
// cemuhook was made with: the DS4's raw accelerometer negated (its raw frame: x right, y up out of
// the face, z toward the player; lying face up it reads +1 g on y), pitch the raw gyro x, yaw and
// roll the raw gyro y and z negated. Dolphin's DSU client reads them the same way ("Accel Up" is
// -y, "Gyro Pitch Up", "Yaw Right" and "Roll Right" are positive). From our frame (x right,
// y forward, z up out of the top face, right-handed):
//
//   DSU field    from the sample    a still controller reads / a turn reads positive
//   accel x      -accelG[0]         -1 g with its right side up
//   accel y      -accelG[2]         -1 g lying face up
//   accel z      +accelG[1]         +1 g pointing up
//   gyro pitch   +gyroDps[0]        its front rising
//   gyro yaw     -gyroDps[2]        turning right, seen from above
//   gyro roll    +gyroDps[1]        its right side going down
//
// Controls: what the buttons and the extension triple mean is not known, so ControlMapping's
// defaults are a choice (another source may replace them): Buttons bits 0..17 press cross,
// circle, square, triangle, L1, R1, L2, R2, share, options, L3, R3, home, touch button, D-pad up,
// down, left, right; bits 18..22 nothing. Extension values 0, 1, 2 drive the left stick's x and y
// (y positive upward) and the L2 trigger, each read as a signed 16-bit value with 0 at rest and
// 32767 at full travel, so a controller that sends zeros leaves the stick centred and L2 up.
#pragma once

#include <array>
#include <cstdint>

#include "dsu_protocol.h"
#include "zavn/zavn_motion.h"
#include "zavn/zavn_status.h"

// In bridge::dsu: tools/bridge/controls.h has a bridge::ControlMapping of its own.
namespace bridge::dsu {

enum class DsuAxis { kNone, kLeftX, kLeftY, kRightX, kRightY, kL2, kR2 };

struct ControlMapping {
  static constexpr int kNoButton = -1;
  // buttons[k]: the Button that Buttons bit k presses, or kNoButton.
  std::array<int, ZAVN_BUTTON_COUNT> buttons = {
      kCross,    kCircle,    kSquare,   kTriangle, kL1,       kR1,          kL2,      kR2,
      kShare,    kOptions,   kL3,       kR3,       kHome,     kTouchButton, kDpadUp,  kDpadDown,
      kDpadLeft, kDpadRight, kNoButton, kNoButton, kNoButton, kNoButton,    kNoButton};

  // An extension value v (its low 16 bits, signed or not) drives target by
  // (v - rest) / (full - rest): -1..1 for a stick, 0..1 for a trigger, clamped.
  struct Axis {
    DsuAxis target = DsuAxis::kNone;
    bool isSigned = true;
    std::int32_t rest = 0;
    std::int32_t full = 32767;
  };
  std::array<Axis, ZAVN_EXTENSION_CHANNELS> extension = {Axis{DsuAxis::kLeftX},
                                                         Axis{DsuAxis::kLeftY}, Axis{DsuAxis::kL2}};
};

// A trigger at least this far down also presses its digital button.
inline constexpr std::uint8_t kTriggerPressed = 128;

// extension: the player's three extension values (PlayerStatus::Extension), or null for none.
DsuPad MapSample(const ZAVNMotionSample& sample, const ControlMapping& mapping,
                 const std::int32_t* extension = nullptr);

}  // namespace bridge::dsu
