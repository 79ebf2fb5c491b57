// Motion in physical units, end to end: four virtual transmitters, physical controllers with the
// default profile, read through ZAVNReadMotion on the stepped clock, at 100 and 1000 records/s.
#include <cmath>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include <unistd.h>

#include "support/library_fixture.h"
#include "zavn/zavn_motion.h"

namespace zavn::testing {
namespace {

constexpr float kStill[3] = {0, 0, 1}, kNoTurn[3] = {0, 0, 0};

// The yaw (degrees about world z) of an attitude.
double YawDeg(const float (&q)[4]) {
  return std::atan2(2.0 * (q[0] * q[3] + q[1] * q[2]), 1.0 - 2.0 * (q[2] * q[2] + q[3] * q[3])) *
         180.0 / 3.14159265358979;
}

class MotionTest : public LibraryTest, public ::testing::WithParamInterface<int> {
 protected:
  void SetUp() override {
    LibraryTest::SetUp();
    system_.AdvanceClockOnSleep();
    first_ = ZAVNVirtualPlugReceiver(4, GetParam());
    ASSERT_GT(first_, 0);
    Connect();
    AwaitPlayers();
    ForEach([](std::int32_t id) { ZAVNVirtualSetMotion(id, kStill, kNoTurn); });
  }
  template <typename Act>
  void ForEach(Act act) {
    for (int k = 0; k < 4; ++k) act(first_ + k);
  }
  // Runs the poll thread for `seconds` of the clock; each player's samples meanwhile.
  std::vector<ZAVNMotionSample> Run(double seconds, std::vector<ZAVNMotionSample> (&out)[4]) {
    for (auto& samples : out) samples.clear();
    ZAVNMotionSample read[ZAVN_MOTION_RING];
    for (int step = 0; step < seconds * 100; ++step) {
      EXPECT_TRUE(system_.Step());
      for (int p = 0; p < 4; ++p) {
        const int32_t count = ZAVNReadMotion(p + 1, read, ZAVN_MOTION_RING);
        for (int32_t k = 0; k < count; ++k) {
          EXPECT_LE(read[k].timeUs, ZAVNTimeUs());
          out[p].push_back(read[k]);
        }
      }
    }
    return out[0];
  }
  std::int32_t first_ = 0;
};

TEST_P(MotionTest, StillThenABiasThenASteadyTurn) {
  const double intervalUs = 1e6 / GetParam();
  std::vector<ZAVNMotionSample> samples[4];
  Run(0.5, samples);  // the link's start behind
  Run(1, samples);
  for (const auto& player : samples) {
    ASSERT_GE(player.size(), static_cast<std::size_t>(GetParam() * 9 / 10));
    double mean[3] = {}, turn = 0;
    for (std::size_t k = 0; k < player.size(); ++k) {
      const ZAVNMotionSample& s = player[k];
      for (int a = 0; a < 3; ++a) mean[a] += s.accelG[a] / static_cast<double>(player.size());
      for (const float rate : s.gyroDps) turn = std::max(turn, std::abs(double{rate}));
      if (k == 0) continue;
      EXPECT_EQ(s.sample, player[k - 1].sample + 1);
      EXPECT_NEAR(double(s.timeUs - player[k - 1].timeUs), intervalUs, 2000);
    }
    EXPECT_NEAR(mean[0], 0, 0.02);
    EXPECT_NEAR(mean[1], 0, 0.02);
    EXPECT_NEAR(mean[2], 1, 0.02);
    EXPECT_LT(turn, 0.5);  // noise of 0.1 deg/s RMS at most
  }

  // A gyro bias is measured and taken out within 3 s.
  const float bias[3] = {1.5f, -1.0f, 0.8f};
  ForEach([&](std::int32_t id) { ZAVNVirtualSetGyroBias(id, bias); });
  Run(3, samples);
  for (const auto& player : samples) {
    double mean[3] = {};
    const std::size_t last = player.size() / 10;  // the last 0.3 s
    for (std::size_t k = player.size() - last; k < player.size(); ++k) {
      for (int a = 0; a < 3; ++a) mean[a] += player[k].gyroDps[a] / static_cast<double>(last);
    }
    for (const double rate : mean) EXPECT_LT(std::abs(rate), 0.2);
  }

  // A steady turn of 90 deg/s about z for 2 s is not a bias: it reads 90 throughout, and the
  // attitude turns 180 degrees.
  const float turn[3] = {0, 0, 90};
  ForEach([&](std::int32_t id) { ZAVNVirtualSetMotion(id, kStill, turn); });
  const float before = static_cast<float>(YawDeg(samples[0].back().orientation));
  Run(2, samples);
  for (const auto& player : samples) {
    // A poll period's records were made before the turn, in the receiver's queue when it began.
    std::size_t k = 0;
    while (k < player.size() && player[k].gyroDps[2] < 45) ++k;
    ASSERT_LE(k, static_cast<std::size_t>(GetParam() / 100 + 1));
    for (; k < player.size(); ++k) {
      ASSERT_NEAR(player[k].gyroDps[2], 90, 1) << player[k].sample;
      ASSERT_NEAR(player[k].gyroDps[0], 0, 1) << player[k].sample;
    }
  }
  const double turned = std::remainder(YawDeg(samples[0].back().orientation) - before, 360.0);
  EXPECT_NEAR(std::abs(turned), 180, 3);
}

// The G-sensitivity switch changes the transmitter's range and the library's scale with it; a
// profile file replaces the defaults for the player it names; a bad one changes nothing.
TEST_P(MotionTest, TheSwitchAndAProfileSetTheScale) {
  const std::string file =
      ::testing::TempDir() + "zavn-motion-profile-" + std::to_string(::getpid()) + ".ini";
  std::ofstream(file) << "[player 2]\nMotion2 = -AccelZ 32768 8192\n";
  char error[256] = {};
  ASSERT_EQ(ZAVNLoadMotionProfile(file.c_str(), error, sizeof error), 1) << error;
  ASSERT_EQ(ZAVNSwitchGSensitivity(1, 3), 1);
  std::vector<ZAVNMotionSample> samples[4];
  Run(0.5, samples);
  EXPECT_NEAR(samples[0].back().accelG[2], 1, 0.05);  // +-16 g now
  EXPECT_NEAR(samples[1].back().accelG[2], -1, 0.05);

  std::ofstream(file) << "[player 2]\nMotion2 = -AccelZ 32768 8192 x\n";
  EXPECT_EQ(ZAVNLoadMotionProfile(file.c_str(), error, sizeof error), 0);
  EXPECT_EQ(std::string(error), file +
                                    ":2: Motion2: wants a signed quantity (AccelX..GyroZ), a "
                                    "zero and counts per unit above 0, e.g. +AccelX 32768 8192");
  Run(0.1, samples);
  EXPECT_NEAR(samples[1].back().accelG[2], -1, 0.05);
  ASSERT_EQ(ZAVNLoadMotionProfile(nullptr, nullptr, 0), 1);
  Run(0.1, samples);
  EXPECT_NEAR(samples[1].back().accelG[2], 1, 0.05);
  std::remove(file.c_str());
}

INSTANTIATE_TEST_SUITE_P(Rates, MotionTest, ::testing::Values(100, 1000));

}  // namespace
}  // namespace zavn::testing
