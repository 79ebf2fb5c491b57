// The controls the bridge's outputs offer programs (the buttons, sticks and triggers of a common
// gamepad), and which button bit or extension channel of the receiver's records drives each.
// What the bits and channels are on the transmitter is not known to the library: the defaults
// below are a documented choice, and a mapping may replace them.
#pragma once

#include <array>
#include <cstdint>

#include "zavn/zavn.h"

namespace bridge {

// In the order of the DSU data packet's button bits (see dsu_protocol.h).
enum class Control : int {
  kSouth,  // cross / A
  kEast,   // circle / B
  kWest,   // square / X
  kNorth,  // triangle / Y
  kL1,
  kR1,
  kL2,
  kR2,
  kShare,    // select / back
  kOptions,  // start
  kL3,
  kR3,
  kHome,
  kTouch,  // the touch pad's click
  kUp,
  kDown,
  kLeft,
  kRight,
  kCount,
};
inline constexpr int kControls = static_cast<int>(Control::kCount);

enum class StickAxis { kNone, kLeftX, kLeftY, kRightX, kRightY, kL2, kR2 };

struct ControlMapping {
  static constexpr int kNoControl = -1;
  // Per button bit 0..22 (ZAVNMotionSample::buttons): the Control it presses, or kNoControl.
  // By default bits 0..17 press the controls in Control's order, bits 18..22 nothing.
  std::array<int, ZAVN_BUTTON_COUNT> buttons = [] {
    std::array<int, ZAVN_BUTTON_COUNT> bits{};
    for (int bit = 0; bit < ZAVN_BUTTON_COUNT; ++bit)
      bits[bit] = bit < kControls ? bit : kNoControl;
    return bits;
  }();

  // An extension channel's value v (its low 16 bits, signed or not) drives `target` by
  // (v - rest) / (full - rest): -1..1 for a stick axis (right and up positive), 0..1 for a
  // trigger, clamped. By default the channels are the left stick's x and y and the L2 trigger,
  // signed with 0 at rest, so that a transmitter without the extension (zeros) leaves them at rest.
  struct Axis {
    StickAxis target = StickAxis::kNone;
    bool isSigned = true;
    std::int32_t rest = 0;
    std::int32_t full = 32767;
  };
  std::array<Axis, ZAVN_EXTENSION_CHANNELS> extension = {
      Axis{StickAxis::kLeftX}, Axis{StickAxis::kLeftY}, Axis{StickAxis::kL2}};
};

// A trigger at least this far down also presses its button.
inline constexpr float kTriggerPressed = 0.5f;

struct StickState {
  float leftX = 0, leftY = 0, rightX = 0, rightY = 0;  // -1..1
  float l2 = 0, r2 = 0;                                // 0..1
};
StickState SticksOf(const std::int32_t (&extension)[ZAVN_EXTENSION_CHANNELS],
                    const ControlMapping& mapping);

// The controls pressed, as bits 1 << Control: the buttons' and the triggers pressed far enough.
std::uint32_t PressedControls(std::uint32_t buttons, const StickState& sticks,
                              const ControlMapping& mapping);

}  // namespace bridge
