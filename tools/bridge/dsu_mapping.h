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
// Controls: the pressed controls (controls.h) are the packet's button bits, in the same order;
// the sticks and triggers its analog bytes.
#pragma once

#include <array>
#include <cstdint>

#include "controls.h"
#include "dsu_protocol.h"
#include "zavn/zavn_motion.h"

namespace bridge::dsu {

DsuPad MapSample(const ZAVNMotionSample& sample, const ControlMapping& mapping,
                 const StickState& sticks);

}  // namespace bridge::dsu
