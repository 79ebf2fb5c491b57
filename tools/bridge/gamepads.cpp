#include "gamepads.h"

#include <fcntl.h>
#include <libevdev/libevdev-uinput.h>
#include <libevdev/libevdev.h>
#include <linux/input.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <initializer_list>

#include "node_access.h"

namespace bridge {
namespace {

constexpr const char* kNode = "/dev/uinput";
constexpr const char* kRule = "71-zavn-bridge.rules";

constexpr int kVendor = 0xFFFF, kProduct = 0x00B1, kVersion = 1;

constexpr int kStickFull = 32767, kTriggerFull = 32767;
constexpr int kCountsPerG = 8192, kMaxG = 16;
constexpr int kCountsPerDps = 1024, kMaxDps = 2000;

struct Key {
  Control control;
  unsigned code;
};
constexpr Key kKeys[] = {
    {Control::kSouth, BTN_SOUTH},
    {Control::kEast, BTN_EAST},
    // As Xbox pads send them (BTN_X, BTN_Y): SDL reads these codes so for every vendor but Sony.
    {Control::kWest, BTN_X},
    {Control::kNorth, BTN_Y},
    {Control::kL1, BTN_TL},
    {Control::kR1, BTN_TR},
    {Control::kL2, BTN_TL2},
    {Control::kR2, BTN_TR2},
    {Control::kShare, BTN_SELECT},
    {Control::kOptions, BTN_START},
    {Control::kL3, BTN_THUMBL},
    {Control::kR3, BTN_THUMBR},
    {Control::kHome, BTN_MODE},
    {Control::kUp, BTN_DPAD_UP},
    {Control::kDown, BTN_DPAD_DOWN},
    {Control::kLeft, BTN_DPAD_LEFT},
    {Control::kRight, BTN_DPAD_RIGHT},
};

// The gamepad's axes, in the order of Pad::axes.
enum PadAxis { kLeftX, kLeftY, kRightX, kRightY, kL2, kR2, kPadAxes };
constexpr unsigned kPadAxisCodes[kPadAxes] = {ABS_X, ABS_Y, ABS_RX, ABS_RY, ABS_HAT2Y, ABS_HAT2X};

// The motion node's axes (ABS_X, ABS_Y, ABS_Z and ABS_RX, ABS_RY, ABS_RZ) from the sample's:
// which of its axes, and the sign (see gamepads.h).
struct MotionSource {
  int axis;
  float sign;
};
constexpr MotionSource kAccelSources[3] = {{0, +1.0f}, {2, +1.0f}, {1, -1.0f}};
constexpr MotionSource kGyroSources[3] = {{0, +1.0f}, {2, +1.0f}, {1, -1.0f}};

bool Has(std::uint32_t pressed, Control control) {
  return (pressed >> static_cast<int>(control) & 1u) != 0;
}

// The controls the gamepad has a key for.
constexpr std::uint32_t kKeyControls = [] {
  std::uint32_t controls = 0;
  for (const Key& key : kKeys) controls |= 1u << static_cast<int>(key.control);
  return controls;
}();

int Counts(double value, double perUnit, int limit) {
  if (!std::isfinite(value)) return 0;
  return static_cast<int>(std::clamp(std::lround(value * perUnit), -long{limit}, long{limit}));
}

struct EvdevFree {
  void operator()(libevdev* device) const { libevdev_free(device); }
};
using Evdev = std::unique_ptr<libevdev, EvdevFree>;

struct UinputDestroy {
  void operator()(libevdev_uinput* device) const { libevdev_uinput_destroy(device); }
};
using Uinput = std::unique_ptr<libevdev_uinput, UinputDestroy>;

Evdev Describe(const std::string& name, int player) {
  Evdev device(libevdev_new());
  if (device == nullptr) return device;
  libevdev_set_name(device.get(), name.c_str());
  libevdev_set_phys(device.get(), ("zavn-bridge/player" + std::to_string(player)).c_str());
  libevdev_set_id_bustype(device.get(), BUS_VIRTUAL);
  libevdev_set_id_vendor(device.get(), kVendor);
  libevdev_set_id_product(device.get(), kProduct);
  libevdev_set_id_version(device.get(), kVersion);
  return device;
}

void AddAxis(libevdev* device, unsigned code, int minimum, int maximum, int fuzz, int flat,
             int resolution) {
  input_absinfo info{};
  info.minimum = minimum;
  info.maximum = maximum;
  info.fuzz = fuzz;
  info.flat = flat;
  info.resolution = resolution;
  libevdev_enable_event_code(device, EV_ABS, code, &info);
}

// 0, or a negative errno.
int Make(const Evdev& description, Uinput& made) {
  if (description == nullptr) return -ENOMEM;
  libevdev_uinput* device = nullptr;
  const int result =
      libevdev_uinput_create_from_device(description.get(), LIBEVDEV_UINPUT_OPEN_MANAGED, &device);
  if (result == 0) made.reset(device);
  return result;
}

int MakeGamepad(const std::string& name, int player, Uinput& made) {
  const Evdev device = Describe(name, player);
  if (device == nullptr) return -ENOMEM;
  for (const Key& key : kKeys) libevdev_enable_event_code(device.get(), EV_KEY, key.code, nullptr);
  // The sticks as common pads report them, with a little noise filtering and a dead zone. The
  // triggers' fuzz also keeps SDL from taking the hat-numbered pair for a digital hat.
  for (const unsigned code : {ABS_X, ABS_Y, ABS_RX, ABS_RY})
    AddAxis(device.get(), code, -kStickFull - 1, kStickFull, 16, 128, 0);
  for (const unsigned code : {ABS_HAT2X, ABS_HAT2Y})
    AddAxis(device.get(), code, 0, kTriggerFull, 16, 0, 0);
  return Make(device, made);
}

int MakeMotion(const std::string& name, int player, Uinput& made) {
  const Evdev device = Describe(name, player);
  if (device == nullptr) return -ENOMEM;
  libevdev_enable_property(device.get(), INPUT_PROP_ACCELEROMETER);
  for (const unsigned code : {ABS_X, ABS_Y, ABS_Z}) {
    AddAxis(device.get(), code, -kMaxG * kCountsPerG, kMaxG * kCountsPerG, 0, 0, kCountsPerG);
  }
  for (const unsigned code : {ABS_RX, ABS_RY, ABS_RZ}) {
    AddAxis(device.get(), code, -kMaxDps * kCountsPerDps, kMaxDps * kCountsPerDps, 0, 0,
            kCountsPerDps);
  }
  libevdev_enable_event_code(device.get(), EV_MSC, MSC_TIMESTAMP, nullptr);
  return Make(device, made);
}

std::string UinputRefusal(int why) {
  // Each line within 80 columns, after the program's "zavn-bridge: no gamepads: ".
  std::string text = std::string("cannot open ") + kNode + ": " + std::strerror(why);
  const std::string load =
      "The uinput module must be loaded:\n"
      "  sudo modprobe uinput\n"
      "and, to load it at each boot:\n"
      "  echo uinput | sudo tee /etc/modules-load.d/uinput.conf";
  const std::string refused = tools::NodeRefusal("", kNode);
  if (refused.empty()) return text + "\n" + load;
  return text + "\nuser " + tools::CurrentUser() + " may not write " + refused + ".\n" +
         tools::RuleAdvice("", kRule, "zavn-bridge", "it") + "\n" + load;
}

}  // namespace

// A player's two devices and what its gamepad last reported.
struct Gamepads::Pad {
  Uinput motion, gamepad;  // made in this order, removed in the other
  std::uint32_t pressed = 0;
  std::array<int, kPadAxes> axes{};  // as the kernel starts them: all 0
  std::int64_t firstUs = -1;
};

Gamepads::Gamepads() = default;
Gamepads::~Gamepads() = default;

bool Gamepads::Open(std::string& error) {
  const int probe = open(kNode, O_RDWR | O_CLOEXEC);  // as libevdev opens it
  if (probe >= 0) {
    close(probe);
    return true;
  }
  error = UinputRefusal(errno);
  return false;
}

void Gamepads::PlayerChanged(int player, const PlayerState& state) {
  if (player < 1 || player > kPlayers) return;
  std::unique_ptr<Pad>& pad = pads_[static_cast<std::size_t>(player - 1)];
  if (!state.connected) {
    pad.reset();
    return;
  }
  if (pad != nullptr) return;
  // The motion node first: a program that pairs it with the gamepad finds it there already.
  auto made = std::make_unique<Pad>();
  const std::string name = "ZAVN Controller " + std::to_string(player);
  int result = MakeMotion(name + " Motion Sensors", player, made->motion);
  if (result == 0) result = MakeGamepad(name, player, made->gamepad);
  if (result != 0) {
    std::fprintf(stderr, "zavn-bridge: cannot make the gamepad of player %d through %s: %s\n",
                 player, kNode, std::strerror(-result));
    return;  // tried again when the player next changes
  }
  pad = std::move(made);
}

void Gamepads::Sample(int player, const ZAVNMotionSample& sample, const PlayerControls& controls) {
  if (player < 1 || player > kPlayers) return;
  Pad* pad = pads_[static_cast<std::size_t>(player - 1)].get();
  if (pad == nullptr) return;

  libevdev_uinput* motion = pad->motion.get();
  for (int k = 0; k < 3; ++k) {
    const MotionSource from = kAccelSources[k];
    libevdev_uinput_write_event(
        motion, EV_ABS, static_cast<unsigned>(ABS_X + k),
        Counts(from.sign * sample.accelG[from.axis], kCountsPerG, kMaxG * kCountsPerG));
  }
  for (int k = 0; k < 3; ++k) {
    const MotionSource from = kGyroSources[k];
    libevdev_uinput_write_event(
        motion, EV_ABS, static_cast<unsigned>(ABS_RX + k),
        Counts(from.sign * sample.gyroDps[from.axis], kCountsPerDps, kMaxDps * kCountsPerDps));
  }
  if (pad->firstUs < 0) pad->firstUs = sample.timeUs;
  const auto sinceFirst = static_cast<std::uint32_t>(sample.timeUs - pad->firstUs);
  libevdev_uinput_write_event(motion, EV_MSC, MSC_TIMESTAMP, static_cast<std::int32_t>(sinceFirst));
  libevdev_uinput_write_event(motion, EV_SYN, SYN_REPORT, 0);

  if (controls.mapping == nullptr) return;
  const StickState& sticks = controls.sticks;
  const std::uint32_t pressed =
      PressedControls(sample.buttons, sticks, *controls.mapping) & kKeyControls;
  // A trigger's button pressed with the trigger short of pressing it is full travel.
  const auto trigger = [pressed](Control control, float travel) {
    return Has(pressed, control) && travel < kTriggerPressed ? 1.0f : travel;
  };
  std::array<int, kPadAxes> axes{};
  axes[kLeftX] = Counts(sticks.leftX, kStickFull, kStickFull);
  axes[kLeftY] = Counts(-sticks.leftY, kStickFull, kStickFull);  // up is negative on evdev
  axes[kRightX] = Counts(sticks.rightX, kStickFull, kStickFull);
  axes[kRightY] = Counts(-sticks.rightY, kStickFull, kStickFull);
  axes[kL2] = Counts(trigger(Control::kL2, sticks.l2), kTriggerFull, kTriggerFull);
  axes[kR2] = Counts(trigger(Control::kR2, sticks.r2), kTriggerFull, kTriggerFull);
  if (pressed == pad->pressed && axes == pad->axes) return;

  libevdev_uinput* gamepad = pad->gamepad.get();
  for (const Key& key : kKeys) {
    if (Has(pressed, key.control) != Has(pad->pressed, key.control))
      libevdev_uinput_write_event(gamepad, EV_KEY, key.code, Has(pressed, key.control) ? 1 : 0);
  }
  for (int k = 0; k < kPadAxes; ++k) {
    if (axes[static_cast<std::size_t>(k)] != pad->axes[static_cast<std::size_t>(k)]) {
      libevdev_uinput_write_event(gamepad, EV_ABS, kPadAxisCodes[k],
                                  axes[static_cast<std::size_t>(k)]);
    }
  }
  libevdev_uinput_write_event(gamepad, EV_SYN, SYN_REPORT, 0);
  pad->pressed = pressed;
  pad->axes = axes;
}

}  // namespace bridge
