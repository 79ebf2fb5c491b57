// The sensors of a virtual transmitter: counts = zero + round(value * counts per unit) per
// channel of the default sensor profile, with white noise and the errors a test gives them
// (a gyro bias, a scale factor and a zero offset per channel), clamped to 0..65535.
#pragma once

#include <cstdint>

#include "platform/virtual/motion_model.h"

namespace zavn::platform::virt {

inline constexpr int kMotionChannels = 6;
// The noise's RMS: well under the limits a controller must keep (0.01 g, 0.1 deg/s).
inline constexpr double kAccelNoiseG = 0.004;
inline constexpr double kGyroNoiseDps = 0.05;

class SensorModel {
 public:
  // Exact sensors at the default G-sensitivity, their noise drawn from `seed`.
  void Start(std::uint64_t seed);
  // The G-sensitivity switch: 0..3 select +-2, +-4, +-8, +-16 g; other values change nothing.
  void SetGSensitivity(int value);
  // Null: none.
  void SetGyroBias(const float* biasDps);
  // Per Motion channel: a scale factor (1: exact) and a zero offset in counts; null: none.
  void SetErrors(const float* scale, const std::int32_t* zeroCounts);

  // The counts of `reading` in Motion channel order. The noise is a function of the seed, the
  // record's number and the channel, so each record reads the same however records are taken.
  void Counts(const MotionReading& reading, std::uint64_t sample,
              std::uint16_t (&counts)[kMotionChannels]) const;

 private:
  std::uint64_t seed_ = 0;
  double countsPerG_ = 0;
  double biasDps_[3] = {};
  double scale_[kMotionChannels] = {};
  std::int32_t zero_[kMotionChannels] = {};
};

}  // namespace zavn::platform::virt
