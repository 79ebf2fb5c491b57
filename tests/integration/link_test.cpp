// Connecting, polling and losing receivers through the exported functions, one poll cycle at a
// time on the stepped clock.
#include <atomic>
#include <memory>

#include "core/player_assignment.h"
#include "support/library_fixture.h"

namespace zavn::testing {
namespace {

constexpr Links kAllNoDevice = {6, 6, 6, 6};
constexpr Links kFirstOnly = {5, 6, 6, 6};

using LinkTest = LibraryTest;

// Of five receivers the first four are opened, once, and polled by one thread; a second connect
// keeps what the slots hold. (Other devices: the transport test; no slot, no thread: the faults.)
TEST_F(LinkTest, ConnectOpensFourReceiversOnceWithOneThread) {
  std::int32_t data[5];
  for (auto& id : data) id = PlugReceiver();
  for (int connect = 0; connect < 2; ++connect) {
    ZAVNConnectRx();
    EXPECT_EQ(RxStatus(), (Links{5, 5, 5, 5})) << connect;
    for (int k = 0; k < 4; ++k) EXPECT_EQ(OpenHandles(data[k]), 1) << connect << " " << k;
    EXPECT_EQ(system_.ThreadsStarted(), 1) << connect;
  }
  EXPECT_EQ(OpenHandles(data[4]), 0);
}

TEST_F(LinkTest, ConnectWhileTheThreadIsAboutToEndKeepsItPolling) {
  const std::int32_t first = PlugReceiver();
  EXPECT_EQ(Connect(), 1);
  ASSERT_TRUE(system_.Step());
  ZAVNVirtualUnplug(first);
  ASSERT_TRUE(system_.Step());  // the link is lost; the thread would end at its next cycle
  EXPECT_EQ(RxStatus(), kAllNoDevice);

  const std::int32_t second = PlugReceiver();
  EXPECT_EQ(Connect(), 1);
  ASSERT_TRUE(QueueReport(second));
  ASSERT_TRUE(system_.Step());
  EXPECT_EQ(ZAVNGetTxStatus(1), LINK_OK);
  EXPECT_EQ(system_.ThreadsStarted(), 1);
}

// A report that arrives between two cycles is decoded at once, before any cycle runs; the cycle
// after it counts the slot as heard from, though its own read finds nothing.
TEST_F(LinkTest, ReportsBetweenCyclesAreDecodedAtOnceAndKeepTheLinkUp) {
  const std::int32_t id = PlugReceiver();
  EXPECT_EQ(Connect(), 1);
  AwaitPlayers();
  auto status = std::make_unique<PlayerStatus>();
  for (std::uint16_t k = 1; k <= 60; ++k) {  // 600 ms, past the time-out grace
    ASSERT_TRUE(QueueMotion(id, k));
    ASSERT_TRUE(system_.StepWakeUp());
    ZAVNGetStatus(1, status.get());
    ASSERT_EQ(status->MotionCount, 1) << k;
    ASSERT_EQ(status->MotionHistory[0][0], k);
    system_.Advance(10);
    ASSERT_TRUE(system_.Step());
    ASSERT_EQ(ZAVNGetTxStatus(1), LINK_OK) << k;
  }
}

TEST_F(LinkTest, DisconnectOrLossFreesTheSlotAndReconnectTakesAReceiverNoOtherSlotHolds) {
  const std::int32_t a = PlugReceiver();
  const std::int32_t b = PlugReceiver();
  EXPECT_EQ(Connect(), 1);
  ASSERT_TRUE(system_.Step());
  ZAVNVirtualUnplug(b);
  ASSERT_TRUE(system_.Step());
  EXPECT_EQ(RxStatus(), kFirstOnly);  // its handle given up: the fault test's
  // Players out of range answer as player 1.
  EXPECT_EQ(ZAVNGetRxStatus(0), LINK_OK);
  EXPECT_EQ(ZAVNGetTxStatus(99), ZAVNGetTxStatus(1));

  ZAVNDisconnectRx(5);  // out of range: closes nothing
  EXPECT_EQ(OpenHandles(a), 1);
  ZAVNDisconnectRx(2);
  const std::int32_t c = PlugReceiver();
  EXPECT_EQ(Connect(), 1);
  EXPECT_EQ(RxStatus(), (Links{5, 5, 6, 6}));
  EXPECT_EQ(OpenHandles(a) + OpenHandles(c), 2);

  // The reset closes every slot and ends the thread.
  EXPECT_EQ(ZAVNReset(), LINK_RESET_DONE);
  EXPECT_TRUE(system_.ThreadEnded());
  EXPECT_EQ(RxStatus(), kAllNoDevice);
  EXPECT_EQ(TxStatus(), kAllNoDevice);
  EXPECT_EQ(OpenHandles(a) + OpenHandles(c), 0);
  // The reset released the thread; the terminate still reports that one had run.
  EXPECT_EQ(ZAVNTerminate(0), 1);
}

// What the raw-data callback does at its next call, on the poll thread.
enum class FromCallback { kNothing, kReset, kTerminate, kResetAndReconnect };
std::atomic<FromCallback> g_fromCallback{FromCallback::kNothing};
std::atomic<std::int32_t> g_callbackResult{-1};
std::atomic<int> g_callbacks{0};

void ZAVN_CALL LifecycleCallback(int32_t, PlayerStatus*) {
  ++g_callbacks;
  const FromCallback action = g_fromCallback.exchange(FromCallback::kNothing);
  if (action == FromCallback::kNothing) return;
  g_callbackResult = action == FromCallback::kTerminate ? ZAVNTerminate(0) : ZAVNReset();
  if (action == FromCallback::kResetAndReconnect) {
    ZAVNConnectRx();
    ZAVNRoutineFunc();
  }
}

class CallbackLifecycleTest : public LinkTest, public ::testing::WithParamInterface<FromCallback> {
 protected:
  void SetUp() override {
    LinkTest::SetUp();
    system_.AdvanceClockOnSleep();
    system_.SetNow(1000);
    g_callbacks = 0;
    g_callbackResult = -1;
    ZAVNInitGetRawDataCallBack(LifecycleCallback);
    ASSERT_GT(ZAVNVirtualPlugReceiver(1, 100), 0);  // one record per cycle
    EXPECT_EQ(Connect(), 1);
    for (int k = 0; k < 200 && g_callbacks == 0; ++k) ASSERT_TRUE(system_.Step());
    ASSERT_GT(g_callbacks, 0);
  }
};

// The poll thread never waits for itself: a stop asked for from its callback ends it after the
// cycle, which writes nothing more, and the next host call releases it.
TEST_P(CallbackLifecycleTest, StopsTheThreadAfterItsCycleOrKeepsItForANewConnect) {
  const FromCallback action = GetParam();
  g_fromCallback = action;
  while (g_fromCallback != FromCallback::kNothing) ASSERT_TRUE(system_.Step());
  EXPECT_EQ(g_callbackResult, action == FromCallback::kTerminate ? 1 : LINK_RESET_DONE);
  if (action == FromCallback::kResetAndReconnect) {
    const int callbacks = g_callbacks;
    for (int k = 0; k < 200 && g_callbacks == callbacks; ++k) ASSERT_TRUE(system_.Step());
    EXPECT_GT(g_callbacks, callbacks);
    EXPECT_EQ(RxStatus(), kFirstOnly);
    EXPECT_EQ(system_.ThreadsStarted(), 1);
    return;
  }
  EXPECT_FALSE(system_.Step());  // the thread has ended
  EXPECT_EQ(RxStatus(), action == FromCallback::kReset ? kAllNoDevice : kFirstOnly);
  EXPECT_EQ(ZAVNTerminate(0), action == FromCallback::kReset ? 1 : 0);
  EXPECT_EQ(Connect(), 1);
  EXPECT_EQ(system_.ThreadsStarted(), 2);
}

INSTANTIATE_TEST_SUITE_P(FromTheCallback, CallbackLifecycleTest,
                         ::testing::Values(FromCallback::kReset, FromCallback::kTerminate,
                                           FromCallback::kResetAndReconnect));

}  // namespace
}  // namespace zavn::testing
