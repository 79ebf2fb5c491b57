// Decoded status through the exported API: reports queued on the virtual receiver, polled one
// cycle at a time, read back with ZAVNGetStatus and ZAVNGetRawdataFPS.
#include <array>
#include <cstring>
#include <memory>

#include "support/library_fixture.h"
#include "support/report_builder.h"

namespace zavn::testing {
namespace {

class StatusTest : public LibraryTest {
 protected:
  void SetUp() override {
    LibraryTest::SetUp();
    id_ = PlugReceiver();
    Connect();
  }

  std::int32_t id_ = 0;
  std::unique_ptr<PlayerStatus> out_ = std::make_unique<PlayerStatus>();
};

TEST_F(StatusTest, SnapshotHandsOverEachSampleOnceAndAfterAResetNoHistory) {
  AwaitPlayers();
  for (std::uint16_t k = 1; k <= 4; ++k) ASSERT_TRUE(QueueMotion(id_, k));
  ASSERT_TRUE(system_.Step());
  ZAVNGetStatus(1, out_.get());  // takes them; each once: the snapshot race test

  // Taken, the next snapshot clears the history; the rest still shows the last record.
  std::memset(out_->MotionHistory, 0x5A, sizeof out_->MotionHistory);
  ZAVNGetStatus(1, out_.get());
  EXPECT_EQ(out_->MotionCount, 0);
  EXPECT_EQ(out_->MotionHistory[5][1023], 0);
  EXPECT_EQ(out_->Motion[0], 4);

  // After the reset the history part is left alone, the rest reads zero, the boot block's first
  // two bytes are never copied.
  ZAVNReset();
  std::memset(out_.get(), 0x66, sizeof(PlayerStatus));
  ZAVNGetStatus(1, out_.get());
  EXPECT_EQ(out_->MotionCount, 0x66666666);
  EXPECT_EQ(out_->RecordCount, 0);
  EXPECT_EQ(out_->ReservedFloat[5], 0.0f);
  EXPECT_EQ(out_->BootBlock[1], 0x66);
  EXPECT_EQ(out_->BootBlock[2], 0);
}

// Before the players are assigned a read of motion is dropped, never decoded later, not even
// behind a shorter read; a read of a reply is decoded.
TEST_F(StatusTest, BeforeTheAssignmentMotionIsDroppedAndRepliesAreDecoded) {
  ASSERT_TRUE(system_.Step());
  for (std::uint16_t k = 1; k <= 3; ++k) ASSERT_TRUE(QueueMotion(id_, k));
  ASSERT_TRUE(system_.Step());
  const std::uint8_t serial[16] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};
  std::array<std::uint8_t, kReportLength> reply{};
  PutReply(reply.data(), 'R', serial, sizeof serial);
  ASSERT_EQ(ZAVNVirtualQueueInput(id_, reply.data(), kReportLength), 1);
  AwaitPlayers();
  ASSERT_TRUE(QueueMotion(id_, 9));
  ASSERT_TRUE(system_.Step());
  ZAVNGetStatus(1, out_.get());
  EXPECT_EQ(std::memcmp(out_->SerialBlock, serial, 16), 0);
  EXPECT_EQ(out_->MotionCount, 1);
  EXPECT_EQ(out_->MotionHistory[0][0], 9);
  EXPECT_EQ(out_->MotionHistory[0][1], 0);
}

// Players out of range read player 1 without its secondary fields; null pointers are skipped.
TEST_F(StatusTest, OtherPlayersGetPlayerOneWithoutSecondaryFieldsAndNullsAreSkipped) {
  AwaitPlayers();
  ASSERT_TRUE(QueueMotion(id_, 5));
  ASSERT_TRUE(QueueMotion(id_, 6, '2'));  // a secondary record
  ASSERT_TRUE(system_.Step());

  std::memset(out_.get(), 0x77, sizeof(PlayerStatus));
  ZAVNGetStatus(0, out_.get());
  EXPECT_EQ(out_->Motion[0], 5);
  EXPECT_EQ(out_->SecondaryCount, 0x77777777);
  ZAVNGetStatus(1, out_.get());
  EXPECT_EQ(out_->SecondaryMotion[0], 6);
  ZAVNGetStatus(1, nullptr);

  std::uint32_t rates[4][4];
  std::memset(rates, 0xFF, sizeof rates);
  std::uint32_t* rows[4] = {rates[0], rates[1], nullptr, rates[3]};
  EXPECT_EQ(ZAVNGetRawdataFPS(0, rows), 1);
  EXPECT_EQ(rates[3][3], 0u);
  EXPECT_EQ(ZAVNGetRawdataFPS(0, nullptr), 1);
}

}  // namespace
}  // namespace zavn::testing
