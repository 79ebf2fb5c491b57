// Injected HID failures at each point where the library meets the receiver: connecting, polling,
// commands and the update machine. Each ends in the link and machine states the library defines
// for it, and the library works again once the fault is lifted.
#include <algorithm>
#include <memory>

#include "support/output_log.h"
#include "support/update_fixture.h"
#include "zavn/zavn_commands.h"
#include "zavn/zavn_firmware.h"

namespace zavn::testing {
namespace {

// Slow enough that a 300 ms pause of the update machine does not overflow the 32-report queue
// and push out the receiver's replies.
constexpr std::int32_t kRateHz = 100;
const Bytes kGameMode{0x05, 0x03};  // ZAVNSwitchGameMode(1, 3)

bool Sent(const std::vector<Bytes>& reports, const Bytes& report) {
  return std::find(reports.begin(), reports.end(), report) != reports.end();
}

class FaultTest : public UpdateReadyTest {
 protected:
  void SetUp() override {
    UpdateReadyTest::SetUp();
    id_ = ZAVNVirtualPlugReceiver(1, kRateHz);
    ASSERT_GT(id_, 0);
  }

  // One poll cycle; false when the poll thread has ended.
  bool Cycle() { return system_.StepCycle(); }

  // The link is up and player 1's motion records reach its snapshot.
  void ExpectStreaming() {
    ASSERT_EQ(ZAVNGetRxStatus(1), LINK_OK);
    auto status = std::make_unique<PlayerStatus>();
    std::int32_t samples = 0;
    for (int k = 0; k < 100 && samples == 0; ++k) {
      ASSERT_TRUE(Cycle());
      ZAVNGetStatus(1, status.get());
      samples = status->MotionCount;
    }
    EXPECT_GT(samples, 0);
    EXPECT_EQ(ZAVNGetTxStatus(1), LINK_OK);
    EXPECT_EQ(ZAVNVirtualOpenHandles(), 1);
  }

  // The poll thread drops the link and, since it was the only one, ends: the states a lost link
  // leaves.
  void ExpectLost() {
    for (int k = 0; k < 3 && Cycle(); ++k) {
    }
    EXPECT_EQ(ZAVNGetRxStatus(1), LINK_NO_DEVICE);
    EXPECT_EQ(ZAVNGetTxStatus(1), LINK_NO_DEVICE);
    EXPECT_TRUE(system_.ThreadEnded());  // it was the only slot
  }

