// The periodic output report, driven by the poll thread on the stepped clock.
#include <vector>

#include "support/library_fixture.h"

namespace zavn::testing {
namespace {

using Reports = std::vector<Bytes>;
using Times = std::vector<std::uint32_t>;

using PeriodicReportTest = LibraryTest;

// Slot 1 gets the emission once more than 200 ms have passed, a slot silent for more than 500 ms
// the link check with it, a lost link nothing; the tick wraps 256 ms in.
TEST_F(PeriodicReportTest, SlotOneGetsItsReportsOnlyWhileOpenAndASilentSlotTheLinkCheck) {
  const std::int32_t first = PlugReceiver();
  const std::int32_t silent = PlugReceiver();
  const std::int32_t lost = PlugReceiver();
  system_.SetNow(0xFFFFFF00u);
  Connect();
  ASSERT_TRUE(system_.Step());  // the first poll takes the time
  ZAVNVirtualSetFaults(lost, ZAVN_VIRTUAL_FAULT_READ);
  Times emissions, checks;  // ms after the start
  for (std::uint32_t t = 10; t <= 1000; t += 10) {
    ASSERT_TRUE(QueueReport(first));
    system_.Advance(10);
    ASSERT_TRUE(system_.Step());
    const Reports toFirst = TakeAllOutput(first);
    const Reports toSilent = TakeAllOutput(silent);
    EXPECT_TRUE(TakeAllOutput(lost).empty()) << t;
    if (!toFirst.empty()) {
      EXPECT_EQ(toFirst, kPeriodicReports) << t;
      emissions.push_back(t);
    }
    if (!toSilent.empty()) {
      EXPECT_EQ(toSilent, Reports{kLinkCheck}) << t;
      EXPECT_EQ(ZAVNGetTxStatus(2), LINK_TIMEOUT);
      checks.push_back(t);
    }
  }
  EXPECT_EQ(emissions, (Times{210, 420, 630, 840}));
  EXPECT_EQ(checks, (Times{630, 840}));
  EXPECT_EQ(ZAVNGetRxStatus(3), LINK_NO_DEVICE);

  // Slot 1 closed: nothing goes anywhere.
  ZAVNDisconnectRx(1);
  for (int k = 0; k < 50; ++k) {
    ASSERT_TRUE(QueueReport(silent));
    system_.Advance(10);
    ASSERT_TRUE(system_.Step());
    EXPECT_TRUE(TakeAllOutput(first).empty());
    EXPECT_TRUE(TakeAllOutput(silent).empty());
  }
}

}  // namespace
}  // namespace zavn::testing
