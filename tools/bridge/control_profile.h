// The mapping of the buttons and extension (controls.h) from a profile file: the sensor
// profile's INI file, whose sections [controls], [controls player N] and [controls serial TEXT]
// the library passes over for the bridge. A section names only what differs from [controls],
// which names only what differs from the defaults:
//   Button12 = Home              ; Buttons bit 0..22: Cross Circle Square Triangle L1 R1 L2 R2
//                                ; Share Options L3 R3 Home Touch Up Down Left Right, or None
//   Extension0 = RightX signed 0 32767   ; channel 0..2: LeftX LeftY RightX RightY L2 R2 or
//                                        ; None, signed or unsigned, the rest and full values
// Comments start with ';' or '#'. Names match without regard to case.
#pragma once

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "controls.h"

namespace bridge {

struct ControlProfiles {
  ControlMapping fallback;
  bool hasPlayer[4] = {};
  ControlMapping player[4];
  std::vector<std::pair<std::string, ControlMapping>> serials;

  // The serial's mapping, else the player's (1..4), else the fallback.
  const ControlMapping& For(int playerIndex, const std::string& serial) const;
};

// Reads the controls sections of a profile file (others are the library's); null with `error`
// naming the file, line and key for a broken rule.
std::unique_ptr<ControlProfiles> ReadControlProfiles(const std::string& path, std::string& error);

}  // namespace bridge
