// The bridge's mapping of the buttons and extension, read from a profile file's controls
// sections over the defaults; the library's sections are left to it.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <string>

#include <unistd.h>

#include "tools/bridge/control_profile.h"

namespace bridge {
namespace {

class ControlProfileTest : public ::testing::Test {
 protected:
  std::unique_ptr<ControlProfiles> Read(const std::string& text) {
    std::ofstream(path_) << text;
    return ReadControlProfiles(path_, error_);
  }
  void TearDown() override { std::remove(path_.c_str()); }
  const std::string path_ =
      ::testing::TempDir() + "zavn-controls-" + std::to_string(::getpid()) + ".ini";
  std::string error_;
};

TEST_F(ControlProfileTest, SectionsMapOverTheDefaultsAndTheSticksFollow) {
  const auto profiles = Read(
      "[serial ZX-01]\nMotion0 = +AccelX 1 2\n[controls serial ZX-01]\nExtension0 = RightX "
      "unsigned 32768 65535\n[controls]\nbutton0 = HOME ; the home button\nButton1 = None\n"
      "[controls player 2]\nButton2 = Cross\n");
  ASSERT_NE(profiles, nullptr) << error_;
  const ControlMapping& serial = profiles->For(1, "ZX-01");
  EXPECT_EQ(serial.buttons[0], static_cast<int>(Control::kHome));  // [controls] below it
  const std::int32_t extension[3] = {65535, 0, 0};
  const StickState sticks = SticksOf(extension, serial);
  EXPECT_EQ(sticks.rightX, 1.0f);
  EXPECT_EQ(sticks.leftX, 0.0f);
  EXPECT_EQ(PressedControls(0b111, sticks, profiles->For(2, "")), 1u << 12 | 1u << 0);
  EXPECT_EQ(profiles->For(3, "").buttons[2], static_cast<int>(Control::kWest));  // the default

  ASSERT_EQ(Read("[controls]\nExtension1 = LeftY signed 5\n"), nullptr);
  EXPECT_EQ(error_, path_ +
                        ":2: Extension1: wants LeftX, LeftY, RightX, RightY, L2, R2 or None, "
                        "then signed or unsigned, the rest value and the full value, e.g. LeftX "
                        "signed 0 32767");
}

}  // namespace
}  // namespace bridge
