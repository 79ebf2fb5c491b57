// Devices that come and go while players play, on the library's own clock and threads: the
// hotplug follows the virtual receiver's plugs and unplugs, and neither a search nor a slow write
// holds up a streaming player.
#include <array>
#include <atomic>
#include <chrono>
#include <initializer_list>
#include <string>
#include <thread>
#include <vector>

#include "core/run_state.h"
#include "input/input_report.h"
#include "platform/virtual/virtual_receiver.h"
#include "support/eventually.h"
#include "support/library_fixture.h"
#include "support/sample_recorder.h"
#include "transport/hid_device.h"

namespace zavn::testing {
namespace {

// The virtual receiver behind a port whose searches and writes take as long as the test says:
// each waits until the players it names have had 20 more records, as a slow system call would
// last. With nothing held that the poll thread needs, they do.
class SlowPort final : public platform::HidPort {
 public:
  explicit SlowPort(const SampleRecorder& samples) : samples_(samples) {}
  std::atomic<int> searches{0};
  std::atomic<int> identified{0};
  std::atomic<int> waitsTimedOut{0};
  std::atomic<bool> slow{false};

  std::vector<std::string> InterfacePaths(std::uint32_t max) override {
    ++searches;
    HoldWhileStreaming({1, 2, 3});
    return rx_.InterfacePaths(max);
  }
  platform::WriteOutcome SetOutputReport(platform::HidHandle handle, const std::uint8_t* report,
                                         std::uint32_t length) override {
    // Every write to player 1, the host's and the poll thread's periodic ones.
    if (handle == transport::Slot(0).Handle()) HoldWhileStreaming({2, 3});
    return rx_.SetOutputReport(handle, report, length);
  }

  platform::PathResult InterfacePath(std::uint32_t n,
                                     char (&path)[platform::kDevicePathSize]) override {
    return rx_.InterfacePath(n, path);
  }
  bool Identify(const char* path, platform::HidIdentity& out) override {
    ++identified;
    return rx_.Identify(path, out);
  }
  platform::HidHandle Open(const char* path) override { return rx_.Open(path); }
  void Close(platform::HidHandle handle) override { rx_.Close(handle); }
  bool Attributes(platform::HidHandle handle, platform::HidAttributes& out) override {
    return rx_.Attributes(handle, out);
  }
  bool Capabilities(platform::HidHandle handle, platform::HidCaps& out) override {
    return rx_.Capabilities(handle, out);
  }
  bool NumInputBuffers(platform::HidHandle handle, std::uint32_t& out) override {
    return rx_.NumInputBuffers(handle, out);
  }
  bool SetNumInputBuffers(platform::HidHandle handle, std::uint32_t count) override {
    return rx_.SetNumInputBuffers(handle, count);
  }
  bool ProductString(platform::HidHandle handle, void* buffer, std::uint32_t bytes) override {
    return rx_.ProductString(handle, buffer, bytes);
  }
  platform::ReadOutcome Read(platform::HidHandle handle, std::uint8_t* buffer,
                             std::uint32_t bytes) override {
    return rx_.Read(handle, buffer, bytes);
  }
  bool CanWaitForInput() override { return true; }
  std::uint32_t WaitForInput(const platform::HidHandle* handles, int count,
                             std::uint32_t ms) override {
    return rx_.WaitForInput(handles, count, ms);
  }
  bool WatchInterfaces(platform::InterfaceListener* listener) override {
    return rx_.WatchInterfaces(listener);
  }

 private:
  void HoldWhileStreaming(std::initializer_list<int> players) {
    if (slow && !samples_.AwaitMore(players, 20)) ++waitsTimedOut;
  }

  const SampleRecorder& samples_;
  platform::virt::VirtualReceiver& rx_ = platform::virt::Receiver();
};

class HotplugTest : public LibraryTest {
 protected:
  void SetUp() override {
    LibraryTest::SetUp();
    platform::InstallSystem(nullptr);  // the library's own clock and threads
    platform::InstallHidPort(&port_);
    samples_.Install();
  }

