// Output reports and product strings of the slots.
#include <cstring>

#include "support/library_fixture.h"
#include "support/scripted_port.h"
#include "transport/discovery.h"
#include "transport/hid_device.h"
#include "transport/product_string.h"
#include "transport/report_writer.h"

namespace zavn::testing {
namespace {

using transport::ClassifyProductString;
using transport::WriteOutputReport;

class SlotIoTest : public LibraryTest {
 protected:
  std::int32_t OpenReceiver(const char* product = "NOLTADongle") {
    const std::int32_t id = PlugReceiver(product);
    EXPECT_EQ(transport::OpenRxByIndex(0, 0), LINK_OK);
    return id;
  }
};

TEST_F(SlotIoTest, WritesExactlyTheGivenBytesToTheOpenSlot) {
  const std::int32_t id = OpenReceiver();
  const std::uint8_t report[5] = {0, 1, 2, 3, 4};
  const platform::WriteOutcome outcome = WriteOutputReport(1, report, sizeof report);
  EXPECT_TRUE(outcome.written);
  std::uint8_t taken[64] = {};
  EXPECT_EQ(ZAVNVirtualTakeOutput(id, taken, sizeof taken), 5);  // not padded to 32
  EXPECT_EQ(std::memcmp(taken, report, sizeof report), 0);
}

TEST_F(SlotIoTest, NothingIsSentToAnotherPlayerOrAClosedSlot) {
  const std::int32_t id = OpenReceiver();
  const std::uint8_t report[2] = {0, 9};
  for (std::int32_t player : {0, 2, 5, -1}) {
    const platform::WriteOutcome outcome = WriteOutputReport(player, report, sizeof report);
    EXPECT_FALSE(outcome.written) << player;
    EXPECT_EQ(outcome.error, 0u) << player;
  }
  EXPECT_EQ(ZAVNVirtualTakeOutput(id, nullptr, 0), 0);
}

TEST_F(SlotIoTest, FailedWriteCarriesTheSystemError) {
  const std::int32_t id = OpenReceiver();
  ZAVNVirtualSetFaults(id, ZAVN_VIRTUAL_FAULT_WRITE);
  const std::uint8_t report[2] = {0, 9};
  const platform::WriteOutcome outcome = WriteOutputReport(1, report, sizeof report);
  EXPECT_FALSE(outcome.written);
  EXPECT_EQ(outcome.error, platform::kErrorDeviceNotConnected);
}

TEST_F(SlotIoTest, SlotMarkedOpenWithNullHandleIsClosedAndGetsNothing) {
  ScriptedPort port;
  port.Add({platform::PathResult::kFound, "\\\\?\\hid#null", {0xFFFF, 8, 1}, {32, 32, 0}, 0});
  platform::InstallHidPort(&port);
  ASSERT_EQ(transport::OpenRxByIndex(0, 0), LINK_OK);
  const std::uint8_t report[2] = {0, 9};
  const platform::WriteOutcome outcome = WriteOutputReport(1, report, sizeof report);
  EXPECT_FALSE(outcome.written);
  EXPECT_EQ(port.writes, 0);
  EXPECT_FALSE(transport::Slot(0).MarkedOpen());
}

TEST_F(SlotIoTest, ProductStringComesAsTheDriverGivesIt) {
  OpenReceiver("NOLTADongle");
  unsigned char buffer[ZAVN_PRODUCT_STRING_BYTES];
  std::memset(buffer, 0xAA, sizeof buffer);
  ASSERT_EQ(ZAVNGetProductString(1, buffer), 1);
  EXPECT_EQ(buffer[0], 'N');
  EXPECT_EQ(buffer[1], 0);
  EXPECT_EQ(buffer[20], 'e');
  EXPECT_EQ(buffer[22], 0);
  EXPECT_EQ(buffer[23], 0);
}

TEST_F(SlotIoTest, ProductStringRefusesBadArgumentsAndTouchesNothing) {
  OpenReceiver();
  unsigned char buffer[ZAVN_PRODUCT_STRING_BYTES];
  std::memset(buffer, 0xAA, sizeof buffer);
  for (std::int32_t player : {0, 5, -7}) {
    EXPECT_EQ(ZAVNGetProductString(player, buffer), 0) << player;
    EXPECT_EQ(ClassifyProductString(player), transport::PRODUCT_OTHER) << player;
  }
  EXPECT_EQ(ZAVNGetProductString(2, buffer), 0);  // slot 2 is closed
  EXPECT_EQ(buffer[0], 0xAA);
  EXPECT_EQ(buffer[sizeof buffer - 1], 0xAA);
  EXPECT_EQ(ZAVNGetProductString(1, nullptr), 0);
}

TEST_F(SlotIoTest, ClassifiesByTheLettersOfTheProductString) {
  const std::int32_t id = OpenReceiver();
  const struct {
    const char* product;
    transport::ProductKind kind;
  } cases[] = {
      {"NOLTADongle", transport::PRODUCT_DONGLE},
      {"NOLTA Dongle 2", transport::PRODUCT_DONGLE},
      {"nRF USB Dongle", transport::PRODUCT_NRF_DONGLE},
      {"NOLTABootloader", transport::PRODUCT_BOOTLOADER},
      {"NOLTA-Z", transport::PRODUCT_Z},
      {"noltadongle", transport::PRODUCT_OTHER},
      {"NOLTADongleX", transport::PRODUCT_OTHER},
      {"", transport::PRODUCT_OTHER},
  };
  for (const auto& c : cases) {
    ASSERT_EQ(ZAVNVirtualSetProduct(id, c.product), 1);
    EXPECT_EQ(ClassifyProductString(1), c.kind) << c.product;
  }
  ZAVNVirtualSetFaults(id, ZAVN_VIRTUAL_FAULT_PRODUCT);
  ZAVNVirtualSetProduct(id, "NOLTADongle");
  EXPECT_EQ(ClassifyProductString(1), transport::PRODUCT_OTHER);
  EXPECT_EQ(ClassifyProductString(2), transport::PRODUCT_OTHER);
}

}  // namespace
}  // namespace zavn::testing
