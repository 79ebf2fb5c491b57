// zavn-monitor's calibration driven through its JSON steps, as a script drives it, with a
// virtual transmitter acting each step out: sensors with scale and zero errors come out
// measured, and the profile written makes them read the truth.
#include <cmath>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

#include <unistd.h>

#include "support/library_fixture.h"
#include "tools/monitor/calibrate_run.h"
#include "zavn/zavn_motion.h"

namespace zavn::testing {
namespace {

constexpr int kStepsPerLook = 5;  // a look every 50 ms, as zavn-monitor looks
constexpr float kNoTurn[3] = {};

std::string Field(const std::string& line, const std::string& name) {
  const std::string key = "\"" + name + "\":\"";
  const auto at = line.find(key);
  if (at == std::string::npos) return "";
  const auto start = at + key.size();
  return line.substr(start, line.find('"', start) - start);
}

class CalibrationTest : public LibraryTest, public ::testing::WithParamInterface<int> {
 protected:
  void SetUp() override {
    LibraryTest::SetUp();
    system_.AdvanceClockOnSleep();
    id_ = ZAVNVirtualPlugReceiver(4, GetParam());
    ASSERT_GT(id_, 0);
    Connect();
    AwaitPlayers();
    out_ = open_memstream(&text_, &size_);
  }
  void TearDown() override {
    std::fclose(out_);
    std::free(text_);
    LibraryTest::TearDown();
  }

  // Runs the clock for `seconds`, the calibration looking as zavn-monitor does; the JSON lines
  // it wrote meanwhile.
  std::string Run(double seconds) {
    for (int step = 1; step <= std::lround(seconds * 100); ++step) {
      EXPECT_TRUE(system_.Step());
      if (run_ && step % kStepsPerLook == 0) done_ = run_->Look({out_, true});
    }
    std::fflush(out_);
    std::string lines(text_ + read_, size_ - read_);
    read_ = size_;
    return lines;
  }
  void Hold(const float (&gravity)[3], const float (&rate)[3] = kNoTurn) {
    ZAVNVirtualSetMotion(id_, gravity, rate);
  }
  // Player 1's mean acceleration and rotation over `seconds`.
  void Mean(double seconds, double (&mean)[6]) {
    ZAVNMotionSample samples[ZAVN_MOTION_RING];
    while (ZAVNReadMotion(1, samples, ZAVN_MOTION_RING) > 0) {
    }
    Run(seconds);
    const int count = ZAVNReadMotion(1, samples, ZAVN_MOTION_RING);
    for (double& value : mean) value = 0;
    ASSERT_GT(count, 0);
    for (int k = 0; k < count; ++k) {
      for (int a = 0; a < 3; ++a) {
        mean[a] += double{samples[k].accelG[a]} / count;
        mean[3 + a] += double{samples[k].gyroDps[a]} / count;
      }
    }
  }

  std::int32_t id_ = 0;
  std::FILE* out_ = nullptr;
  char* text_ = nullptr;
  std::size_t size_ = 0, read_ = 0;
  std::unique_ptr<monitor::CalibrationRun> run_;
  bool done_ = false;
};

TEST_P(CalibrationTest, MeasuresSensorsWithScaleAndZeroErrors) {
  const float scale[6] = {1.05f, 0.95f, 1.04f, 0.95f, 1.05f, 0.96f};
  const std::int32_t zero[6] = {300, -300, 250, -300, 300, -200};
  ASSERT_EQ(ZAVNVirtualSetSensorErrors(id_, scale, zero), 1);
  const std::string file =
      ::testing::TempDir() + "zavn-calibrated-" + std::to_string(::getpid()) + ".ini";
  std::ofstream(file) << "[serial OTHER]\nMotion0 = -AccelX 32768 8192\n";
  run_ = std::make_unique<monitor::CalibrationRun>(1);

  // Each step acted out as its line asks; a face laid wrong and a half turn are refused first.
  float gravity[3] = {0, 0, 1};
  bool laidWrong = false, turnedHalf = false;
  std::string lines = Run(0.1);
  for (int look = 0; !done_ && look < 200; ++look) {
    std::istringstream shown(lines);
    std::string act, state;
    for (std::string line; std::getline(shown, line);) {
      act = Field(line, "act");
      state = Field(line, "state");
      if (act == "lay" && line.find("\"hint\":\"it lies with") != std::string::npos) {
        EXPECT_EQ(Field(line, "hint"), "it lies with -x up");
      }
      if (Field(line, "hint").starts_with("that turned 17")) turnedHalf = true;  // 180 x 0.95
    }
    if (act == "lay") {
      const std::string up = Field(lines.substr(lines.rfind("\"up\"") - 1), "up");
      const int axis = up[1] - 'x';
      for (float& g : gravity) g = 0;
      gravity[axis] = up[0] == '+' ? 1.0f : -1.0f;
      if (up == "+x" && !laidWrong) {
        gravity[axis] = -1;  // the wrong face first
        laidWrong = true;
      }
    } else if (act == "turn") {
      gravity[0] = gravity[1] = 0, gravity[2] = 1;
      if (state == "turn_now") {
        const int axis = Field(lines.substr(lines.rfind("\"axis\"") - 1), "axis")[0] - 'x';
        float rate[3] = {};
        rate[axis] = 90;
        Hold(gravity, rate);
        lines = Run(turnedHalf || axis != 0 ? 4 : 2);
        Hold(gravity);
        lines += Run(0.05);
        continue;
      }
    }
    Hold(gravity);
    lines = Run(0.5);
  }
  ASSERT_TRUE(done_);
  EXPECT_TRUE(laidWrong && turnedHalf);

  // The profile written makes the readings true: within 1 % and 0.01 g.
  std::string error;
  ASSERT_TRUE(run_->Write(file, {out_, true}, error)) << error;
  run_.reset();  // its looks would take the samples read below
  const std::string written = Run(0);
  EXPECT_EQ(Field(written, "section").rfind("serial ZAVNTX", 0), 0u) << written;
  std::stringstream profile;
  profile << std::ifstream(file).rdbuf();
  EXPECT_EQ(profile.str().rfind("[serial OTHER]\nMotion0 = -AccelX 32768 8192\n\n[serial ", 0), 0u)
      << profile.str();
  const float poses[3][3] = {{0, 0, 1}, {1, 0, 0}, {0, -1, 0}};
  for (const auto& pose : poses) {
    double mean[6];
    Hold(pose);
    Run(0.2);
    Mean(1, mean);
    for (int a = 0; a < 3; ++a) EXPECT_NEAR(mean[a], pose[a], 0.01) << a;
  }
  for (int axis = 0; axis < 3; ++axis) {
    float rate[3] = {};
    rate[axis] = 90;
    double mean[6];
    Hold(poses[0], rate);
    Run(0.1);
    Mean(1, mean);
    for (int a = 0; a < 3; ++a) EXPECT_NEAR(mean[3 + a], rate[a], 0.9) << axis << a;
  }
  std::remove(file.c_str());
}

INSTANTIATE_TEST_SUITE_P(Rates, CalibrationTest, ::testing::Values(100, 1000));

}  // namespace
}  // namespace zavn::testing
