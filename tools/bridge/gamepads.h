// zavn-bridge's gamepads on Linux: per connected player two uinput devices, made with libevdev,
// that any program reads as it reads a real pad's event nodes.
//
// "ZAVN Controller N", a gamepad as the kernel's gamepad.rst describes it:
//   BTN_SOUTH, BTN_EAST, BTN_X, BTN_Y          cross, circle, square, triangle (by position)
//   BTN_TL, BTN_TR, BTN_TL2, BTN_TR2           L1, R1, L2, R2
//   BTN_SELECT, BTN_START, BTN_MODE            share, options, home
//   BTN_THUMBL, BTN_THUMBR                     L3, R3
//   BTN_DPAD_UP, _DOWN, _LEFT, _RIGHT          the D-pad: digital buttons, as gamepad.rst reports
//                                              them; SDL's generated mapping takes these first,
//                                              and up and down may be pressed at once
//   ABS_X, ABS_Y / ABS_RX, ABS_RY              the sticks, -32768..32767, up negative
//   ABS_HAT2Y / ABS_HAT2X                      L2 / R2, 0..32767: gamepad.rst's analog lower
//                                              triggers, which SDL's generated mapping also
//                                              takes first; a trigger pressed by its button
//                                              alone reads full travel
// The touch pad's click has no gamepad code and is left out. The west and north buttons send
// BTN_X and BTN_Y, as Xbox pads do, not gamepad.rst's BTN_WEST and BTN_NORTH (the same codes
// the other way round): SDL's generated mapping reads them so for every vendor but Sony, and
// SDL is what most games read pads through.
//
// "ZAVN Controller N Motion Sensors", with INPUT_PROP_ACCELEROMETER (event-codes.rst): the
// acceleration on ABS_X, ABS_Y, ABS_Z in 8192 counts per g over +-16 g (the widest range the
// library's G-sensitivity reaches), the rotation rate on ABS_RX, ABS_RY, ABS_RZ in 1024 counts
// per deg/s over +-2000 deg/s (the sensor's range); the resolutions are counts per g and per
// deg/s, as input.h says for accelerometer nodes. Each sample is one frame: the six axes,
// MSC_TIMESTAMP (microseconds since the player's first sample here, wrapping at 32 bits) and
// SYN_REPORT. The kernel leaves the directions to the driver; these are those of hid-playstation's
// motion node, whose values are the DualShock 4's and DualSense's raw sensor axes (x right, y up
// out of the face, z toward the player; lying face up reads +1 g on y), which SDL's evdev code
// passes on unchanged as SDL_sensor.h's axes. From our frame (x right, y forward, z up out of
// the top face):
//
//   axis    from the sample    a still controller reads / a turn reads positive
//   ABS_X   +accelG[0]         +1 g with its right side up
//   ABS_Y   +accelG[2]         +1 g lying face up
//   ABS_Z   -accelG[1]         +1 g pointing down
//   ABS_RX  +gyroDps[0]        its front rising
//   ABS_RY  +gyroDps[2]        turning left, seen from above
//   ABS_RZ  -gyroDps[1]        its right side rising
//
// Both devices have bus BUS_VIRTUAL, vendor 0xFFFF (the receiver's), product 0x00B1, version 1:
// SDL's GUID for them holds these ids, so that one SDL mapping serves the four players; without
// one, SDL generates a mapping for a gamepad with BTN_SOUTH. Both devices have phys
// "zavn-bridge/playerN". uinput cannot set `uniq`, by which SDL pairs a motion node with its
// gamepad, so SDL shows the gamepad without sensors; programs that pair by name or phys find
// them.
#pragma once

#include <array>
#include <memory>
#include <string>

#include "player_feed.h"

namespace bridge {

class Gamepads : public Output {
 public:
  Gamepads();
  ~Gamepads() override;
  Gamepads(const Gamepads&) = delete;
  Gamepads& operator=(const Gamepads&) = delete;

  // Whether this user may open /dev/uinput now; else `error` says why (the node's owner, group
  // and mode, the udev rule that gives it to the user at the seat, the uinput module).
  bool Open(std::string& error);
  std::string Place() const { return "/dev/uinput"; }

  // A player's devices are made as it connects and removed as it leaves (or with this object).
  // A player named after it connected keeps the devices it has.
  void PlayerChanged(int player, const PlayerState& state) override;
  // The sample's motion, and the controls when they changed.
  void Sample(int player, const ZAVNMotionSample& sample, const PlayerControls& controls) override;

 private:
  struct Pad;
  std::array<std::unique_ptr<Pad>, kPlayers> pads_;
};

}  // namespace bridge
