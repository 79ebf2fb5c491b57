// Connecting, polling and losing receivers through the exported functions, one poll cycle at a
// time on the stepped clock.
#include "support/library_fixture.h"

namespace zavn::testing {
namespace {

constexpr Links kAllNoDevice = {6, 6, 6, 6};

class LinkTest : public LibraryTest {
 protected:
  // Connects and switches polling on; the first cycle may or may not have polled yet.
  void ConnectAndPoll() {
    ZAVNConnectRx();
    EXPECT_EQ(ZAVNRoutineFunc(), 1);
  }
};

TEST_F(LinkTest, ResetShowsNoDeviceEverywhere) {
  EXPECT_EQ(ZAVNReset(), LINK_RESET_DONE);
  EXPECT_EQ(RxStatus(), kAllNoDevice);
  EXPECT_EQ(TxStatus(), kAllNoDevice);
  // Players outside 1..4 answer for player 1.
  EXPECT_EQ(ZAVNGetRxStatus(0), ZAVNGetRxStatus(1));
  EXPECT_EQ(ZAVNGetTxStatus(99), ZAVNGetTxStatus(1));
}

TEST_F(LinkTest, ConnectOpensOnlyTheReceiverDataInterface) {
  const std::int32_t shortReports = ZAVNVirtualPlug(kVendor, kProduct, 4, 4, "NOLTADongle");
  const std::int32_t mediumReports = ZAVNVirtualPlug(kVendor, kProduct, 14, 14, "NOLTADongle");
  const std::int32_t otherVendor = ZAVNVirtualPlug(0x045E, 0x0008, 32, 32, "Pad");
  const std::int32_t data = PlugReceiver();

  ZAVNConnectRx();
  EXPECT_EQ(RxStatus(), (Links{5, 6, 6, 6}));
  EXPECT_EQ(OpenHandles(data), 1);
  EXPECT_EQ(OpenHandles(shortReports) + OpenHandles(mediumReports) + OpenHandles(otherVendor), 0);
  EXPECT_EQ(system_.ThreadsStarted(), 1);

  // A second connect keeps what the slots hold.
  ZAVNConnectRx();
  EXPECT_EQ(RxStatus(), (Links{5, 6, 6, 6}));
  EXPECT_EQ(OpenHandles(data), 1);
  EXPECT_EQ(system_.ThreadsStarted(), 1);
}

TEST_F(LinkTest, ConnectWithoutReceiverStartsNoThread) {
  ZAVNVirtualPlug(0x045E, 0x0008, 32, 32, "Pad");
  ZAVNConnectRx();
  EXPECT_EQ(RxStatus(), kAllNoDevice);
  EXPECT_EQ(system_.ThreadsStarted(), 0);
  EXPECT_EQ(ZAVNTerminate(0), 0);
}

TEST_F(LinkTest, SilentReceiverTimesOutAfterTheGraceAndRecoversWithAReport) {
  const std::int32_t id = PlugReceiver();
  system_.SetNow(1000);
  ConnectAndPoll();

  ASSERT_TRUE(system_.Step());
  EXPECT_EQ(TxStatus(), (Links{5, 6, 6, 6}));
  system_.Advance(500);
  ASSERT_TRUE(system_.Step());
  EXPECT_EQ(ZAVNGetTxStatus(1), LINK_OK);
  system_.Advance(1);
  ASSERT_TRUE(system_.Step());
  EXPECT_EQ(ZAVNGetTxStatus(1), LINK_TIMEOUT);
  EXPECT_EQ(RxStatus(), (Links{5, 6, 6, 6}));

  ASSERT_TRUE(QueueReport(id));
  system_.Advance(10);
  ASSERT_TRUE(system_.Step());
  EXPECT_EQ(ZAVNGetTxStatus(1), LINK_OK);
  EXPECT_EQ(ZAVNGetRxStatus(1), LINK_OK);
}

TEST_F(LinkTest, UnpluggedReceiverIsDroppedAndTheThreadEnds) {
  const std::int32_t first = PlugReceiver();
  ConnectAndPoll();
  ASSERT_TRUE(system_.Step());

  ZAVNVirtualUnplug(first);
  ASSERT_TRUE(system_.Step());
  EXPECT_EQ(RxStatus(), kAllNoDevice);
  EXPECT_EQ(TxStatus(), kAllNoDevice);
  EXPECT_FALSE(system_.Step());
  EXPECT_TRUE(system_.ThreadEnded());

  // Plugged again, it is connected and polled by a new thread; the old handle is closed.
  const std::int32_t second = PlugReceiver();
  ASSERT_TRUE(QueueReport(second));
  ConnectAndPoll();
  EXPECT_EQ(RxStatus(), (Links{5, 6, 6, 6}));
  EXPECT_EQ(OpenHandles(first), 0);
  EXPECT_EQ(system_.ThreadsStarted(), 2);
  ASSERT_TRUE(system_.Step());
  EXPECT_EQ(ZAVNGetTxStatus(1), LINK_OK);
  EXPECT_NE(ZAVNTerminate(0), 0);
}

TEST_F(LinkTest, ConnectWhileTheThreadIsAboutToEndKeepsItPolling) {
  const std::int32_t first = PlugReceiver();
  ConnectAndPoll();
  ASSERT_TRUE(system_.Step());
  ZAVNVirtualUnplug(first);
  ASSERT_TRUE(system_.Step());  // the link is lost; the thread would end at its next cycle

  const std::int32_t second = PlugReceiver();
  ConnectAndPoll();
  EXPECT_EQ(RxStatus(), (Links{5, 6, 6, 6}));
  ASSERT_TRUE(QueueReport(second));
  ASSERT_TRUE(system_.Step());
  EXPECT_EQ(ZAVNGetTxStatus(1), LINK_OK);
  EXPECT_EQ(system_.ThreadsStarted(), 1);
}

TEST_F(LinkTest, ReceiversFillTheSlotsInEnumerationOrder) {
  const std::int32_t a = PlugReceiver();
  const std::int32_t b = PlugReceiver();
  ZAVNConnectRx();
  EXPECT_EQ(RxStatus(), (Links{5, 5, 6, 6}));
  EXPECT_EQ(OpenHandles(a), 1);
  EXPECT_EQ(OpenHandles(b), 1);
}

TEST_F(LinkTest, OfMoreThanFourReceiversTheFirstFourAreTaken) {
  std::int32_t ids[5];
  for (auto& id : ids) id = PlugReceiver();
  ZAVNConnectRx();
  EXPECT_EQ(RxStatus(), (Links{5, 5, 5, 5}));
  for (int k = 0; k < 4; ++k) EXPECT_EQ(OpenHandles(ids[k]), 1) << k;
  EXPECT_EQ(OpenHandles(ids[4]), 0);
}

TEST_F(LinkTest, ReconnectTakesAReceiverNoOtherSlotHolds) {
  const std::int32_t a = PlugReceiver();
  const std::int32_t b = PlugReceiver();
  ConnectAndPoll();
  ASSERT_TRUE(system_.Step());
  ZAVNVirtualUnplug(b);
  ASSERT_TRUE(system_.Step());
  EXPECT_EQ(RxStatus(), (Links{5, 6, 6, 6}));

  ZAVNDisconnectRx(2);
  const std::int32_t c = PlugReceiver();
  ZAVNConnectRx();
  EXPECT_EQ(RxStatus(), (Links{5, 5, 6, 6}));
  EXPECT_EQ(OpenHandles(a), 1);
  EXPECT_EQ(OpenHandles(b), 0);
  EXPECT_EQ(OpenHandles(c), 1);
}

TEST_F(LinkTest, DisconnectClosesTheSlotAndPollingDropsIt) {
  const std::int32_t id = PlugReceiver();
  ConnectAndPoll();
  ASSERT_TRUE(system_.Step());
  ZAVNDisconnectRx(0);
  ZAVNDisconnectRx(5);
  EXPECT_EQ(OpenHandles(id), 1);
  ZAVNDisconnectRx(1);
  EXPECT_EQ(OpenHandles(id), 0);
  ASSERT_TRUE(system_.Step());
  EXPECT_EQ(RxStatus(), kAllNoDevice);
  EXPECT_FALSE(system_.Step());
}

TEST_F(LinkTest, ResetWaitsForThePollThreadAndClosesEverything) {
  const std::int32_t id = PlugReceiver();
  ConnectAndPoll();
  ASSERT_TRUE(system_.Step());
  EXPECT_EQ(ZAVNReset(), LINK_RESET_DONE);
  EXPECT_TRUE(system_.ThreadEnded());
  EXPECT_EQ(RxStatus(), kAllNoDevice);
  EXPECT_EQ(TxStatus(), kAllNoDevice);
  EXPECT_EQ(OpenHandles(id), 0);

  ConnectAndPoll();
  EXPECT_EQ(ZAVNGetRxStatus(1), LINK_OK);
  EXPECT_TRUE(system_.Step());
}

TEST_F(LinkTest, TerminateEndsThePollThreadWhateverTheHostPasses) {
  PlugReceiver();
  ConnectAndPoll();
  EXPECT_NE(ZAVNTerminate(1), 0);
  EXPECT_TRUE(system_.ThreadEnded());
  EXPECT_EQ(ZAVNTerminate(0), 0);  // no thread left to close

  ZAVNConnectRx();
  EXPECT_EQ(system_.ThreadsStarted(), 2);
  EXPECT_NE(ZAVNTerminate(0), 0);
  EXPECT_TRUE(system_.ThreadEnded());
}

}  // namespace
}  // namespace zavn::testing
