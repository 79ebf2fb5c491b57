// The virtual transmitter as a physical controller: its counts, decoded through the default
// sensor profile as the library places them, read the motion it is given or the path it follows.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <vector>

#include "input/input_report.h"
#include "platform/virtual/sensor_profile.h"
#include "support/library_fixture.h"

namespace zavn::testing {
namespace {

using namespace platform::virt;
using Reading = std::array<double, 6>;  // Motion[0..5] in g and deg/s
constexpr double kDegree = 3.141592653589793 / 180;

Reading Decode(const std::uint8_t* report, double countsPerG = kCountsPerG) {
  Reading out;
  for (int k = 0; k < 6; ++k) {
    const std::uint8_t* at = report + 3 + input::report::kMotionValues + 2 * k;
    const int channel = input::report::kMotionChannelOrder[k];
    out[channel] =
        ((at[0] << 8 | at[1]) - kMotionZero) / (channel < 3 ? countsPerG : kCountsPerDps);
  }
  return out;
}

// Each channel's mean and, about it, RMS.
std::array<Reading, 2> Measure(const std::vector<Reading>& readings) {
  std::array<Reading, 2> out{};
  for (const Reading& r : readings) {
    for (int c = 0; c < 6; ++c) {
      out[0][c] += r[c] / static_cast<double>(readings.size());
      out[1][c] += r[c] * r[c] / static_cast<double>(readings.size());
    }
  }
  for (int c = 0; c < 6; ++c) out[1][c] = std::sqrt(out[1][c] - out[0][c] * out[0][c]);
  return out;
}

void ExpectNear(const Reading& actual, const Reading& expected, double g, double dps) {
  for (int c = 0; c < 6; ++c) EXPECT_NEAR(actual[c], expected[c], c < 3 ? g : dps) << c;
}

std::vector<Reading> Records(const VirtualTransmitter& tx, std::uint64_t count) {
  std::vector<Reading> readings;
  for (std::uint64_t n = 0; n < count; ++n) {
    VirtualTransmitter::Report report;
    tx.BuildMotionReport(n, report);
    readings.push_back(Decode(report));
  }
  return readings;
}

TEST(VirtualMotion, HeldMotionReadsAsHeldWithItsNoiseWithinTheLimits) {
  const float up[3] = {0, 0, 1}, still[3] = {}, turn[3] = {0, 0, 90};
  for (int rate : {100, 1000}) {
    for (const float* gyro : {still, turn}) {
      SCOPED_TRACE(::testing::Message() << rate << " records/s, turning at " << gyro[2]);
      VirtualTransmitter tx;
      tx.Start(2, rate);
      ASSERT_TRUE(tx.HoldMotion(up, gyro));
      const auto [mean, rms] = Measure(Records(tx, 2000));
      ExpectNear(mean, {0, 0, 1, 0, 0, gyro[2]}, 0.02, 0.2);
      // Noise there is, at most 0.01 g and 0.1 deg/s RMS.
      ExpectNear(rms, {0.0055, 0.0055, 0.0055, 0.055, 0.055, 0.055}, 0.0045, 0.045);
    }
  }
}

// An attitude filter integrating the gyro follows the path's own attitude over 10 s, and the
// accelerometer reads world up in the attitude so found.
TEST(VirtualMotion, TheGyroIntegratedFollowsThePathAndTheAccelerometerWithIt) {
  using Q = std::array<double, 4>;  // w, x, y, z
  const auto times = [](const Q& a, const Q& b) {
    return Q{a[0] * b[0] - a[1] * b[1] - a[2] * b[2] - a[3] * b[3],
             a[0] * b[1] + a[1] * b[0] + a[2] * b[3] - a[3] * b[2],
             a[0] * b[2] - a[1] * b[3] + a[2] * b[0] + a[3] * b[1],
             a[0] * b[3] + a[1] * b[2] - a[2] * b[1] + a[3] * b[0]};
  };
  const auto degreesBetween = [](const Q& a, const Q& b) {
    const double dot = a[0] * b[0] + a[1] * b[1] + a[2] * b[2] + a[3] * b[3];
    return 2 * std::acos(std::min(1.0, std::abs(dot))) / kDegree;
  };
  for (int rate : {100, 1000}) {
    for (int player = 0; player < 4; ++player) {
      SCOPED_TRACE(::testing::Message() << rate << " records/s, player " << player);
      VirtualTransmitter tx;
      tx.Start(player, rate);
      MotionModel path;
      path.Start(player);
      const auto attitude = [&](std::uint64_t n) {
        const Quaternion q = path.Attitude(static_cast<double>(n) / rate);
        return Q{q.w, q.x, q.y, q.z};
      };
      const std::vector<Reading> records = Records(tx, 10u * rate + 1);
      Q q = attitude(0);
      double farthest = 0;
      for (std::uint64_t n = 0; n < 10u * rate; ++n) {
        const Reading &now = records[n], &next = records[n + 1];
        if (n % rate == 0) {  // world up in the controller's frame: the conjugate rotates it
          const Q up = times(times(Q{q[0], -q[1], -q[2], -q[3]}, Q{0, 0, 0, 1}), q);
          ExpectNear(now, {up[1], up[2], up[3], now[3], now[4], now[5]}, 0.03, 0);
        }
        double w[3], angle = 0;
        for (int k = 0; k < 3; ++k) {
          w[k] = (now[3 + k] + next[3 + k]) / 2 * kDegree / rate;
          angle += w[k] * w[k];
        }
        angle = std::sqrt(angle);
        const double s = angle > 0 ? std::sin(angle / 2) / angle : 0;
        q = times(q, Q{std::cos(angle / 2), w[0] * s, w[1] * s, w[2] * s});
        farthest = std::max(farthest, degreesBetween(q, attitude(0)));
      }
      EXPECT_LT(degreesBetween(q, attitude(10u * rate)), 2.0);
      EXPECT_GT(farthest, 45.0);  // it did turn
    }
  }
}

// The exported controls reach the transmitter behind their interface from its next record on,
// and so does the G-sensitivity switch written to it.
class VirtualMotionControlTest : public LibraryTest {};

TEST_F(VirtualMotionControlTest, ControlsAndTheGSensitivityApplyFromTheNextRecordOn) {
  const std::int32_t first = ZAVNVirtualPlugReceiver(2, 1000), id = first + 1;
  VirtualReceiver& rx = Receiver();
  char path[platform::kDevicePathSize];
  ASSERT_EQ(rx.InterfacePath(3, path), platform::PathResult::kFound);  // the second transmitter
  const platform::HidHandle handle = rx.Open(path);
  double countsPerG = kCountsPerG;
  // The mean of what the transmitter sent while the clock moved `ms` on, and of what was due.
  const auto mean = [&](int ms) {
    std::vector<Reading> readings;
    for (int k = 0; k < ms; ++k) {
      system_.Advance(1);
      std::uint8_t reports[32 * kReportLength];
      const platform::ReadOutcome read = rx.Read(handle, reports, sizeof reports);
      for (std::uint32_t at = 0; at < read.bytes; at += kReportLength) {
        readings.push_back(Decode(reports + at, countsPerG));
      }
    }
    return Measure(readings)[0];
  };
  const auto sensitivity = [&](std::uint8_t value, double newCountsPerG) {
    const std::uint8_t report[2] = {0x06, value};
    EXPECT_TRUE(rx.SetOutputReport(handle, report, sizeof report).written);
    countsPerG = newCountsPerG;
  };
  const float up[3] = {0, 0, 1}, still[3] = {}, turn[3] = {0, 0, 90}, bias[3] = {1, -2, 0.5f};
  const float scale[6] = {1, 1, 1.1f, 1, 1, 1}, wrong[3] = {0, NAN, 0};
  const std::int32_t zero[6] = {0, 0, 0, -100, 0, 0};
  EXPECT_EQ(ZAVNVirtualSetMotion(first - 1, up, still), 0);  // carries no data
  EXPECT_EQ(ZAVNVirtualSetGyroBias(first + 2, bias), 0);
  EXPECT_EQ(ZAVNVirtualSetSensorErrors(0, scale, zero), 0);
  EXPECT_EQ(ZAVNVirtualSetMotion(id, up, wrong), 0);
  ASSERT_EQ(ZAVNVirtualSetMotion(id, up, still), 1);
  ExpectNear(mean(20), {0, 0, 1, 0, 0, 0}, 0.02, 0.2);
  system_.Advance(10);  // 10 records due still, then turning
  ASSERT_EQ(ZAVNVirtualSetMotion(id, up, turn), 1);
  ExpectNear(mean(10), {0, 0, 1, 0, 0, 45}, 0.02, 0.2);
  ASSERT_EQ(ZAVNVirtualSetGyroBias(id, bias), 1);
  ASSERT_EQ(ZAVNVirtualSetSensorErrors(id, scale, zero), 1);
  const Reading withErrors = {0, 0, 1.1, 1 - 100 / kCountsPerDps, -2, 90.5};
  ExpectNear(mean(20), withErrors, 0.02, 0.2);
  sensitivity(0, 16384);
  ExpectNear(mean(20), withErrors, 0.02, 0.2);
  sensitivity(3, 2048);
  sensitivity(9, 2048);  // no such range: it stays
  ExpectNear(mean(20), withErrors, 0.02, 0.2);
  const float far[3] = {-20, 0, 20};  // beyond +-16 g, as are the farthest zeros: clamped
  const std::int32_t farZero[6] = {INT32_MIN, 0, INT32_MAX, 0, 0, 0};
  ASSERT_EQ(ZAVNVirtualSetMotion(id, far, turn) + ZAVNVirtualSetGyroBias(id, nullptr) +
                ZAVNVirtualSetSensorErrors(id, nullptr, farZero),
            3);
  ExpectNear(mean(20), {-kMotionZero / 2048.0, 0, (65535 - kMotionZero) / 2048.0, 0, 0, 90}, 0.02,
             0.2);
  ASSERT_EQ(ZAVNVirtualSetMotion(id, nullptr, turn), 1);  // back to the path
  EXPECT_GT(std::abs(mean(20)[5] - 90), 30);
  rx.Close(handle);
}

}  // namespace
}  // namespace zavn::testing
