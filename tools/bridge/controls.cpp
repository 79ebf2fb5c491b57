#include "controls.h"

#include <algorithm>

namespace bridge {

StickState SticksOf(const std::int32_t (&extension)[ZAVN_EXTENSION_CHANNELS],
                    const ControlMapping& mapping) {
  StickState sticks;
  for (int k = 0; k < ZAVN_EXTENSION_CHANNELS; ++k) {
    const ControlMapping::Axis& axis = mapping.extension[k];
    if (axis.target == StickAxis::kNone || axis.full == axis.rest) continue;
    const auto bits = static_cast<std::uint16_t>(extension[k]);
    const std::int32_t value = axis.isSigned ? static_cast<std::int16_t>(bits) : bits;
    const auto travel =
        static_cast<float>(double(value - axis.rest) / double(axis.full - axis.rest));
    const float stick = std::clamp(travel, -1.0f, 1.0f), trigger = std::clamp(travel, 0.0f, 1.0f);
    switch (axis.target) {
      case StickAxis::kLeftX:
        sticks.leftX = stick;
        break;
      case StickAxis::kLeftY:
        sticks.leftY = stick;
        break;
      case StickAxis::kRightX:
        sticks.rightX = stick;
        break;
      case StickAxis::kRightY:
        sticks.rightY = stick;
        break;
      case StickAxis::kL2:
        sticks.l2 = trigger;
        break;
      case StickAxis::kR2:
        sticks.r2 = trigger;
        break;
      case StickAxis::kNone:
        break;
    }
  }
  return sticks;
}

std::uint32_t PressedControls(std::uint32_t buttons, const StickState& sticks,
                              const ControlMapping& mapping) {
  std::uint32_t pressed = 0;
  for (int bit = 0; bit < ZAVN_BUTTON_COUNT; ++bit) {
    const int control = mapping.buttons[bit];
    if ((buttons >> bit & 1u) != 0 && control >= 0 && control < kControls) pressed |= 1u << control;
  }
  if (sticks.l2 >= kTriggerPressed) pressed |= 1u << static_cast<int>(Control::kL2);
  if (sticks.r2 >= kTriggerPressed) pressed |= 1u << static_cast<int>(Control::kR2);
  return pressed;
}

}  // namespace bridge
