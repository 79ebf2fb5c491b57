// The virtual transmitters answer the identity commands and keep what the host set, through the
// exported API as a host sees them.
#include <cstring>
#include <memory>
#include <string>

#include "core/player_assignment.h"
#include "support/library_fixture.h"

namespace zavn::testing {
namespace {

std::string Text(const std::uint8_t* bytes, std::size_t count) {
  return {reinterpret_cast<const char*>(bytes), count};
}

class TransmitterModelTest : public LibraryTest {
 protected:
  void SetUp() override {
    LibraryTest::SetUp();
    system_.SetNow(1000);
    first_ = ZAVNVirtualPlugReceiver(2, 100);
    ASSERT_GT(first_, 0);
    ZAVNConnectRx();
    ZAVNRoutineFunc();
    for (int k = 0; k < 300 && core::Players().playerSlot[1] == 0; ++k) Poll();
    ASSERT_EQ(core::Players().playerSlot[1], 2);
  }
  void Poll() {
    system_.Advance(10);
    ASSERT_TRUE(system_.Step());
  }
  ZAVNVirtualTransmitterState State(std::int32_t player) {
    ZAVNVirtualTransmitterState state{};
    EXPECT_EQ(ZAVNVirtualGetTransmitter(first_ + player - 1, &state), 1);
    return state;
  }
  // The player's snapshot after one more poll, which reads the replies.
  PlayerStatus& Status(std::int32_t player) {
    Poll();
    ZAVNGetStatus(player, status_.get());
    return *status_;
  }

  std::int32_t first_ = 0;
  std::unique_ptr<PlayerStatus> status_ = std::make_unique<PlayerStatus>();
};

TEST_F(TransmitterModelTest, IdentityDataIsStoredAndAnsweredPerTransmitter) {
  ZAVNAskSerialNumber(1, 3, nullptr, 1);
  ZAVNAskSerialNumber(2, 3, nullptr, 1);
  EXPECT_EQ(Text(Status(1).SerialBlock, 16), "ZAVNTX0000000001");
  EXPECT_EQ(Text(Status(2).SerialBlock, 16), "ZAVNTX0000000002");
  // Serial-number data of sub-command 2 gives the transmitter a new serial number.
  const std::uint8_t serial[17] = "ABCDEFGHIJKLMNOP";
  ZAVNAskSerialNumber(1, 2, serial, 2);
  ZAVNAskSerialNumber(1, 3, nullptr, 1);
  EXPECT_EQ(Text(Status(1).SerialBlock, 16), "ABCDEFGHIJKLMNOP");

  const std::uint8_t version[13] = "V09.08.07-XY";
  ZAVNReadWriteVersionNum(2, 0, version);  // a read: the pointer is not taken
  EXPECT_EQ(Text(Status(2).VersionBlock, 12), "V01.02.00-P2");
  ZAVNReadWriteVersionNum(2, ZAVN_VIRTUAL_VERSION_WRITE, version);
  EXPECT_EQ(Text(Status(2).VersionBlock, 12), "V09.08.07-XY");

  std::uint8_t digits[25];
  for (int k = 0; k < 25; ++k) digits[k] = static_cast<std::uint8_t>(k % 10);
  ZAVNWriteAccountData(1, '3', 0, digits);
  EXPECT_EQ(Status(1).AccountStatus, 1);
  EXPECT_EQ(Text(status_->AccountPages[3], 25), "0123456789012345678901234");
  ZAVNWriteAccountData(1, 0x20, 0, digits);  // no such page
  EXPECT_EQ(Status(1).AccountStatus, 0);
}

TEST_F(TransmitterModelTest, KeepsWhatTheHostSet) {
  ZAVNSwitchGameMode(2, 3);
  ZAVNSelectPlayerNum(2, 2);
  const std::uint8_t motor[8] = {9, 8, 7, 6, 5, 4, 3, 2};
  ZAVNSetMotorAction(2, motor);
  ZAVNSendScrResolMSXYPos(2, 1920, 1080, 960, 540);
  const ZAVNVirtualTransmitterState state = State(2);
  EXPECT_EQ(state.modes[4], 3);
  EXPECT_EQ(state.playerNumber, 2);
  EXPECT_EQ(std::memcmp(state.motor, motor, 8), 0);
  EXPECT_EQ(state.screenWidth, 1920);
  EXPECT_EQ(state.mouseY, 540);
  EXPECT_EQ(State(1).playerNumber, 0);  // the other transmitter heard nothing of it

  EXPECT_EQ(ZAVNVirtualGetTransmitter(first_ - 1, nullptr), 0);
  ZAVNVirtualTransmitterState unused{};
  EXPECT_EQ(ZAVNVirtualGetTransmitter(first_ - 1, &unused), 0);  // carries no transmitter
}

}  // namespace
}  // namespace zavn::testing
