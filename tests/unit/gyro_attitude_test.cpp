// GyroBias and Attitude on synthetic records at 100 and 1000 records/s: the true motion plus a
// gyro bias of (1.5, -1, 0.8) deg/s and deterministic noise of 0.05 deg/s and 0.004 g RMS.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <string>

#include "input/attitude.h"
#include "input/gyro_bias.h"

namespace zavn::testing {
namespace {

constexpr float kPi = 3.14159265f;
constexpr float kBias[3] = {1.5f, -1.0f, 0.8f};

// The true rotation rate (deg/s) and acceleration (g), and a hand's tremor.
struct Motion {
  float rate[3] = {0, 0, 0};
  float accel[3] = {0, 0, 1};
  float tremorDps = 0;  // on x and z at 7 Hz
};

// The heading of the y axis on the horizontal plane (deg), from a quaternion.
float Heading(const float* q) {
  return std::atan2(-2 * (q[1] * q[2] - q[0] * q[3]), 1 - 2 * (q[1] * q[1] + q[3] * q[3])) * 180 /
         kPi;
}
// The angle (deg) between world up in the controller's frame, by the attitude, and an
// acceleration.
float TiltError(const float* q, const float a[3]) {
  const float up[3] = {2 * (q[1] * q[3] - q[0] * q[2]), 2 * (q[2] * q[3] + q[0] * q[1]),
                       1 - 2 * (q[1] * q[1] + q[2] * q[2])};
  const float dot = up[0] * a[0] + up[1] * a[1] + up[2] * a[2];
  return std::acos(std::fmin(dot / std::sqrt(a[0] * a[0] + a[1] * a[1] + a[2] * a[2]), 1.0f)) *
         180 / kPi;
}

class MotionFilterTest : public ::testing::TestWithParam<int> {
 protected:
  // Feeds `seconds` of records; worst_ keeps the largest error of the corrected rate.
  void Run(float seconds, const Motion& m) {
    const float dt = 1.0f / static_cast<float>(GetParam());
    for (int n = static_cast<int>(seconds / dt); n > 0; --n, t_ += dt) {
      const float tremor = m.tremorDps * std::sin(2 * kPi * 7 * t_);
      float gyro[3], accel[3], corrected[3];
      for (int k = 0; k < 3; ++k) {
        gyro[k] = m.rate[k] + (k != 1 ? tremor : 0) + kBias[k] + Noise(0.05f);
        accel[k] = m.accel[k] + Noise(0.004f);
      }
      bias_.Add(gyro, accel, dt);
      for (int k = 0; k < 3; ++k) {
        corrected[k] = gyro[k] - bias_.BiasDps()[k];
        worst_ = std::fmax(worst_, std::fabs(corrected[k] - m.rate[k]));
      }
      attitude_.Update(accel, corrected, dt);
    }
  }
  float Noise(float rms) {  // about normal: 12 uniforms
    float sum = -6;
    for (int k = 0; k < 12; ++k) sum += static_cast<float>(random_()) / 2147483647.0f;
    return sum * rms;
  }
  bool NoBias() const {
    const float* b = bias_.BiasDps();
    return !bias_.Measured() && b[0] == 0 && b[1] == 0 && b[2] == 0;
  }
  float BiasError() const {
    const float* b = bias_.BiasDps();
    return std::hypot(b[0] - kBias[0], b[1] - kBias[1], b[2] - kBias[2]);
  }

  std::minstd_rand random_{7};
  input::GyroBias bias_;
  input::Attitude attitude_;
  float t_ = 0, worst_ = 0;
};

TEST_P(MotionFilterTest, BiasIsTakenOutWhileStillAndHeldThroughATurnOf180Degrees) {
  Run(3, {});
  ASSERT_TRUE(bias_.Measured() && bias_.Still());
  EXPECT_LT(BiasError(), 0.2f);
  float before[3];
  std::copy_n(bias_.BiasDps(), 3, before);
  const float heading = Heading(attitude_.Quaternion());

  worst_ = 0;
  Run(2, {{0, 0, 90}});
  EXPECT_LT(worst_, 1.0f);  // every record read 90 +- 1 deg/s
  for (int k = 0; k < 3; ++k) EXPECT_EQ(bias_.BiasDps()[k], before[k]);
  const float* q = attitude_.Quaternion();
  EXPECT_NEAR(std::remainder(Heading(q) - heading - 180, 360.0f), 0, 3);
  EXPECT_LT(TiltError(q, Motion{}.accel), 0.5f);
  EXPECT_NEAR(q[0] * q[0] + q[1] * q[1] + q[2] * q[2] + q[3] * q[3], 1, 1e-5);
}

TEST_P(MotionFilterTest, TiltSettlesOnGravityWithoutTurningTheHeadingAndResetStartsFromIt) {
  Run(1, {});
  const float heading = Heading(attitude_.Quaternion());
  // Rolled 20 degrees and pitched -30 without the gyro seeing it: the correction alone.
  const float r = 20 * kPi / 180, p = -30 * kPi / 180;
  const Motion tilted{{}, {-std::cos(p) * std::sin(r), std::sin(p), std::cos(p) * std::cos(r)}};
  Run(1, tilted);
  EXPECT_GT(TiltError(attitude_.Quaternion(), tilted.accel), 5);
  Run(7, tilted);
  EXPECT_LT(TiltError(attitude_.Quaternion(), tilted.accel), 1);
  EXPECT_NEAR(Heading(attitude_.Quaternion()), heading, 0.5f);
  EXPECT_LT(BiasError(), 0.2f);  // lying tilted is still too

  attitude_.Reset();
  attitude_.Update(tilted.accel, Motion{}.rate, 0.01f);
  EXPECT_LT(TiltError(attitude_.Quaternion(), tilted.accel), 1);
  EXPECT_NEAR(Heading(attitude_.Quaternion()), 0, 1e-3);
}

TEST_P(MotionFilterTest, ATurnAndASlowPanWithTremorAreNotStillnessAndResetMeasuresAnew) {
  Run(4, {{0, 0, 90}});  // steady enough for stillness, too fast for a bias
  EXPECT_TRUE(NoBias() && !bias_.Still());
  Motion pan{{0, 0, 3}};  // slow enough for a bias, but a hand's tremor
  pan.tremorDps = 1;
  Run(4, pan);
  EXPECT_TRUE(NoBias() && !bias_.Still());

  Run(1.5f, {});
  EXPECT_LT(BiasError(), 0.2f);
  bias_.Reset();
  EXPECT_TRUE(NoBias());
  Run(1.5f, {});
  EXPECT_LT(BiasError(), 0.2f);
}

INSTANTIATE_TEST_SUITE_P(Rates, MotionFilterTest, ::testing::Values(100, 1000),
                         [](const auto& rate) { return std::to_string(rate.param) + "PerSecond"; });

}  // namespace
}  // namespace zavn::testing
