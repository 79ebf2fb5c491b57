// The bridge's motion sensor node against the virtual controller's truth: lying on three faces
// and turning about each axis in turn, the node's axes read each sample's motion on a DualShock
// 4's motion axes at their resolutions; the player's nodes go as it leaves. Runs where /dev/uinput
// may be written (the kernel test's guest); skipped elsewhere.
#include <fcntl.h>
#include <libevdev/libevdev.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <string>

#include "support/library_fixture.h"
#include "tools/bridge/gamepads.h"
#include "zavn/zavn_motion.h"

namespace zavn::testing {
namespace {

constexpr double kCountsPerG = 8192, kCountsPerDps = 1024;

// The event node of the input device named `name`, opened without blocking; null when none.
libevdev* OpenNamed(const std::string& name) {
  for (const auto& entry : std::filesystem::directory_iterator("/dev/input")) {
    if (entry.path().filename().string().rfind("event", 0) != 0) continue;
    const int fd = open(entry.path().c_str(), O_RDONLY | O_NONBLOCK);
    libevdev* device = nullptr;
    if (fd >= 0 && libevdev_new_from_fd(fd, &device) == 0 && libevdev_get_name(device) == name) {
      return device;
    }
    if (device != nullptr) libevdev_free(device);
    if (fd >= 0) close(fd);
  }
  return nullptr;
}

class BridgeGamepadTest : public LibraryTest {};

TEST_F(BridgeGamepadTest, TheMotionNodeReadsEachSampleOnADualShock4sAxes) {
  bridge::Gamepads gamepads;
  std::string error;
  if (!gamepads.Open(error)) GTEST_SKIP() << error;
  system_.AdvanceClockOnSleep();
  const std::int32_t id = ZAVNVirtualPlugReceiver(1, 1000);
  ASSERT_GT(id, 0);
  Connect();
  AwaitPlayers();
  bridge::PlayerState state;
  state.link = LINK_OK;
  state.connected = true;
  gamepads.PlayerChanged(1, state);
  libevdev* node = nullptr;
  for (int k = 0; k < 100 && node == nullptr; ++k) {  // devtmpfs makes the node at once, or soon
    node = OpenNamed("ZAVN Controller 1 Motion Sensors");
    if (node == nullptr) usleep(10000);
  }
  ASSERT_NE(node, nullptr);
  EXPECT_TRUE(libevdev_has_property(node, INPUT_PROP_ACCELEROMETER));
  EXPECT_EQ(libevdev_get_abs_resolution(node, ABS_X), kCountsPerG);
  EXPECT_EQ(libevdev_get_abs_resolution(node, ABS_RZ), kCountsPerDps);

  const struct {
    float accel[3], gyro[3];
    double node[6];  // ABS_X, Y, Z in g and ABS_RX, RY, RZ in deg/s, as a DS4's node reads
  } cases[] = {
      {{0, 0, 1}, {}, {0, 1, 0, 0, 0, 0}},            // lying face up
      {{1, 0, 0}, {}, {1, 0, 0, 0, 0, 0}},            // right side up
      {{0, 1, 0}, {}, {0, 0, -1, 0, 0, 0}},           // pointing up
      {{0, 0, 1}, {90, 0, 0}, {0, 1, 0, 90, 0, 0}},   // its front rising
      {{0, 0, 1}, {0, 90, 0}, {0, 1, 0, 0, 0, -90}},  // its right side going down
      {{0, 0, 1}, {0, 0, 90}, {0, 1, 0, 0, 90, 0}},   // turning left
  };
  const bridge::ControlMapping mapping;
  ZAVNMotionSample samples[ZAVN_MOTION_RING];
  for (const auto& c : cases) {
    ZAVNVirtualSetMotion(id, c.accel, c.gyro);
    for (int step = 0; step < 20; ++step) ASSERT_TRUE(system_.Step());
    const int count = ZAVNReadMotion(1, samples, ZAVN_MOTION_RING);
    ASSERT_GT(count, 0);
    // The last few: more would overflow the node's buffer before this reads it.
    for (int k = std::max(0, count - 8); k < count; ++k) {
      gamepads.Sample(1, samples[k], {&mapping, {}});
    }
    input_event event;
    for (int read = 0; read >= 0;) {
      read = libevdev_next_event(node, LIBEVDEV_READ_FLAG_NORMAL, &event);
      while (read == LIBEVDEV_READ_STATUS_SYNC) {  // dropped after all: the node's state
        read = libevdev_next_event(node, LIBEVDEV_READ_FLAG_SYNC, &event);
      }
    }
    const ZAVNMotionSample& last = samples[count - 1];
    const double mapped[6] = {last.accelG[0],  last.accelG[2],  -last.accelG[1],
                              last.gyroDps[0], last.gyroDps[2], -last.gyroDps[1]};
    for (int a = 0; a < 6; ++a) {
      const double perUnit = a < 3 ? kCountsPerG : kCountsPerDps;
      const double read = libevdev_get_event_value(node, EV_ABS, static_cast<unsigned>(ABS_X + a));
      EXPECT_EQ(read, std::round(mapped[a] * perUnit)) << a;            // the sample, as documented
      EXPECT_NEAR(read / perUnit, c.node[a], a < 3 ? 0.05 : 1.0) << a;  // the truth
    }
  }
  close(libevdev_get_fd(node));
  libevdev_free(node);

  // The player leaves: both its nodes go at once.
  gamepads.PlayerChanged(1, {});
  for (const char* name : {"ZAVN Controller 1", "ZAVN Controller 1 Motion Sensors"}) {
    EXPECT_EQ(OpenNamed(name), nullptr) << name;
  }
}

}  // namespace
}  // namespace zavn::testing
