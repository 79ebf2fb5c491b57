// A thousand receivers plugged, connected, streamed, unplugged and reconnected: no handle and no
// thread is left behind. (The AddressSanitizer build checks the heap with LeakSanitizer at exit.)
#include "support/library_fixture.h"
#include "support/process_threads.h"
#include "transport/hid_device.h"

namespace zavn::testing {
namespace {

using LeakTest = LibraryTest;

TEST_F(LeakTest, PlugConnectStreamUnplugCyclesLeaveNothingOpen) {
  system_.AdvanceClockOnSleep();
  // Counted after the first cycle: a sanitizer may start a thread of its own with the first one.
  int threadsAfterFirstCycle = 0;
  for (int cycle = 0; cycle < 1000; ++cycle) {
    const std::int32_t transmitters = 1 + cycle % 4;
    const std::int32_t first = ZAVNVirtualPlugReceiver(transmitters, 200);
    ASSERT_GT(first, 0) << "no room for a receiver in cycle " << cycle;
    // Reconnecting closes what the lost links still held, and takes the new interfaces.
    Connect();
    ASSERT_EQ(ZAVNGetRxStatus(1), LINK_OK) << cycle;
    for (int k = 0; k < 3; ++k) ASSERT_TRUE(system_.Step()) << cycle;
    // Lost links in slots above the new receiver's keep their handles, but these never pile up.
    ASSERT_LE(ZAVNVirtualOpenHandles(), transport::kSlotCount) << cycle;

    // Unplugged: the poll thread loses every link and ends by itself.
    for (std::int32_t id = first - 2; id < first + transmitters; ++id) ZAVNVirtualUnplug(id);
    for (int k = 0; k < 10 && system_.Step(); ++k) {
    }
    ASSERT_TRUE(system_.WaitUntilEnded()) << cycle;
    ASSERT_EQ(ZAVNGetRxStatus(1), LINK_NO_DEVICE) << cycle;
    if (cycle == 0) threadsAfterFirstCycle = ProcessThreads();
  }
  for (std::int32_t p = 1; p <= 4; ++p) ZAVNDisconnectRx(p);
  ZAVNTerminate(0);
  EXPECT_EQ(ZAVNVirtualOpenHandles(), 0);
  EXPECT_LE(ProcessThreads(), threadsAfterFirstCycle);
}

}  // namespace
}  // namespace zavn::testing
