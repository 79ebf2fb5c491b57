#include "dsu_mapping.h"

#include <algorithm>
#include <cmath>

namespace bridge::dsu {
namespace {

// Each DSU motion field: the sample's axis it takes and the sign (see the table in the header).
struct AxisSource {
  int axis;
  float sign;
};
constexpr AxisSource kAccelSources[3] = {{0, -1}, {2, -1}, {1, +1}};  // x, y, z
constexpr AxisSource kGyroSources[3] = {{0, +1}, {2, -1}, {1, +1}};   // pitch, yaw, roll

std::uint8_t StickByte(double travel) {  // -1..1 to 1..255, 128 centred
  return static_cast<std::uint8_t>(128 + std::lround(std::clamp(travel, -1.0, 1.0) * 127));
}
std::uint8_t TriggerByte(double travel) {  // 0..1 to 0..255
  return static_cast<std::uint8_t>(std::lround(std::clamp(travel, 0.0, 1.0) * 255));
}

}  // namespace

DsuPad MapSample(const ZAVNMotionSample& sample, const ControlMapping& mapping,
                 const std::int32_t* extension) {
  DsuPad pad;
  for (int k = 0; k < ZAVN_BUTTON_COUNT; ++k) {
    const int button = mapping.buttons[k];
    if ((sample.buttons >> k & 1) && button >= 0 && button < kButtonCount)
      pad.buttons |= 1u << button;
  }
  for (int k = 0; extension && k < ZAVN_EXTENSION_CHANNELS; ++k) {
    const ControlMapping::Axis& axis = mapping.extension[k];
    if (axis.target == DsuAxis::kNone || axis.full == axis.rest) continue;
    const auto bits = static_cast<std::uint16_t>(extension[k]);
    const std::int32_t value = axis.isSigned ? static_cast<std::int16_t>(bits) : bits;
    const double travel = double(value - axis.rest) / double(axis.full - axis.rest);
    switch (axis.target) {
      case DsuAxis::kLeftX:
        pad.leftX = StickByte(travel);
        break;
      case DsuAxis::kLeftY:
        pad.leftY = StickByte(travel);
        break;
      case DsuAxis::kRightX:
        pad.rightX = StickByte(travel);
        break;
      case DsuAxis::kRightY:
        pad.rightY = StickByte(travel);
        break;
      case DsuAxis::kL2:
        pad.analogL2 = TriggerByte(travel);
        break;
      case DsuAxis::kR2:
        pad.analogR2 = TriggerByte(travel);
        break;
      case DsuAxis::kNone:
        break;
    }
  }
  if (pad.analogL2 >= kTriggerPressed) pad.buttons |= 1u << kL2;
  if (pad.analogR2 >= kTriggerPressed) pad.buttons |= 1u << kR2;

  pad.timeUs = static_cast<std::uint64_t>(std::max<std::int64_t>(sample.timeUs, 0));
  for (int k = 0; k < 3; ++k) {
    pad.accelG[k] = kAccelSources[k].sign * sample.accelG[kAccelSources[k].axis];
    pad.gyroDps[k] = kGyroSources[k].sign * sample.gyroDps[kGyroSources[k].axis];
  }
  return pad;
}

}  // namespace bridge::dsu
