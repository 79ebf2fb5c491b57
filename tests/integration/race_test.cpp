// Host calls racing the poll thread. ThreadSanitizer runs these; the fixture checks that no
// handle was used after it was closed.
#include <atomic>
#include <memory>
#include <thread>
#include <vector>

#include "core/run_state.h"
#include "support/eventually.h"
#include "support/library_fixture.h"

namespace zavn::testing {
namespace {

using RaceTest = LibraryTest;

// Connects racing the free-running poll thread for 3000 cycles. (Disconnects and product-string
// queries racing its reads are the stress test's.)
TEST_F(RaceTest, EveryConnectedSlotHasAThreadPollingIt) {
  system_.RunFreely();
  std::int32_t id = PlugReceiver();
  Connect();
  const std::uint64_t start = system_.Cycles();
  for (int connects = 1; system_.Cycles() < start + 3000 || connects <= 200; ++connects) {
    // Unplugged, the thread ends by itself at a moment the host cannot know.
    ZAVNVirtualUnplug(id);
    id = PlugReceiver();
    ASSERT_GT(id, 0);
    ZAVNConnectRx();
    // Once the thread has ended no slot may show a link (read in this order: the link may drop
    // between the two reads).
    if (core::Run().threadExitCode != platform::kThreadStillActive) {
      ASSERT_NE(ZAVNGetRxStatus(1), LINK_OK) << connects;
    }
    ZAVNRoutineFunc();
  }
  EXPECT_NE(ZAVNTerminate(0), 0);
}

// Snapshots on a host thread while the stepped poll thread decodes: every sample exactly once.
TEST_F(RaceTest, NoSnapshotSampleIsLostOrDeliveredTwice) {
  const std::int32_t id = PlugReceiver();
  Connect();
  AwaitPlayers();

  std::vector<std::int32_t> received;
  auto status = std::make_unique<PlayerStatus>();
  auto collect = [&] {
    ZAVNGetStatus(1, status.get());
    received.insert(received.end(), status->MotionHistory[0],
                    status->MotionHistory[0] + status->MotionCount);
  };
  // A host thread snapshots until stopped, counting its rounds.
  std::atomic<int> rounds{0};
  std::jthread host([&](const std::stop_token& stop) {
    for (; !stop.stop_requested(); ++rounds) collect();
  });
  // The ring keeps the newest samples only: wait for a fresh snapshot (two more rounds: one has
  // begun and ended since) well before it fills.
  constexpr int kSteps = 1000, kPerStep = 3, kStepsBetweenWaits = 100;
  static_assert(kStepsBetweenWaits * kPerStep < ZAVN_HISTORY_LENGTH);
  for (int step = 0; step < kSteps; ++step) {
    if (const int seen = rounds; step % kStepsBetweenWaits == 0) {
      ASSERT_TRUE(Eventually([&] { return rounds >= seen + 2; }));
    }
    for (int k = 0; k < kPerStep; ++k) {
      ASSERT_TRUE(QueueMotion(id, static_cast<std::uint16_t>(step * kPerStep + k)));
    }
    ASSERT_TRUE(system_.Step());
  }
  host.request_stop();
  host.join();
  collect();

  ASSERT_EQ(received.size(), static_cast<std::size_t>(kSteps * kPerStep));
  for (std::size_t k = 0; k < received.size(); ++k) ASSERT_EQ(received[k], std::int32_t(k)) << k;
}

}  // namespace
}  // namespace zavn::testing
