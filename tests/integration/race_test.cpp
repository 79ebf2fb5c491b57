// Host calls racing a poll thread that runs without pause. ThreadSanitizer runs these; the
// fixture checks that no handle was used after it was closed.
#include <atomic>
#include <memory>
#include <thread>
#include <vector>

#include "core/player_assignment.h"
#include "core/run_state.h"
#include "support/host_thread.h"
#include "support/library_fixture.h"
#include "support/report_builder.h"

namespace zavn::testing {
namespace {

constexpr std::uint64_t kCycles = 3000;

void Connect() {
  ZAVNConnectRx();
  ZAVNRoutineFunc();
}

class RaceTest : public LibraryTest {
 protected:
  void SetUp() override {
    LibraryTest::SetUp();
    system_.RunFreely();
  }
  // Connects; the function returned is true until the poll thread has run kCycles more cycles.
  auto ConnectAndPollFor() {
    Connect();
    return [this, start = system_.Cycles()] { return system_.Cycles() < start + kCycles; };
  }
};

TEST_F(RaceTest, DisconnectAndConnectWhileThePollThreadReads) {
  const std::int32_t id = PlugReceiver();
  const auto polling = ConnectAndPollFor();
  std::atomic<bool> done{false};
  std::thread feeder([&] {
    unsigned char product[ZAVN_PRODUCT_STRING_BYTES];
    while (!done) {
      QueueReport(id);
      ZAVNGetProductString(1, product);
    }
  });
  while (polling()) {
    ZAVNDisconnectRx(1);
    Connect();
  }
  done = true;
  feeder.join();

  ZAVNConnectRx();
  EXPECT_EQ(ZAVNGetRxStatus(1), LINK_OK);
  EXPECT_LE(OpenHandles(id), 1);
  EXPECT_NE(ZAVNTerminate(0), 0);
}

TEST_F(RaceTest, EveryConnectedSlotHasAThreadPollingIt) {
  std::int32_t id = PlugReceiver();
  const auto polling = ConnectAndPollFor();
  for (int connects = 1; polling() || connects <= 200; ++connects) {
    // Losing the receiver makes the thread end by itself, at a moment the host cannot know.
    ZAVNVirtualUnplug(id);
    id = PlugReceiver();
    ASSERT_GT(id, 0);
    ZAVNConnectRx();
    // The thread may lose the new link and end at any moment; but once it has ended, no slot
    // may still show a link. (Read in this order: the link could drop between the two reads.)
    if (core::Run().threadExitCode != platform::kThreadStillActive) {
      ASSERT_NE(ZAVNGetRxStatus(1), LINK_OK) << connects;
    }
    ZAVNRoutineFunc();
  }
  EXPECT_NE(ZAVNTerminate(0), 0);
}

TEST_F(RaceTest, ResetAndTerminateWhileThePollThreadReads) {
  const std::int32_t id = PlugReceiver();
  for (int round = 0; round < 50; ++round) {
    Connect();
    QueueReport(id);
    if (round % 2 == 0) {
      ASSERT_EQ(ZAVNReset(), LINK_RESET_DONE);
      ASSERT_EQ(RxStatus(), (Links{6, 6, 6, 6}));
    } else {
      ZAVNTerminate(round % 4 == 1 ? 0 : 1);
      ASSERT_TRUE(system_.ThreadEnded());
    }
  }
  EXPECT_EQ(OpenHandles(id), ZAVNGetRxStatus(1) == LINK_OK ? 1 : 0);
}

// Snapshots on a host thread while the poll thread decodes: every sample arrives exactly once.
class SnapshotRaceTest : public LibraryTest {};

TEST_F(SnapshotRaceTest, NoSampleIsLostOrDeliveredTwice) {
  const std::int32_t id = PlugReceiver();
  Connect();
  for (int k = 0; k < 200 && core::Players().assignDone == 0; ++k) ASSERT_TRUE(system_.Step());
  ASSERT_EQ(core::Players().assignDone, 1);

  std::vector<std::int32_t> received;
  auto status = std::make_unique<PlayerStatus>();
  auto collect = [&] {
    ZAVNGetStatus(1, status.get());
    received.insert(received.end(), status->MotionHistory[0],
                    status->MotionHistory[0] + status->MotionCount);
  };
  HostThread host(collect);
  // The ring keeps the newest 1024 samples; a host that snapshots less often loses the oldest.
  // Every few hundred samples the test therefore waits until the host has taken a snapshot
  // that began after that point, however the scheduler treats the host thread.
  constexpr int kSteps = 1000, kPerStep = 3, kStepsBetweenWaits = 100;
  static_assert(kStepsBetweenWaits * kPerStep < ZAVN_HISTORY_LENGTH);
  std::array<std::uint8_t, kReportLength> report{};
  for (int step = 0; step < kSteps; ++step) {
    if (step % kStepsBetweenWaits == 0) {
      ASSERT_TRUE(host.AwaitFreshRound());
    }
    for (int k = 0; k < kPerStep; ++k) {
      PutMotion(report.data(), {static_cast<std::uint16_t>(step * kPerStep + k), 0, 0, 0, 0, 0});
      ASSERT_EQ(ZAVNVirtualQueueInput(id, report.data(), kReportLength), 1);
    }
    ASSERT_TRUE(system_.Step());
  }
  host.Stop();
  collect();

  ASSERT_EQ(received.size(), static_cast<std::size_t>(kSteps * kPerStep));
  for (std::size_t k = 0; k < received.size(); ++k) {
    ASSERT_EQ(received[k], static_cast<std::int32_t>(k)) << k;
  }
}

}  // namespace
}  // namespace zavn::testing
