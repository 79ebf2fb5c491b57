// Profile files: sections over the defaults, and a broken rule named by file, line and key.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "input/motion_profile.h"

namespace zavn::input {
namespace {

class MotionProfileTest : public ::testing::Test {
 protected:
  std::shared_ptr<const ProfileSet> Read(const std::string& text) {
    std::ofstream(path_) << text;
    error_.clear();
    return ReadProfileFile(path_.c_str(), error_);
  }
  const std::string path_ =
      (std::filesystem::temp_directory_path() / ("zavn-profile-" + std::to_string(::getpid())))
          .string();
  std::string error_;
  void TearDown() override { std::filesystem::remove(path_); }
};

TEST_F(MotionProfileTest, SectionsReplaceWhatTheyNameOverTheDefaults) {
  const auto set = Read(
      "; measured\n[player 2]\nmotion4 = -GyroX 32700 16.0\nMotion3 = +gyroy 32768 16\n"
      "[Default]\nGSensitivity = 4 2 1 0.5  # by the value\nMotion0 = +AccelX 32800 8000\n"
      "[serial ZX-01]\nMotion2 = -AccelZ 100 50\n[controls]\nButton0 = Home\n[serial "
      "ZX-02]\nMotion2 = -AccelZ 200 50\n");
  ASSERT_NE(set, nullptr) << error_;
  const SensorProfile& fallback = set->For(1, "");
  EXPECT_EQ(fallback.channels[0].zero, 32800);
  EXPECT_EQ(fallback.channels[0].countsPerUnit, 8000);
  EXPECT_EQ(fallback.channels[5].countsPerUnit, 16.384f);  // built in
  EXPECT_EQ(fallback.gSensitivityFactor[0], 4);

  // Player 2 has [default]'s channel 0 and its own channel 4; another serial is player 2's.
  for (const char* serial : {"", "other"}) {
    const SensorProfile& player = set->For(2, serial);
    EXPECT_EQ(player.channels[0].zero, 32800);
    EXPECT_TRUE(player.channels[4].gyro && player.channels[4].axis == 0);
    EXPECT_EQ(player.channels[4].sign, -1);
  }
  const SensorProfile& serial = set->For(2, "ZX-01");
  EXPECT_EQ(serial.channels[4].countsPerUnit, 16.384f);  // the serial's section is over [default]
  EXPECT_EQ(serial.channels[2].zero, 100);
  EXPECT_EQ(serial.gSensitivityFactor[1], 2);
  EXPECT_EQ(set->For(2, "ZX-02").channels[2].zero, 200);  // a later section moves no earlier one
}

TEST_F(MotionProfileTest, ABrokenRuleNamesFileLineAndKey) {
  const struct {
    const char* text;
    const char* says;
  } cases[] = {
      {"[default]\n\nMotion1 = AccelY 32768 8192\n", ":3: Motion1: wants a signed quantity"},
      {"Motion6 = +AccelX 0 1\n", ":1: Motion6: not a key of a motion profile"},
      {"[player 5]\n", ":1: [player 5]: not a section"},
      {"Motion0 = +AccelX 32768 0\n", ":1: Motion0: wants a signed quantity"},
      {"GSensitivity = 2 1 0.5\n", ":1: GSensitivity: wants four factors"},
      {"[player 1]\nMotion0\n", ":2: Motion0: not a key = value line"},
      {"[player 3]\nMotion1 = +GyroX 0 1\n", ":2: Motion1: names a quantity another"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Read(c.text), nullptr) << c.text;
    EXPECT_EQ(error_.rfind(path_, 0), 0u) << error_;
    EXPECT_NE(error_.find(c.says), std::string::npos) << error_;
  }
  EXPECT_EQ(ReadProfileFile("/nonexistent/profile.ini", error_), nullptr);
  EXPECT_EQ(error_, "/nonexistent/profile.ini: cannot be read");
}

}  // namespace
}  // namespace zavn::input
