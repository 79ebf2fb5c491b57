// Devices that come and go while players play, on the library's own clock and threads: the
// hotplug follows the virtual receiver's plugs and unplugs, and neither a search nor a slow write
// holds up a streaming player.
#include <atomic>
#include <initializer_list>
#include <string>
#include <thread>
#include <vector>

#include "core/poll_thread.h"
#include "input/status_records.h"
#include "platform/virtual/virtual_receiver.h"
#include "support/eventually.h"
#include "support/library_fixture.h"
#include "transport/hid_device.h"

namespace zavn::testing {
namespace {

// Every motion record of every player, checked by its sample number.
struct SampleLog {
  std::atomic<std::uint32_t> received[4] = {};
  std::atomic<std::uint32_t> faults[4] = {};  // samples lost, repeated or out of order
  std::uint32_t next[4] = {};                 // on the poll thread only
  bool started[4] = {};

  static inline SampleLog* active = nullptr;
  static void ZAVN_CALL OnRecord(std::int32_t, PlayerStatus* status) {
    SampleLog& log = *active;
    for (int p = 0; p < 4; ++p) {
      if (status != &input::LibraryStatus(p + 1)) continue;
      const std::uint32_t sample = SampleOf(status->RawRecord);
      if (log.started[p] && sample != log.next[p]) ++log.faults[p];
      log.started[p] = true;
      log.next[p] = sample + 1;
      ++log.received[p];
    }
  }
};

// The virtual receiver behind a port whose searches and writes take as long as the test says:
// each waits until the players it names have received `records` more, as a slow system call
// would last. With nothing held that the poll thread needs, they do.
class SlowPort final : public platform::HidPort {
 public:
  explicit SlowPort(SampleLog& log) : log_(log) {}
  std::atomic<int> searches{0};
  std::atomic<int> waitsTimedOut{0};
  std::atomic<bool> slow{false};

  std::vector<std::string> InterfacePaths(std::uint32_t max) override {
    ++searches;
    HoldWhileStreaming({0, 1, 2});
    return rx_.InterfacePaths(max);
  }
  platform::WriteOutcome SetOutputReport(platform::HidHandle handle, const std::uint8_t* report,
                                         std::uint32_t length) override {
    // The host's writes to player 1; the poll thread's own writes go straight through.
    if (handle == transport::Slot(0).Handle() && !core::OnPollThread()) HoldWhileStreaming({1, 2});
    return rx_.SetOutputReport(handle, report, length);
  }

  platform::PathResult InterfacePath(std::uint32_t n,
                                     char (&path)[platform::kDevicePathSize]) override {
    return rx_.InterfacePath(n, path);
  }
  bool Identify(const char* path, platform::HidIdentity& out) override {
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
    if (!slow) return;
    constexpr std::uint32_t kRecords = 20;
    std::uint32_t from[4];
    for (int p : players) from[p] = log_.received[p];
    const bool streamed = Eventually([&] {
      for (int p : players) {
        if (log_.received[p] - from[p] < kRecords) return false;
      }
      return true;
    });
    if (!streamed) ++waitsTimedOut;
  }

  SampleLog& log_;
  platform::virt::VirtualReceiver& rx_ = platform::virt::Receiver();
};

class HotplugTest : public LibraryTest {
 protected:
  void SetUp() override {
    LibraryTest::SetUp();
    platform::InstallSystem(nullptr);  // the library's own clock and threads
    platform::InstallHidPort(&port_);
    SampleLog::active = &log_;
    ZAVNInitGetRawDataCallBack(SampleLog::OnRecord);
  }
  void TearDown() override {
    ZAVNSwitchHotplug(0);
    LibraryTest::TearDown();
  }
  bool Streaming(int player) {
    const std::uint32_t from = log_.received[player - 1];
    return Eventually([&] { return log_.received[player - 1] > from + 10; });
  }

  SampleLog log_;
  SlowPort port_{log_};
};

// Four transmitters at 1000 records/s; the fourth is pulled, and while its slot is free 100
// connects search back to back, each search as slow as 20 records of the others, and the host
// writes to player 1 as slowly: players 1 to 3 lose no record, and the fourth, plugged back, is
// taken again.
TEST_F(HotplugTest, SlowSearchesAndWritesHoldUpNoPlayer) {
  const std::int32_t first = ZAVNVirtualPlugReceiver(4, 1000);
  ASSERT_GT(first, 0);
  Connect();
  for (int player = 1; player <= 4; ++player) ASSERT_TRUE(Streaming(player)) << player;
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
  ZAVNConnectRx();
  ZAVNRoutineFunc();
  EXPECT_TRUE(Streaming(4));
  for (int p = 0; p < 3; ++p) EXPECT_EQ(log_.faults[p], 0u) << "player " << p + 1;
}

// With the hotplug on, a receiver plugged after the start streams, one pulled is given up at
// once, and one plugged back takes its slot again; another vendor's device starts no search.
TEST_F(HotplugTest, ReceiversThatComeAndGoAreFollowed) {
  ASSERT_EQ(ZAVNSwitchHotplug(1), 1);
  const std::int32_t id = ZAVNVirtualPlugReceiver(1, 200);
  ASSERT_GT(id, 0);
  EXPECT_TRUE(Streaming(1));

  const int searches = port_.searches;
  ASSERT_GT(ZAVNVirtualPlug(0x046D, 0xC52B, 8, 8, "Mouse"), 0);
  ZAVNVirtualUnplug(id);
  ASSERT_TRUE(Eventually([] { return ZAVNGetRxStatus(1) == LINK_NO_DEVICE; }));
  EXPECT_EQ(OpenHandles(id), 0);
  EXPECT_EQ(port_.searches, searches);

  ASSERT_EQ(ZAVNVirtualReplug(id), 1);
  EXPECT_TRUE(Streaming(1));
  EXPECT_EQ(ZAVNGetRxStatus(1), LINK_OK);
  EXPECT_EQ(OpenHandles(id), 1);

  // The reset switches it off: what is plugged afterwards waits for the host's connect.
  ZAVNReset();
  const std::int32_t later = ZAVNVirtualPlugReceiver(1, 200);
  ZAVNVirtualUnplug(id);
  EXPECT_EQ(OpenHandles(later), 0);
}

}  // namespace
}  // namespace zavn::testing
