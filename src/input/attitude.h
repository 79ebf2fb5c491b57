// The controller's attitude from its accelerometer and gyro: a Mahony filter (explicit
// complementary filter), the gyro integrated and the gravity the accelerometer reads pulling
// roll and pitch back with a proportional gain. Mahony rather than Madgwick: its correction is a
// rotation rate (one cross product, no gradient to normalize), which adds to the gyro's rate
// before one exact integration; both filters behave alike without a magnetometer, where yaw is
// the gyro's integral alone. No integral term: GyroBias takes the bias out.
//
// Yaw is the heading of the forward axis (y) on the horizontal plane: an attitude is yaw, then
// pitch about x, then roll about y (z-x-y). The gravity correction turns about a horizontal
// axis, moving roll and pitch; on a pitched controller that would also turn the forward axis'
// heading, which a rate about the vertical (it does not move gravity) cancels, so the correction
// never drags yaw. The correction is left out while the acceleration is further than kGravityGateG
// from 1 g (a swing, a throw), where it is not gravity. Runs on the poll thread for every record: a
// few dozen float operations and two square roots; no trig but at the first record.
#pragma once

namespace zavn::input {

inline constexpr float kAttitudeGain = 1.0f;  // rad/s of correction per unit of gravity error
inline constexpr float kGravityGateG = 0.2f;

class Attitude {
 public:
  explicit Attitude(float gain = kAttitudeGain) : gain_(gain) {}

  // The next Update starts from the accelerometer's gravity, yaw 0.
  void Reset() { started_ = false; }
  // Acceleration in g, rotation rate in deg/s (bias already taken out), seconds since the
  // previous record.
  void Update(const float accelG[3], const float gyroDps[3], float dtSeconds);
  // w, x, y, z: the rotation from the controller's frame to the world's; unit.
  const float* Quaternion() const { return q_; }

 private:
  void StartFromGravity(const float accelG[3], float norm);

  float gain_;
  bool started_ = false;
  float q_[4] = {1, 0, 0, 0};
};

}  // namespace zavn::input
