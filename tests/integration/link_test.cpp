// Connecting, polling and losing receivers through the exported functions, one poll cycle at a
// time on the stepped clock.
#include "support/library_fixture.h"

namespace zavn::testing {
namespace {

constexpr Links kAllNoDevice = {6, 6, 6, 6};
constexpr Links kFirstOnly = {5, 6, 6, 6};

class LinkTest : public LibraryTest {
 protected:
  void ConnectAndPoll() {
    ZAVNConnectRx();
    EXPECT_EQ(ZAVNRoutineFunc(), 1);
  }
};

TEST_F(LinkTest, ConnectWithoutReceiverStartsNoThreadAndOtherPlayersAnswerForPlayerOne) {
  EXPECT_EQ(ZAVNGetRxStatus(0), ZAVNGetRxStatus(1));
  EXPECT_EQ(ZAVNGetTxStatus(99), ZAVNGetTxStatus(1));
  ZAVNVirtualPlug(0x045E, 0x0008, 32, 32, "Pad");
  ZAVNConnectRx();
  EXPECT_EQ(RxStatus(), kAllNoDevice);
  EXPECT_EQ(system_.ThreadsStarted(), 0);
  EXPECT_EQ(ZAVNTerminate(0), 0);
}

TEST_F(LinkTest, ConnectOpensFourReceiversOnceWithOneThread) {
  std::int32_t data[5];
  for (auto& id : data) id = PlugReceiver();
  for (int connect = 0; connect < 2; ++connect) {  // a second connect keeps what the slots hold
    ZAVNConnectRx();
    EXPECT_EQ(RxStatus(), (Links{5, 5, 5, 5})) << connect;
    for (int k = 0; k < 4; ++k) EXPECT_EQ(OpenHandles(data[k]), 1) << connect << " " << k;
    EXPECT_EQ(system_.ThreadsStarted(), 1) << connect;
  }
  EXPECT_EQ(OpenHandles(data[4]), 0);
}

TEST_F(LinkTest, ConnectWhileTheThreadIsAboutToEndKeepsItPolling) {
  const std::int32_t first = PlugReceiver();
  ConnectAndPoll();
  ASSERT_TRUE(system_.Step());
  ZAVNVirtualUnplug(first);
  ASSERT_TRUE(system_.Step());  // the link is lost; the thread would end at its next cycle
  EXPECT_EQ(RxStatus(), kAllNoDevice);

  const std::int32_t second = PlugReceiver();
  ConnectAndPoll();
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

  ZAVNDisconnectRx(5);  // out of range: closes nothing
  EXPECT_EQ(OpenHandles(a), 1);
  ZAVNDisconnectRx(2);
  const std::int32_t c = PlugReceiver();
  ConnectAndPoll();
  EXPECT_EQ(RxStatus(), (Links{5, 5, 6, 6}));
  EXPECT_EQ(OpenHandles(a) + OpenHandles(c), 2);

  // The reset closes every slot and ends the thread.
  EXPECT_EQ(ZAVNReset(), LINK_RESET_DONE);
  EXPECT_TRUE(system_.ThreadEnded());
  EXPECT_EQ(RxStatus(), kAllNoDevice);
  EXPECT_EQ(TxStatus(), kAllNoDevice);
  EXPECT_EQ(OpenHandles(a) + OpenHandles(c), 0);
}

}  // namespace
}  // namespace zavn::testing
