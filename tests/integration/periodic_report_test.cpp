// The periodic output report, driven by the poll thread on the stepped clock.
#include <vector>

#include "commands/periodic_clock.h"
#include "support/library_fixture.h"

namespace zavn::testing {
namespace {

using Reports = std::vector<Bytes>;
using Times = std::vector<std::uint32_t>;

class PeriodicReportTest : public LibraryTest {
 protected:
  // Connects the receivers plugged so far and lets the first poll take the time at `start`.
  void Connect(std::uint32_t start) {
    system_.SetNow(start);
    LibraryTest::Connect();
    ASSERT_TRUE(system_.Step());
    ASSERT_EQ(commands::Periodic().lastTick, start);
  }
  // One poll cycle `ms` after the previous one; what it wrote to `id`.
  Reports StepAndTake(std::uint32_t ms, std::int32_t id) {
    system_.Advance(ms);
    EXPECT_TRUE(system_.Step());
    return TakeAllOutput(id);
  }
};

// Slot 1 gets the emission about every 210 ms, a slot silent for more than 500 ms the link check
// with it, a lost link nothing.
TEST_F(PeriodicReportTest, SlotOneGetsItsReportsOnlyWhileOpenAndASilentSlotTheLinkCheck) {
  const std::int32_t first = PlugReceiver();
  const std::int32_t silent = PlugReceiver();
  const std::int32_t lost = PlugReceiver();
  Connect(1000);
  ZAVNVirtualSetFaults(lost, ZAVN_VIRTUAL_FAULT_READ);
  Times emissions, checks;
  for (std::uint32_t t = 1010; t <= 2000; t += 10) {
    ASSERT_TRUE(QueueReport(first));
    const Reports toFirst = StepAndTake(10, first);
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
  EXPECT_EQ(emissions, (Times{1210, 1420, 1630, 1840}));
  EXPECT_EQ(checks, (Times{1630, 1840}));
  EXPECT_EQ(ZAVNGetRxStatus(3), LINK_NO_DEVICE);

  // Slot 1 closed: nothing goes anywhere.
  ZAVNDisconnectRx(1);
  for (int k = 0; k < 50; ++k) {
    ASSERT_TRUE(QueueReport(silent));
    EXPECT_TRUE(StepAndTake(10, first).empty());
    EXPECT_TRUE(TakeAllOutput(silent).empty());
  }
}

TEST_F(PeriodicReportTest, MoreThan200MsSendsAlsoAcrossTheTickWrap) {
  const std::int32_t id = PlugReceiver();
  const std::uint32_t start = 0xFFFFFF80u;
  Connect(start);
  EXPECT_TRUE(StepAndTake(200, id).empty());
  EXPECT_EQ(StepAndTake(1, id), kPeriodicReports);  // past the wrap
  EXPECT_EQ(commands::Periodic().lastTick, start + 201);
}

}  // namespace
}  // namespace zavn::testing
