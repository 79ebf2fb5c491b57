// Fixtures that put the library in its reset state on the virtual receiver before and after
// each test, with the stepped system installed; a test's raw-data callback goes with it.
#pragma once

#include <gtest/gtest.h>

#include <array>
#include <cstdint>

#include "core/player_assignment.h"
#include "platform/hid_port.h"
#include "platform/virtual/virtual_receiver.h"
#include "support/links.h"
#include "support/report_builder.h"
#include "support/stepped_system.h"
#include "zavn/zavn.h"
#include "zavn/zavn_virtual.h"

namespace zavn::testing {

inline constexpr std::int32_t kVendor = 0xFFFF;
inline constexpr std::int32_t kProduct = 0x0008;
inline constexpr std::int32_t kReportLength = 32;

class LibraryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    platform::InstallSystem(&system_);
    ZAVNTerminate(0);
    ZAVNReset();
    ZAVNVirtualClear();
    previousSelection_ = ZAVNVirtualSelect(1);
  }

  void TearDown() override {
    ZAVNInitGetRawDataCallBack(nullptr);
    ZAVNTerminate(0);
    ZAVNReset();
    EXPECT_EQ(platform::virt::Receiver().StaleHandleUses(), staleAtStart_);
    ZAVNVirtualClear();
    ZAVNVirtualSelect(previousSelection_);
    platform::InstallHidPort(nullptr);
    platform::InstallSystem(nullptr);
  }

  static std::int32_t PlugReceiver(const char* product = "NOLTADongle") {
    return ZAVNVirtualPlug(kVendor, kProduct, kReportLength, kReportLength, product);
  }

  // Connects what is plugged and starts the poll thread; ZAVNRoutineFunc's result.
  static std::int32_t Connect() {
    ZAVNConnectRx();
    return ZAVNRoutineFunc();
  }
  // Steps the poll thread until it has assigned the players.
  void AwaitPlayers() {
    for (int k = 0; k < 200 && core::Players().assignDone == 0; ++k) ASSERT_TRUE(system_.Step());
    ASSERT_EQ(core::Players().assignDone, 1);
  }

  static bool QueueReport(std::int32_t id, std::uint8_t first = 0) {
    std::array<std::uint8_t, kReportLength> report{};
    report[0] = first;
    return ZAVNVirtualQueueInput(id, report.data(), kReportLength) == 1;
  }
  // A report of one motion record, `first` its first value; marker '2' makes it secondary.
  static bool QueueMotion(std::int32_t id, std::uint16_t first, std::uint8_t marker = 0) {
    std::array<std::uint8_t, kReportLength> report{};
    PutMotion(report.data(), {first, 0, 0, 0, 0, 0}, marker);
    return ZAVNVirtualQueueInput(id, report.data(), kReportLength) == 1;
  }

  static Links TxStatus() {
    return {ZAVNGetTxStatus(1), ZAVNGetTxStatus(2), ZAVNGetTxStatus(3), ZAVNGetTxStatus(4)};
  }
  static std::int32_t OpenHandles(std::int32_t id) {
    return platform::virt::Receiver().OpenHandleCount(id);
  }

  // For tests that use stale handles on purpose.
  void ResetStaleBaseline() { staleAtStart_ = platform::virt::Receiver().StaleHandleUses(); }

  SteppedSystem system_;

 private:
  std::int32_t previousSelection_ = 0;
  std::uint32_t staleAtStart_ = platform::virt::Receiver().StaleHandleUses();
};

// A receiver data interface plugged and connected as player 1's slot, for the tests of what the
// host sends it; the poll thread is not switched on.
class ConnectedReceiverTest : public LibraryTest {
 protected:
  void SetUp() override {
    LibraryTest::SetUp();
    id_ = PlugReceiver();
    ZAVNConnectRx();
    ASSERT_EQ(ZAVNGetRxStatus(1), LINK_OK);
  }

  std::int32_t id_ = 0;
};

}  // namespace zavn::testing
