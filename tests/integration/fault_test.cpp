// Injected HID failures at each point where the library meets the receiver: connecting, polling,
// commands and the update machine. Each ends in the link and machine states the library defines
// for it, and the library works again once the fault is lifted.
#include <memory>

#include "support/output_log.h"
#include "support/update_fixture.h"
#include "zavn/zavn_commands.h"
#include "zavn/zavn_firmware.h"

namespace zavn::testing {
namespace {

constexpr std::int32_t kRateHz = 100;

class FaultTest : public UpdateReadyTest {
 protected:
  void SetUp() override {
    UpdateReadyTest::SetUp();
    id_ = ZAVNVirtualPlugReceiver(1, kRateHz);
    ASSERT_GT(id_, 0);
  }
  void ConnectWith(std::int32_t faults) {
    ASSERT_EQ(ZAVNVirtualSetFaults(id_, faults), 1);
    ZAVNReset();
    Connect();
  }

  // The link is up and player 1's motion records reach its snapshot.
  void ExpectStreaming() {
    ASSERT_EQ(ZAVNGetRxStatus(1), LINK_OK);
    auto status = std::make_unique<PlayerStatus>();
    for (int k = 0; k < 100 && status->MotionCount == 0; ++k) {
      ASSERT_TRUE(system_.Step());
      ZAVNGetStatus(1, status.get());
    }
    EXPECT_GT(status->MotionCount, 0);
    EXPECT_EQ(ZAVNGetTxStatus(1), LINK_OK);
    EXPECT_EQ(ZAVNVirtualOpenHandles(), 1);
  }
  // The poll thread drops the link, giving its handle up, and, since it was the only one, ends;
  // with the fault lifted, the next connect takes the receiver back.
  void ExpectLostUntilLifted() {
    for (int k = 0; k < 3 && system_.Step(); ++k) {
    }
    EXPECT_EQ(ZAVNGetRxStatus(1), LINK_NO_DEVICE);
    EXPECT_EQ(ZAVNGetTxStatus(1), LINK_NO_DEVICE);
    EXPECT_EQ(ZAVNVirtualOpenHandles(), 0);
    EXPECT_TRUE(system_.ThreadEnded());
    ASSERT_EQ(ZAVNVirtualSetFaults(id_, 0), 1);
    Connect();
    ExpectStreaming();
  }

  std::int32_t State() const { return firmware::UpdateSlot(1).state; }
  // Cycles, reconnecting whenever the link is down, until the machine is in `state`.
  bool CycleUntil(std::int32_t state, int limit = 2000) {
    for (int k = 0; k < limit && State() != state; ++k) ReconnectIfLost(system_.Step());
    return State() == state;
  }

