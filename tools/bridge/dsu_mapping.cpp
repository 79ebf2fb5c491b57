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

// The controls are the packet's button bits as they stand.
static_assert(static_cast<int>(Control::kSouth) == kCross &&
              static_cast<int>(Control::kL2) == kL2 &&
              static_cast<int>(Control::kTouch) == kTouchButton &&
              static_cast<int>(Control::kRight) == kDpadRight && kControls == kButtonCount);

DsuPad MapSample(const ZAVNMotionSample& sample, const ControlMapping& mapping,
                 const StickState& sticks) {
  DsuPad pad;
  pad.buttons = PressedControls(sample.buttons, sticks, mapping);
  pad.leftX = StickByte(sticks.leftX);
  pad.leftY = StickByte(sticks.leftY);
  pad.rightX = StickByte(sticks.rightX);
  pad.rightY = StickByte(sticks.rightY);
  pad.analogL2 = TriggerByte(sticks.l2);
  pad.analogR2 = TriggerByte(sticks.r2);
  pad.timeUs = static_cast<std::uint64_t>(std::max<std::int64_t>(sample.timeUs, 0));
  for (int k = 0; k < 3; ++k) {
    pad.accelG[k] = kAccelSources[k].sign * sample.accelG[kAccelSources[k].axis];
    pad.gyroDps[k] = kGyroSources[k].sign * sample.gyroDps[kGyroSources[k].axis];
  }
  return pad;
}

}  // namespace bridge::dsu
