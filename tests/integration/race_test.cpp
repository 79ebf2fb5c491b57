// Host calls racing the poll thread. ThreadSanitizer runs these; the fixture checks that no
// handle was used after it was closed.
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
  // Connects; the function returned is true until the poll thread has run 3000 more cycles.
  auto ConnectAndPollFor() {
    Connect();
    return [this, start = system_.Cycles()] { return system_.Cycles() < start + 3000; };
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
}

TEST_F(RaceTest, EveryConnectedSlotHasAThreadPollingIt) {
  std::int32_t id = PlugReceiver();
  const auto polling = ConnectAndPollFor();
  for (int connects = 1; polling() || connects <= 200; ++connects) {
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
using SnapshotRaceTest = LibraryTest;

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
  // The ring keeps the newest samples only: wait for a fresh snapshot well before it fills.
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
  for (std::size_t k = 0; k < received.size(); ++k) ASSERT_EQ(received[k], std::int32_t(k)) << k;
}

}  // namespace
}  // namespace zavn::testing
