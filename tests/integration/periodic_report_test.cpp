// The periodic output report, driven by the poll thread on the stepped clock.
#include <vector>

#include "commands/periodic_clock.h"
#include "support/library_fixture.h"
#include "support/output_log.h"

namespace zavn::testing {
namespace {

const Bytes kRawData{0x04, 0xFF};
const Bytes kGameMode{0x05, 0x00};
const Bytes kLinkCheck{0x04, 0x64, 0x00, 0x00};

class PeriodicReportTest : public LibraryTest {
 protected:
  // Connects the receivers plugged so far and lets the first poll take the time at `start`.
  void Connect(std::uint32_t start) {
    system_.SetNow(start);
    ZAVNConnectRx();
    ZAVNRoutineFunc();
    ASSERT_TRUE(system_.Step());
    ASSERT_EQ(commands::Periodic().lastTick, start);
  }
  // One poll cycle `ms` after the previous one; the reports written in it, per interface.
  std::vector<Bytes> StepAndTake(std::uint32_t ms, std::int32_t id) {
    system_.Advance(ms);
    EXPECT_TRUE(system_.Step());
    return TakeAllOutput(id);
  }
};

TEST_F(PeriodicReportTest, SlotOneGetsRawDataAndGameModeAbout210MsApart) {
  const std::int32_t id = PlugReceiver();
  Connect(5000);
  std::vector<std::uint32_t> emissions;
  for (std::uint32_t t = 5010; t <= 6000; t += 10) {
    ASSERT_TRUE(QueueReport(id));  // reports flow: no link check
    const std::vector<Bytes> sent = StepAndTake(10, id);
    if (sent.empty()) continue;
    EXPECT_EQ(sent, (std::vector<Bytes>{kRawData, kGameMode})) << t;
    emissions.push_back(t);
  }
  EXPECT_EQ(emissions, (std::vector<std::uint32_t>{5210, 5420, 5630, 5840}));
}

TEST_F(PeriodicReportTest, MoreThan200MsSendsAlsoAcrossTheTickWrap) {
  const std::int32_t id = PlugReceiver();
  const std::uint32_t start = 0xFFFFFF80u;
  Connect(start);
  system_.SetNow(start + 200);
  ASSERT_TRUE(system_.Step());
  EXPECT_TRUE(TakeAllOutput(id).empty());
  system_.SetNow(start + 201);  // past the wrap
  ASSERT_TRUE(system_.Step());
  EXPECT_EQ(TakeAllOutput(id), (std::vector<Bytes>{kRawData, kGameMode}));
  EXPECT_EQ(commands::Periodic().lastTick, start + 201);
}

TEST_F(PeriodicReportTest, ASlotSilentForMoreThanTheGraceGetsTheLinkCheckUntilReportsFlow) {
  const std::int32_t first = PlugReceiver();
  const std::int32_t silent = PlugReceiver();
  Connect(1000);
  int checks = 0;
  std::uint32_t firstCheck = 0;
  for (std::uint32_t t = 1010; t <= 2000; t += 10) {
    ASSERT_TRUE(QueueReport(first));
    const std::vector<Bytes> toFirst = StepAndTake(10, first);
    const std::vector<Bytes> toSilent = TakeAllOutput(silent);
    if (!toFirst.empty()) {
      EXPECT_EQ(toFirst, (std::vector<Bytes>{kRawData, kGameMode})) << t;
    }
    if (toSilent.empty()) continue;
    EXPECT_EQ(toSilent, std::vector<Bytes>{kLinkCheck}) << t;
    EXPECT_FALSE(toFirst.empty()) << t;  // sent with an emission only
    EXPECT_EQ(ZAVNGetTxStatus(2), LINK_TIMEOUT);
    if (checks++ == 0) firstCheck = t;
  }
  EXPECT_EQ(firstCheck, 1630u);  // the first emission after 500 ms without a report
  EXPECT_EQ(checks, 2);          // 1630 and 1840

  // Reports again: the next emission leaves the slot alone.
  for (int k = 0; k < 30; ++k) {
    ASSERT_TRUE(QueueReport(first));
    ASSERT_TRUE(QueueReport(silent));
    StepAndTake(10, first);
    EXPECT_TRUE(TakeAllOutput(silent).empty()) << k;
  }
}

TEST_F(PeriodicReportTest, ALostLinkGetsNoCheckWhateverItsReadsGave) {
  const std::int32_t first = PlugReceiver();
  const std::int32_t lost = PlugReceiver();
  Connect(1000);
  ZAVNVirtualSetFaults(lost, ZAVN_VIRTUAL_FAULT_READ);
  int emissions = 0;
  for (int k = 0; k < 100; ++k) {
    ASSERT_TRUE(QueueReport(first));
    if (!StepAndTake(10, first).empty()) ++emissions;
    EXPECT_TRUE(TakeAllOutput(lost).empty()) << k;
  }
  EXPECT_EQ(ZAVNGetRxStatus(2), LINK_NO_DEVICE);
  EXPECT_EQ(emissions, 4);
}

TEST_F(PeriodicReportTest, ClosedSlotOneGetsNothingWhileTheClockAdvances) {
  const std::int32_t first = PlugReceiver();
  const std::int32_t second = PlugReceiver();
  Connect(1000);
  ZAVNDisconnectRx(1);
  std::uint32_t lastTick = commands::Periodic().lastTick;
  std::vector<std::uint32_t> emissions;
  for (int k = 0; k < 50; ++k) {
    ASSERT_TRUE(QueueReport(second));
    EXPECT_TRUE(StepAndTake(10, first).empty());
    EXPECT_TRUE(TakeAllOutput(second).empty());
    if (commands::Periodic().lastTick != lastTick)
      emissions.push_back(commands::Periodic().lastTick);
    lastTick = commands::Periodic().lastTick;
  }
  EXPECT_EQ(emissions, (std::vector<std::uint32_t>{1210, 1420}));
}

}  // namespace
}  // namespace zavn::testing
