#include "platform/virtual/sensor_model.h"

#include <algorithm>
#include <cmath>
#include <iterator>

#include "platform/virtual/sensor_profile.h"

namespace zavn::platform::virt {
namespace {

// splitmix64's finaliser: a well-mixed 64-bit number from a counter.
std::uint64_t Mix(std::uint64_t x) {
  x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9u;
  x = (x ^ (x >> 27)) * 0x94D049BB133111EBu;
  return x ^ (x >> 31);
}

// Near-normal noise of unit variance: the sum of the four 16-bit parts of a mixed number.
double Noise(std::uint64_t seed, std::uint64_t counter) {
  const std::uint64_t bits = Mix(seed + counter * 0x9E3779B97F4A7C15u);
  double sum = 0;
  for (int k = 0; k < 4; ++k) sum += static_cast<double>((bits >> (16 * k)) & 0xFFFF);
  constexpr double kMean = 4 * 65535 / 2.0;
  constexpr double kDeviation = 65536 / 1.7320508075688772;  // sqrt(4 * 65536^2 / 12)
  return (sum - kMean) / kDeviation;
}

}  // namespace

void SensorModel::Start(std::uint64_t seed) {
  seed_ = seed;
  countsPerG_ = kCountsPerG;
  SetGyroBias(nullptr);
  SetErrors(nullptr, nullptr);
}

void SensorModel::SetGSensitivity(int value) {
  if (value >= 0 && value < static_cast<int>(std::size(kCountsPerGBySensitivity))) {
    countsPerG_ = kCountsPerGBySensitivity[value];
  }
}

void SensorModel::SetGyroBias(const float* biasDps) {
  for (int k = 0; k < 3; ++k) biasDps_[k] = biasDps != nullptr ? biasDps[k] : 0.0;
}

void SensorModel::SetErrors(const float* scale, const std::int32_t* zeroCounts) {
  for (int k = 0; k < kMotionChannels; ++k) {
    scale_[k] = scale != nullptr ? scale[k] : 1.0;
    zero_[k] = zeroCounts != nullptr ? zeroCounts[k] : 0;
  }
}

void SensorModel::Counts(const MotionReading& reading, std::uint64_t sample,
                         std::uint16_t (&counts)[kMotionChannels]) const {
  for (int k = 0; k < kMotionChannels; ++k) {
    const bool accel = k < 3;
    const double noise = Noise(seed_, sample * kMotionChannels + k);
    const double value = accel ? reading.accelG[k] + kAccelNoiseG * noise
                               : reading.gyroDps[k - 3] + biasDps_[k - 3] + kGyroNoiseDps * noise;
    const double count = kMotionZero + static_cast<double>(zero_[k]) +
                         std::round(value * scale_[k] * (accel ? countsPerG_ : kCountsPerDps));
    counts[k] = static_cast<std::uint16_t>(std::clamp(count, 0.0, double{kMotionMaxCount}));
  }
}

}  // namespace zavn::platform::virt
