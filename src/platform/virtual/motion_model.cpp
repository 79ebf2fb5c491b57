#include "platform/virtual/motion_model.h"

#include <cmath>

namespace zavn::platform::virt {
namespace {

constexpr double kTwoPi = 6.283185307179586;
constexpr double kDegree = kTwoPi / 360.0;
// Yaw, pitch, roll: amplitudes, and player 0's frequencies (yaw: a swing every 8 s); each
// further player moves a little faster and starts elsewhere on its swings.
constexpr double kAmplitude[3] = {60.0 * kDegree, 25.0 * kDegree, 20.0 * kDegree};
constexpr double kHertz[3] = {0.125, 0.19, 0.27};
constexpr double kHertzPerPlayer = 0.08;  // as a share of player 0's
constexpr double kPhasePerPlayer[3] = {1.1, 2.3, 0.7};

}  // namespace

void MotionModel::Start(int player) {
  for (int k = 0; k < 3; ++k) {
    hertz_[k] = kHertz[k] * (1.0 + kHertzPerPlayer * player);
    phase_[k] = kPhasePerPlayer[k] * player;
  }
  holding_ = false;
}

void MotionModel::Hold(const float* accelG, const float* gyroDps) {
  holding_ = accelG != nullptr && gyroDps != nullptr;
  if (!holding_) return;
  for (int k = 0; k < 3; ++k) {
    held_.accelG[k] = accelG[k];
    held_.gyroDps[k] = gyroDps[k];
  }
}

MotionModel::Angles MotionModel::PathAngles(double seconds) const {
  Angles out;
  for (int k = 0; k < 3; ++k) {
    const double omega = kTwoPi * hertz_[k];
    const double argument = omega * seconds + phase_[k];
    out.angle[k] = kAmplitude[k] * std::sin(argument);
    out.rate[k] = kAmplitude[k] * omega * std::cos(argument);
  }
  return out;
}

MotionReading MotionModel::At(double seconds) const {
  if (holding_) return held_;
  const Angles a = PathAngles(seconds);
  const double yawRate = a.rate[0], pitchRate = a.rate[1], rollRate = a.rate[2];
  const double sp = std::sin(a.angle[1]), cp = std::cos(a.angle[1]);
  const double sr = std::sin(a.angle[2]), cr = std::cos(a.angle[2]);
  // R = Rz(yaw) Rx(pitch) Ry(roll): world up in the controller's frame is R's third row, and
  // the body rate is Ry^T (Rx^T (yaw' z) + pitch' x) + roll' y.
  MotionReading out = {{-cp * sr, sp, cp * cr},
                       {cr * pitchRate - sr * cp * yawRate, sp * yawRate + rollRate,
                        sr * pitchRate + cr * cp * yawRate}};
  for (double& rate : out.gyroDps) rate /= kDegree;
  return out;
}

Quaternion MotionModel::Attitude(double seconds) const {
  const Angles a = PathAngles(seconds);
  const double cy = std::cos(a.angle[0] / 2), sy = std::sin(a.angle[0] / 2);
  const double cp = std::cos(a.angle[1] / 2), sp = std::sin(a.angle[1] / 2);
  const double cr = std::cos(a.angle[2] / 2), sr = std::sin(a.angle[2] / 2);
  // qz(yaw) * qx(pitch) * qy(roll)
  return {cy * cp * cr - sy * sp * sr, cy * sp * cr - sy * cp * sr, cy * cp * sr + sy * sp * cr,
          sy * cp * cr + cy * sp * sr};
}

}  // namespace zavn::platform::virt
