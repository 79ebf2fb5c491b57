// Decoded status through the exported API: reports queued on the virtual receiver, polled one
// cycle at a time, read back with ZAVNGetStatus and the rate and callback functions.
#include <cstring>
#include <memory>

#include "commands/periodic_clock.h"
#include "core/player_assignment.h"
#include "input/slot_report_mode.h"
#include "input/status_records.h"
#include "support/library_fixture.h"
#include "support/report_builder.h"

namespace zavn::testing {
namespace {

using Report = std::array<std::uint8_t, kReportLength>;

class StatusTest : public LibraryTest {
 protected:
  void TearDown() override {
    ZAVNInitGetRawDataCallBack(nullptr);
    LibraryTest::TearDown();
  }

  // Connects one receiver and polls until it is player 1.
  void ConnectPlayerOne(std::int32_t inputLength = kReportLength) {
    id_ = ZAVNVirtualPlug(kVendor, kProduct, inputLength, 33, "NOLTADongle");
    ZAVNConnectRx();
    ZAVNRoutineFunc();
    for (int k = 0; k < 200 && core::Players().assignDone == 0; ++k) ASSERT_TRUE(system_.Step());
    ASSERT_EQ(core::Players().playerSlot[0], 1);
  }
  void Queue(const std::uint8_t* report, std::int32_t length = kReportLength) {
    ASSERT_EQ(ZAVNVirtualQueueInput(id_, report, length), 1);
  }
  void QueueMotion(const MotionValues& values, std::uint8_t marker = 0) {
    Report report{};
    PutMotion(report.data(), values, marker);
    Queue(report.data());
  }
  void Poll() { ASSERT_TRUE(system_.Step()); }

