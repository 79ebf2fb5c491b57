// The motion of a virtual transmitter: by default a path of its own, slow turns and tilts, or a
// motion the host holds. What its sensors read of it is physically consistent: the
// accelerometer reads the specific force (gravity's reaction, +1 g up when still) in the
// controller's frame, the gyro the rotation rate in that frame that the attitude's change
// implies, so that an attitude filter integrating the gyro follows the path.
//
// The controller's frame: x to the right, y forward, z up out of its top face; right-handed,
// rotations positive by the right-hand rule. The world's: z up.
#pragma once

namespace zavn::platform::virt {

// What exact sensors read: specific force in g, rotation rate in degrees per second.
struct MotionReading {
  double accelG[3];
  double gyroDps[3];
};

// An attitude, controller frame to world frame.
struct Quaternion {
  double w, x, y, z;
};

class MotionModel {
 public:
  // The path of player 0..3: yaw, pitch and roll each swinging on a sine of its own frequency.
  void Start(int player);
  // Reads accelG and gyroDps from now on (a held rotation leaves gravity where it is held);
  // null pointers go back to the path.
  void Hold(const float* accelG, const float* gyroDps);

  MotionReading At(double seconds) const;
  // Where the path has the controller at `seconds`.
  Quaternion Attitude(double seconds) const;

 private:
  // Yaw about world z, then pitch about the controller's x, then roll about its y, in radians,
  // and their rates.
  struct Angles {
    double angle[3], rate[3];
  };
  Angles PathAngles(double seconds) const;

  double hertz_[3] = {}, phase_[3] = {};
  bool holding_ = false;
  MotionReading held_ = {};
};

}  // namespace zavn::platform::virt