  std::int32_t id_ = 0;
};

// Connecting: an interface that cannot be opened or identified is skipped; one without
// capabilities is taken and dropped at its first read, which asks for nothing. A failed read
// drops a streaming link. Lifted, the next connect takes the receiver back.
TEST_F(FaultTest, ConnectAndReadFaultsLeaveTheSlotEmptyUntilTheFaultIsLifted) {
  for (const std::int32_t fault : {ZAVN_VIRTUAL_FAULT_OPEN, ZAVN_VIRTUAL_FAULT_ATTRIBUTES}) {
    ConnectWith(fault);
    EXPECT_EQ(RxStatus(), (Links{LINK_NO_DEVICE, LINK_NO_DEVICE, LINK_NO_DEVICE, LINK_NO_DEVICE}))
        << fault;
    EXPECT_EQ(ZAVNVirtualOpenHandles(), 0) << fault;
    EXPECT_EQ(system_.ThreadsStarted(), 0) << fault;
  }
  ConnectWith(ZAVN_VIRTUAL_FAULT_CAPABILITIES);
  EXPECT_EQ(system_.ThreadsStarted(), 1);
  ExpectLostUntilLifted();
  ZAVNVirtualSetFaults(id_, ZAVN_VIRTUAL_FAULT_READ);
  ExpectLostUntilLifted();
}

TEST_F(FaultTest, FailedWritesAreDroppedWithoutTouchingTheLinkAndLaterOnesArrive) {
  ConnectWith(0);
  ExpectStreaming();
  TakeAllOutput(id_);
  ZAVNVirtualSetFaults(id_, ZAVN_VIRTUAL_FAULT_WRITE);
  EXPECT_EQ(ZAVNSwitchGameMode(1, 3), 1);  // its fixed result, whatever the write did
  // The one sender that tells: the system's error code.
  EXPECT_EQ(ZAVNReadFWNumBootNum(1, 0),
            static_cast<std::int32_t>(platform::kErrorDeviceNotConnected));
  ASSERT_TRUE(system_.Step());  // the periodic report fails as well
  EXPECT_TRUE(TakeAllOutput(id_).empty());
  EXPECT_EQ(ZAVNGetRxStatus(1), LINK_OK);

  ZAVNVirtualSetFaults(id_, 0);
  ZAVNSwitchGameMode(1, 3);
  EXPECT_EQ(TakeAllOutput(id_), (std::vector<Bytes>{Bytes{0x05, 0x03}}));
  ExpectStreaming();
}

// Each fault holds the machine where it is; lifted, the update goes on to its end.
TEST_F(FaultTest, TheMachineWaitsOutEachFaultAndFinishes) {
  ConnectWith(ZAVN_VIRTUAL_FAULT_PRODUCT);
  ZAVNBootLoaderFSM(1, ZAVN_UPDATE_RUN);
  for (int k = 0; k < 20; ++k) {
    ASSERT_TRUE(system_.Step());
    ASSERT_TRUE(State() == firmware::UPD_IDLE || State() == firmware::UPD_IDENTIFY) << k;
  }
  EXPECT_EQ(ZAVNGetBootloaderStatus(1), ZAVN_UPDATE_READING_SERIAL);
  ZAVNVirtualSetFaults(id_, 0);
  ASSERT_TRUE(CycleUntil(firmware::UPD_READ_SERIAL, 10));

  // Unsent serial queries are repeated until one is answered.
  ZAVNVirtualSetFaults(id_, ZAVN_VIRTUAL_FAULT_WRITE);
  for (int k = 0; k < 20; ++k) ASSERT_TRUE(system_.Step());
  EXPECT_EQ(State(), firmware::UPD_READ_SERIAL);
  ZAVNVirtualSetFaults(id_, 0);
  ASSERT_TRUE(CycleUntil(firmware::UPD_ERASE));

  // The erase makes the receiver come back as its boot loader; keep that from being opened.
  ZAVNVirtualSetFaults(id_, ZAVN_VIRTUAL_FAULT_OPEN);
  for (int k = 0; k < 100; ++k) ReconnectIfLost(system_.Step());
  EXPECT_EQ(ZAVNGetRxStatus(1), LINK_NO_DEVICE);
  EXPECT_EQ(State(), firmware::UPD_IDLE);
  EXPECT_EQ(ZAVNGetBootloaderStatus(1), ZAVN_UPDATE_ERASED);
  ZAVNVirtualSetFaults(id_, 0);
  EXPECT_TRUE(CycleUntil(firmware::UPD_DONE, 100000));
  // The pass in UPD_DONE, after the write-back's pause.
  for (int k = 0; k < 100 && ZAVNGetBootloaderStatus(1) != ZAVN_UPDATE_DONE; ++k) system_.Step();
  EXPECT_EQ(ZAVNGetBootloaderStatus(1), ZAVN_UPDATE_DONE);

  // Slots outside 1..4 are refused.
  for (const std::int32_t slot : {-1, 0, 5}) {
    EXPECT_EQ(ZAVNBootLoaderFSM(slot, ZAVN_UPDATE_RUN) | ZAVNGetBootloaderStatus(slot), 0) << slot;
    EXPECT_EQ(ZAVNCheckHarlonCHKAK(slot) | ZAVNCheckVUKCHKAK(slot), 0) << slot;
  }
}

}  // namespace
}  // namespace zavn::testing