  SampleRecorder samples_;
  SlowPort port_{samples_};
};

// Four transmitters at 1000 records/s; the fourth is pulled, and while its slot is free 100
// connects search back to back, each search as slow as 20 records of the others, and every
// write to player 1 (the host's, and the poll thread's periodic ones) is as slow: players 1 to 3
// lose no record, and the fourth, plugged back, is taken again.
TEST_F(HotplugTest, SlowSearchesAndWritesHoldUpNoPlayer) {
  const std::int32_t first = ZAVNVirtualPlugReceiver(4, 1000);
  ASSERT_GT(first, 0);
  Connect();
  ASSERT_TRUE(samples_.AwaitMore({1, 2, 3, 4}, 10));
  ZAVNVirtualUnplug(first + 3);
  ASSERT_TRUE(Eventually([] { return ZAVNGetRxStatus(4) == LINK_NO_DEVICE; }));

  port_.slow = true;
  std::thread host([] {
    const std::uint8_t motor[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    for (int k = 0; k < 100; ++k) {
      ZAVNConnectRx();
      if (k % 10 == 0) ZAVNSetMotorAction(1, motor);
    }
  });
  host.join();
  port_.slow = false;
  EXPECT_EQ(port_.waitsTimedOut, 0);
  EXPECT_GE(port_.searches, 100);

  ASSERT_EQ(ZAVNVirtualReplug(first + 3), 1);
  Connect();
  EXPECT_TRUE(samples_.AwaitMore({4}, 10));
  for (int p = 1; p <= 3; ++p) {
    const Stream stream = samples_.StreamOf(p);
    EXPECT_EQ(stream.lost + stream.repeated, 0u) << "player " << p;
  }
}

// A host thread resets, joining the poll thread; another switches the hotplug on, whose thread
// connects what is present; the raw-data callback, on the poll thread, switches the hotplug off,
// joining that thread. None of them may wait for another in a circle.
std::atomic<bool> g_switchOffArmed{false};
void ZAVN_CALL SwitchHotplugOff(std::int32_t, PlayerStatus*) {
  if (!g_switchOffArmed.exchange(false)) return;
  // Gives the reset time to be joining this thread, and the hotplug's thread to start.
  Eventually([] { return core::Run().joinsUnderWay != 0; }, std::chrono::milliseconds(5));
  std::this_thread::sleep_for(std::chrono::microseconds(200));
  ZAVNSwitchHotplug(0);
}

TEST_F(HotplugTest, ResetHotplugAndCallbackNeverWaitInACircle) {
  const std::int32_t id = PlugReceiver();
  ASSERT_GT(id, 0);
  ZAVNInitGetRawDataCallBack(SwitchHotplugOff);
  std::array<std::uint8_t, kReportLength> forced{};
  PutMotion(forced.data(), {});
  forced[4] = input::report::kForcedDecodeMark;  // decoded before the players are assigned
  for (int round = 0; round < 1000; ++round) {
    Connect();
    g_switchOffArmed = true;
    ASSERT_EQ(ZAVNVirtualQueueInput(id, forced.data(), kReportLength), 1);
    std::thread reset([] { ZAVNReset(); });
    std::thread hotplug([] { ZAVNSwitchHotplug(1); });
    reset.join();
    hotplug.join();
    ZAVNSwitchHotplug(0);
  }
}

// With the hotplug on, a receiver plugged after the start streams, one pulled is given up at
// once, and one plugged back takes its slot again; another vendor's device starts no search.
TEST_F(HotplugTest, ReceiversThatComeAndGoAreFollowed) {
  ASSERT_EQ(ZAVNSwitchHotplug(1), 1);
  const std::int32_t id = ZAVNVirtualPlugReceiver(1, 200);
  ASSERT_GT(id, 0);
  EXPECT_TRUE(samples_.AwaitMore({1}, 10));

  const int searches = port_.searches;
  ASSERT_GT(ZAVNVirtualPlug(0x046D, 0xC52B, 8, 8, "Mouse"), 0);
  ZAVNVirtualUnplug(id);
  ASSERT_TRUE(Eventually([] { return ZAVNGetRxStatus(1) == LINK_NO_DEVICE; }));
  EXPECT_EQ(OpenHandles(id), 0);
  EXPECT_EQ(port_.searches, searches);

  ASSERT_EQ(ZAVNVirtualReplug(id), 1);
  EXPECT_TRUE(samples_.AwaitMore({1}, 10));
  EXPECT_EQ(ZAVNGetRxStatus(1), LINK_OK);
  EXPECT_EQ(OpenHandles(id), 1);

  // The reset switches it off: what is plugged afterwards waits for the host's connect.
  ZAVNReset();
  const std::int32_t later = ZAVNVirtualPlugReceiver(1, 200);
  ZAVNVirtualUnplug(id);
  EXPECT_EQ(OpenHandles(later), 0);
}

// With the hotplug on, links lost without a removal are taken up again: a fifth receiver that
// found the four slots busy takes the one an unplug frees within a second, and a receiver whose
// reads fail while it stays plugged in, or which cannot be opened at first, is taken once it can.
TEST_F(HotplugTest, ReceiversThatCouldNotBeTakenAreTakenLater) {
  ASSERT_EQ(ZAVNSwitchHotplug(1), 1);
  const std::int32_t first = ZAVNVirtualPlugReceiver(4, 200);
  ASSERT_TRUE(samples_.AwaitMore({1, 2, 3, 4}, 10));
  const int identified = port_.identified;
  const std::int32_t fifth = ZAVNVirtualPlugReceiver(1, 200);
  ASSERT_TRUE(Eventually([&] { return port_.identified >= identified + 3; }));
  EXPECT_EQ(OpenHandles(fifth), 0);

  ZAVNVirtualUnplug(first + 1);
  EXPECT_TRUE(Eventually([&] { return OpenHandles(fifth) == 1; }, std::chrono::seconds(1)));
  EXPECT_TRUE(Eventually([] { return ZAVNGetRxStatus(2) == LINK_OK; }));

  ASSERT_EQ(ZAVNVirtualSetFaults(first, ZAVN_VIRTUAL_FAULT_READ), 1);
  ASSERT_TRUE(Eventually([] { return ZAVNGetRxStatus(1) == LINK_NO_DEVICE; }));
  ASSERT_EQ(ZAVNVirtualSetFaults(first, 0), 1);
  EXPECT_TRUE(Eventually([&] { return ZAVNGetRxStatus(1) == LINK_OK && OpenHandles(first) == 1; }));

  // One that cannot be opened for longer than its quick tries is tried on.
  ZAVNVirtualUnplug(first + 2);
  ASSERT_EQ(ZAVNVirtualSetFaults(first + 2, ZAVN_VIRTUAL_FAULT_OPEN), 1);
  const int before = port_.identified;
  ASSERT_EQ(ZAVNVirtualReplug(first + 2), 1);
  ASSERT_TRUE(Eventually([&] { return port_.identified >= before + 12; }));
  ASSERT_EQ(ZAVNVirtualSetFaults(first + 2, 0), 1);
  EXPECT_TRUE(Eventually([&] { return OpenHandles(first + 2) == 1; }));
}

}  // namespace
}  // namespace zavn::testing