  std::int32_t id_ = 0;
};

TEST_F(FaultTest, AReceiverThatCannotBeOpenedOrIdentifiedIsSkippedUntilTheFaultIsLifted) {
  for (const std::int32_t fault : {ZAVN_VIRTUAL_FAULT_OPEN, ZAVN_VIRTUAL_FAULT_ATTRIBUTES}) {
    ASSERT_EQ(ZAVNVirtualSetFaults(id_, fault), 1);
    ZAVNReset();
    Connect();
    EXPECT_EQ(RxStatus(), (Links{LINK_NO_DEVICE, LINK_NO_DEVICE, LINK_NO_DEVICE, LINK_NO_DEVICE}))
        << fault;
    EXPECT_EQ(ZAVNVirtualOpenHandles(), 0) << fault;
    EXPECT_EQ(system_.ThreadsStarted(), 0) << fault;
  }
  ASSERT_EQ(ZAVNVirtualSetFaults(id_, 0), 1);
  Connect();
  ExpectStreaming();
}

TEST_F(FaultTest, WithoutCapabilitiesTheSlotIsTakenAndDroppedAtItsFirstRead) {
  ZAVNVirtualSetFaults(id_, ZAVN_VIRTUAL_FAULT_CAPABILITIES);
  ZAVNReset();
  Connect();
  EXPECT_EQ(system_.ThreadsStarted(), 1);  // the slot was taken
  // Report lengths 0: the first read asks for nothing, which the driver refuses.
  ExpectLost();
  EXPECT_EQ(ZAVNVirtualOpenHandles(), 1);  // a lost link keeps its handle until the next connect

  ZAVNVirtualSetFaults(id_, 0);
  Connect();
  ExpectStreaming();
}

TEST_F(FaultTest, AFailingProductStringLeavesTheLinkUp) {
  ZAVNVirtualSetFaults(id_, ZAVN_VIRTUAL_FAULT_PRODUCT);
  ZAVNReset();
  Connect();
  ExpectStreaming();
  std::uint8_t product[ZAVN_PRODUCT_STRING_BYTES] = {};
  EXPECT_EQ(ZAVNGetProductString(1, product), 0);
  ZAVNVirtualSetFaults(id_, 0);
  EXPECT_EQ(ZAVNGetProductString(1, product), 1);
  EXPECT_EQ(product[0], 'N');
  EXPECT_EQ(product[1], 0);
}

TEST_F(FaultTest, AFailedReadOrAnUnplugDropsTheLinkAndTheNextConnectTakesItBack) {
  ZAVNReset();
  Connect();
  ExpectStreaming();

  // A read error while polling.
  ZAVNVirtualSetFaults(id_, ZAVN_VIRTUAL_FAULT_READ);
  ExpectLost();
  ZAVNVirtualSetFaults(id_, 0);
  Connect();
  ExpectStreaming();

  // The receiver unplugged while polling, then plugged in again.
  ZAVNVirtualUnplug(id_);
  ExpectLost();
  Connect();  // nothing to take
  EXPECT_EQ(ZAVNGetRxStatus(1), LINK_NO_DEVICE);
  id_ = ZAVNVirtualPlugReceiver(1, kRateHz);
  ASSERT_GT(id_, 0);
  Connect();
  ExpectStreaming();  // the handle of the unplugged interface is closed
}

TEST_F(FaultTest, FailedWritesAreDroppedWithoutTouchingTheLinkAndLaterOnesArrive) {
  ZAVNReset();
  Connect();
  ExpectStreaming();
  TakeAllOutput(id_);
  ZAVNVirtualSetFaults(id_, ZAVN_VIRTUAL_FAULT_WRITE);
  ZAVNVirtualTransmitterState before{};
  ASSERT_EQ(ZAVNVirtualGetTransmitter(id_, &before), 1);

  EXPECT_EQ(ZAVNSwitchGameMode(1, 3), 1);  // fixed results, whatever the write did
  EXPECT_EQ(ZAVNSetMotorAction(1, before.motor), 16);
  EXPECT_EQ(ZAVNSendScrResolMSXYPos(1, 1, 2, 3, 4), 1);
  EXPECT_NE(ZAVNReadFWNumBootNum(1, 0), 1);  // the one sender that tells: the error code
  ZAVNAskSerialNumber(1, 3, nullptr, 1);
  ASSERT_TRUE(Cycle());  // the periodic report fails as well
  EXPECT_TRUE(TakeAllOutput(id_).empty());
  ZAVNVirtualTransmitterState after{};
  ASSERT_EQ(ZAVNVirtualGetTransmitter(id_, &after), 1);
  EXPECT_EQ(after.reportsReceived, before.reportsReceived);
  EXPECT_EQ(ZAVNGetRxStatus(1), LINK_OK);
  EXPECT_EQ(ZAVNGetTxStatus(1), LINK_OK);

  ZAVNVirtualSetFaults(id_, 0);
  EXPECT_EQ(ZAVNSwitchGameMode(1, 3), 1);
  EXPECT_EQ(ZAVNReadFWNumBootNum(1, 0), 1);
  EXPECT_TRUE(Sent(TakeAllOutput(id_), kGameMode));
  ExpectStreaming();
}

class UpdateFaultTest : public FaultTest {
 protected:
  void StartUpdate() {
    ZAVNReset();
    Connect();
    ZAVNBootLoaderFSM(1, ZAVN_UPDATE_RUN);
  }
  std::int32_t State() const { return firmware::UpdateSlot(1).state; }
  // Cycles, reconnecting whenever the link is down, until the machine is in `state`.
  bool CycleUntil(std::int32_t state, int limit = 2000) {
    for (int k = 0; k < limit && State() != state; ++k) ReconnectIfLost(Cycle());
    return State() == state;
  }
};

TEST_F(UpdateFaultTest, AnUnreadableProductStringIsIdentifiedAgainUntilItCanBeRead) {
  ZAVNVirtualSetFaults(id_, ZAVN_VIRTUAL_FAULT_PRODUCT);
  StartUpdate();
  for (int k = 0; k < 20; ++k) {
    ASSERT_TRUE(Cycle());
    ASSERT_TRUE(State() == firmware::UPD_IDLE || State() == firmware::UPD_IDENTIFY) << k;
  }
  EXPECT_EQ(ZAVNGetBootloaderStatus(1), ZAVN_UPDATE_READING_SERIAL);

  ZAVNVirtualSetFaults(id_, 0);
  EXPECT_TRUE(CycleUntil(firmware::UPD_READ_SERIAL, 10));
}

TEST_F(UpdateFaultTest, UnsentSerialQueriesAreRepeatedUntilOneIsAnswered) {
  StartUpdate();
  ASSERT_TRUE(CycleUntil(firmware::UPD_READ_SERIAL));
  ZAVNVirtualSetFaults(id_, ZAVN_VIRTUAL_FAULT_WRITE);
  for (int k = 0; k < 20; ++k) ASSERT_TRUE(Cycle());
  EXPECT_EQ(State(), firmware::UPD_READ_SERIAL);
  EXPECT_EQ(ZAVNGetBootloaderStatus(1), ZAVN_UPDATE_READING_SERIAL);

  ZAVNVirtualSetFaults(id_, 0);
  EXPECT_TRUE(CycleUntil(firmware::UPD_ERASE));
}

TEST_F(UpdateFaultTest, ABootLoaderThatCannotBeOpenedHoldsTheMachineUntilItCan) {
  StartUpdate();
  // The erase makes the receiver come back as its boot loader; keep that from being opened.
  ASSERT_TRUE(CycleUntil(firmware::UPD_ERASE));
  ZAVNVirtualSetFaults(id_, ZAVN_VIRTUAL_FAULT_OPEN);
  for (int k = 0; k < 100; ++k) ReconnectIfLost(Cycle());
  EXPECT_EQ(ZAVNGetRxStatus(1), LINK_NO_DEVICE);
  EXPECT_EQ(State(), firmware::UPD_IDLE);
  EXPECT_EQ(ZAVNGetBootloaderStatus(1), ZAVN_UPDATE_ERASED);

  ZAVNVirtualSetFaults(id_, 0);
  EXPECT_TRUE(CycleUntil(firmware::UPD_DONE, 100000));
  ASSERT_TRUE(Cycle());  // the pass in UPD_DONE
  EXPECT_EQ(ZAVNGetBootloaderStatus(1), ZAVN_UPDATE_DONE);
}

}  // namespace
}  // namespace zavn::testing
