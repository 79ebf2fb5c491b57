// Connecting, polling and losing receivers through the exported functions, one poll cycle at a
// time on the stepped clock.
#include "support/library_fixture.h"

namespace zavn::testing {
namespace {

constexpr Links kAllNoDevice = {6, 6, 6, 6};
constexpr Links kFirstOnly = {5, 6, 6, 6};

class LinkTest : public LibraryTest {
 protected:
  // Connects and switches polling on; the first cycle may or may not have polled yet.
  void ConnectAndPoll() {
    ZAVNConnectRx();
    EXPECT_EQ(ZAVNRoutineFunc(), 1);
  }
};

TEST_F(LinkTest, ResetShowsNoDeviceAndConnectWithoutReceiverStartsNoThread) {
  EXPECT_EQ(ZAVNReset(), LINK_RESET_DONE);
  EXPECT_EQ(RxStatus(), kAllNoDevice);
  EXPECT_EQ(TxStatus(), kAllNoDevice);
  // Players outside 1..4 answer for player 1.
  EXPECT_EQ(ZAVNGetRxStatus(0), ZAVNGetRxStatus(1));
  EXPECT_EQ(ZAVNGetTxStatus(99), ZAVNGetTxStatus(1));

  ZAVNVirtualPlug(0x045E, 0x0008, 32, 32, "Pad");
  ZAVNConnectRx();
  EXPECT_EQ(RxStatus(), kAllNoDevice);
  EXPECT_EQ(system_.ThreadsStarted(), 0);
  EXPECT_EQ(ZAVNTerminate(0), 0);
}

TEST_F(LinkTest, ConnectOpensTheFirstFourReceiverDataInterfacesOnly) {
  const std::int32_t shortReports = ZAVNVirtualPlug(kVendor, kProduct, 4, 4, "NOLTADongle");
  const std::int32_t mediumReports = ZAVNVirtualPlug(kVendor, kProduct, 14, 14, "NOLTADongle");
  const std::int32_t otherVendor = ZAVNVirtualPlug(0x045E, 0x0008, 32, 32, "Pad");
  std::int32_t data[5];
  for (auto& id : data) id = PlugReceiver();

  for (int connect = 0; connect < 2; ++connect) {  // a second connect keeps what the slots hold
    ZAVNConnectRx();
    EXPECT_EQ(RxStatus(), (Links{5, 5, 5, 5})) << connect;
    for (int k = 0; k < 4; ++k) EXPECT_EQ(OpenHandles(data[k]), 1) << connect << " " << k;
    EXPECT_EQ(system_.ThreadsStarted(), 1) << connect;
  }
  EXPECT_EQ(OpenHandles(data[4]), 0);
  EXPECT_EQ(OpenHandles(shortReports) + OpenHandles(mediumReports) + OpenHandles(otherVendor), 0);
}

TEST_F(LinkTest, SilentReceiverTimesOutAfterTheGraceAndRecoversWithAReport) {
  const std::int32_t id = PlugReceiver();
  system_.SetNow(1000);
  ConnectAndPoll();

  ASSERT_TRUE(system_.Step());
  EXPECT_EQ(TxStatus(), kFirstOnly);
  system_.Advance(500);
  ASSERT_TRUE(system_.Step());
  EXPECT_EQ(ZAVNGetTxStatus(1), LINK_OK);
  system_.Advance(1);
  ASSERT_TRUE(system_.Step());
  EXPECT_EQ(ZAVNGetTxStatus(1), LINK_TIMEOUT);
  EXPECT_EQ(RxStatus(), kFirstOnly);

  ASSERT_TRUE(QueueReport(id));
  system_.Advance(10);
  ASSERT_TRUE(system_.Step());
  EXPECT_EQ(ZAVNGetTxStatus(1), LINK_OK);
  EXPECT_EQ(ZAVNGetRxStatus(1), LINK_OK);
}

TEST_F(LinkTest, ConnectWhileTheThreadIsAboutToEndKeepsItPolling) {
  const std::int32_t first = PlugReceiver();
  ConnectAndPoll();
  ASSERT_TRUE(system_.Step());
  ZAVNVirtualUnplug(first);
  ASSERT_TRUE(system_.Step());  // the link is lost; the thread would end at its next cycle
  EXPECT_EQ(RxStatus(), kAllNoDevice);
  EXPECT_EQ(TxStatus(), kAllNoDevice);

  const std::int32_t second = PlugReceiver();
  ConnectAndPoll();
  EXPECT_EQ(RxStatus(), kFirstOnly);
  EXPECT_EQ(OpenHandles(first), 0);
  ASSERT_TRUE(QueueReport(second));
  ASSERT_TRUE(system_.Step());
  EXPECT_EQ(ZAVNGetTxStatus(1), LINK_OK);
  EXPECT_EQ(system_.ThreadsStarted(), 1);
}

TEST_F(LinkTest, DisconnectClosesTheSlotAndReconnectTakesAReceiverNoOtherSlotHolds) {
  const std::int32_t a = PlugReceiver();
  const std::int32_t b = PlugReceiver();
  ConnectAndPoll();
  ASSERT_TRUE(system_.Step());
  ZAVNVirtualUnplug(b);
  ASSERT_TRUE(system_.Step());
  EXPECT_EQ(RxStatus(), kFirstOnly);

  ZAVNDisconnectRx(0);  // players out of range close nothing
  ZAVNDisconnectRx(5);
  EXPECT_EQ(OpenHandles(a), 1);
  ZAVNDisconnectRx(2);
  const std::int32_t c = PlugReceiver();
  ConnectAndPoll();
  EXPECT_EQ(RxStatus(), (Links{5, 5, 6, 6}));
  EXPECT_EQ(OpenHandles(a), 1);
  EXPECT_EQ(OpenHandles(b), 0);
  EXPECT_EQ(OpenHandles(c), 1);

  // Disconnected, both slots are closed at once and polling drops them.
  ZAVNDisconnectRx(1);
  ZAVNDisconnectRx(2);
  EXPECT_EQ(OpenHandles(a) + OpenHandles(c), 0);
  ASSERT_TRUE(system_.Step());
  EXPECT_EQ(RxStatus(), kAllNoDevice);
  EXPECT_FALSE(system_.Step());
}

TEST_F(LinkTest, ResetAndTerminateEndThePollThread) {
  const std::int32_t id = PlugReceiver();
  ConnectAndPoll();
  ASSERT_TRUE(system_.Step());
  EXPECT_EQ(ZAVNReset(), LINK_RESET_DONE);
  EXPECT_TRUE(system_.ThreadEnded());
  EXPECT_EQ(RxStatus(), kAllNoDevice);
  EXPECT_EQ(TxStatus(), kAllNoDevice);
  EXPECT_EQ(OpenHandles(id), 0);

  // Terminate ends the thread whatever the host passes, and returns 0 when none is left.
  for (std::int32_t code : {1, 0}) {
    ConnectAndPoll();
    EXPECT_EQ(ZAVNGetRxStatus(1), LINK_OK);
    EXPECT_TRUE(system_.Step());
    EXPECT_NE(ZAVNTerminate(code), 0) << code;
    EXPECT_TRUE(system_.ThreadEnded()) << code;
    EXPECT_EQ(ZAVNTerminate(0), 0) << code;
  }
  EXPECT_EQ(system_.ThreadsStarted(), 3);
}

}  // namespace
}  // namespace zavn::testing