  std::int32_t id_ = 0;
  std::unique_ptr<PlayerStatus> out_ = std::make_unique<PlayerStatus>();
};

TEST_F(StatusTest, SnapshotHandsOverEachSampleOnceAndAfterAResetNoHistory) {
  ConnectPlayerOne();
  for (std::uint16_t k = 1; k <= 4; ++k) QueueMotion({k, 0x1234, 3, 4, 5, 0xABCD});
  Poll();
  ZAVNGetStatus(1, out_.get());
  EXPECT_EQ(out_->MotionCount, 4);
  for (int k = 0; k < 4; ++k) EXPECT_EQ(out_->MotionHistory[0][k], k + 1);
  EXPECT_EQ(out_->MotionHistory[0][4], 0);
  EXPECT_EQ(out_->RecordCount, 4);

  // Taken once: the next snapshot clears the history, and the rest still shows the last record.
  std::memset(out_->MotionHistory, 0x5A, sizeof out_->MotionHistory);
  ZAVNGetStatus(1, out_.get());
  EXPECT_EQ(out_->MotionCount, 0);
  EXPECT_EQ(out_->MotionHistory[0][0], 0);
  EXPECT_EQ(out_->MotionHistory[5][1023], 0);
  EXPECT_EQ(out_->Motion[0], 4);
  EXPECT_EQ(out_->Motion[1], 0x1234);

  // After the reset the history part is left alone and the rest reads zero.
  ZAVNReset();
  std::memset(out_.get(), 0x66, sizeof(PlayerStatus));
  ZAVNGetStatus(1, out_.get());
  EXPECT_EQ(out_->Motion[0], 0x66666666);
  EXPECT_EQ(out_->MotionCount, 0x66666666);
  EXPECT_EQ(out_->MotionHistory[0][0], 0x66666666);
  EXPECT_EQ(out_->RecordCount, 0);
  EXPECT_EQ(out_->Buttons[0], 0);
  EXPECT_EQ(out_->AccountStatus, 0);
  EXPECT_EQ(out_->ReservedFloat[5], 0.0f);
  // Never copied.
  EXPECT_EQ(out_->BootBlock[0], 0x66);
  EXPECT_EQ(out_->BootBlock[1], 0x66);
  EXPECT_EQ(out_->BootBlock[2], 0);
  EXPECT_EQ(out_->SecondaryRecordCount, 0x66666666);
  EXPECT_EQ(out_->RawRecord[0], 0x66);
}

TEST_F(StatusTest, MotionIsDecodedOnlyOncePlayersAreAssignedButRepliesAlways) {
  id_ = PlugReceiver();
  ZAVNConnectRx();
  ZAVNRoutineFunc();
  QueueMotion({7, 0, 0, 0, 0, 0});
  Poll();
  const std::uint8_t serial[16] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};
  Report reply{};
  PutReply(reply.data(), 'R', serial, sizeof serial);
  Queue(reply.data());
  Poll();
  ZAVNGetStatus(1, out_.get());
  EXPECT_EQ(out_->Motion[0], 0);
  EXPECT_EQ(std::memcmp(out_->SerialBlock, serial, 16), 0);
}

std::atomic<int> g_callbacks{0};
std::atomic<PlayerStatus*> g_seen{nullptr};
void ZAVN_CALL OnRawData(std::int32_t kind, PlayerStatus* status) {
  if (kind != 1) return;
  ++g_callbacks;
  g_seen = status;
}

TEST_F(StatusTest, RawDataCallbackGetsTheLibrarysOwnRecord) {
  g_callbacks = 0;
  ZAVNInitGetRawDataCallBack(OnRawData);
  ConnectPlayerOne();
  QueueMotion({1, 2, 3, 4, 5, 6});
  QueueMotion({1, 2, 3, 4, 5, 6}, '2');  // secondary records call nothing
  Poll();
  EXPECT_EQ(g_callbacks, 1);
  EXPECT_EQ(g_seen.load(), &input::LibraryStatus(1));

  ZAVNReset();  // the registration outlives the reset
  ConnectPlayerOne();
  QueueMotion({1, 2, 3, 4, 5, 6});
  Poll();
  EXPECT_EQ(g_callbacks, 2);
}

TEST_F(StatusTest, LongReportsSetTheLongModeAndFillTheExtension) {
  ConnectPlayerOne(64);
  std::uint8_t report[64] = {};
  PutMotion(report, {1, 0, 0, 0, 0, 0});
  PutExtension(report, {11, 22, 33}, true);
  Queue(report, 64);
  Poll();
  ZAVNGetStatus(1, out_.get());
  EXPECT_EQ(input::SlotReportMode(0), input::kLongReportMode);
  EXPECT_EQ(out_->Extension[2], 33);
  EXPECT_EQ(out_->ExtensionHistory[1][0], 22);
  ZAVNDisconnectRx(1);
  EXPECT_EQ(input::SlotReportMode(0), input::kShortReportMode);
}

TEST_F(StatusTest, OtherPlayerValuesGetPlayerOneWithoutTheSecondaryFields) {
  ConnectPlayerOne();
  QueueMotion({5, 0, 0, 0, 0, 0});
  QueueMotion({6, 0, 0, 0, 0, 0}, '2');
  Poll();
  for (std::int32_t player : {0, 5}) {
    std::memset(out_.get(), 0x77, sizeof(PlayerStatus));
    ZAVNGetStatus(player, out_.get());
    EXPECT_EQ(out_->Motion[0], 5) << player;
    EXPECT_EQ(out_->SecondaryMotion[0], 0x77777777) << player;
    EXPECT_EQ(out_->SecondaryCount, 0x77777777) << player;
    EXPECT_EQ(out_->SecondaryHistory[0][0], 0x77777777) << player;
  }
  ZAVNGetStatus(1, out_.get());
  EXPECT_EQ(out_->SecondaryMotion[0], 6);
  EXPECT_EQ(out_->SecondaryCount, 1);
  ZAVNGetStatus(1, nullptr);  // does nothing
}

TEST_F(StatusTest, SteadyStreamReadsAHundredRecordsPerSecond) {
  ASSERT_GT(ZAVNVirtualPlugReceiver(1, 100), 0);
  ZAVNConnectRx();
  ZAVNRoutineFunc();
  for (int k = 0; k < 400; ++k) {
    system_.Advance(10);
    ASSERT_TRUE(system_.Step());
  }
  std::uint32_t rates[4][4];
  std::memset(rates, 0xFF, sizeof rates);
  std::uint32_t* rows[4] = {rates[0], rates[1], nullptr, rates[3]};  // a null row is skipped
  EXPECT_EQ(ZAVNGetRawdataFPS(0, rows), 1);
  EXPECT_NEAR(rates[0][0], 100, 3);
  for (int row : {0, 1, 3}) {  // only player 1 streams
    for (int k = row == 0 ? 1 : 0; k < 4; ++k) EXPECT_EQ(rates[row][k], 0u) << row << " " << k;
  }
  EXPECT_EQ(ZAVNGetRawdataFPS(0, nullptr), 1);
}

// Only a change of the setting restarts the periodic report's clock.
TEST_F(StatusTest, JoystickLoopChangeRestartsThePeriodicClock) {
  commands::PeriodicClock& clock = commands::Periodic();
  system_.SetNow(1234);
  EXPECT_EQ(ZAVNTurnONJoystickAPILoop(1), 1);  // already 1 after the reset
  EXPECT_EQ(clock.lastTick, 0u);
  EXPECT_EQ(ZAVNTurnONJoystickAPILoop(0), 1);
  EXPECT_EQ(clock.joystickLoop, 0u);
  EXPECT_EQ(clock.lastTick, 1234u);
  EXPECT_EQ(clock.nowTick, 1234u);
}

}  // namespace
}  // namespace zavn::testing
