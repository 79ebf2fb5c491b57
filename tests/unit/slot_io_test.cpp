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

TEST_F(SlotIoTest, WritesGoAsGivenOnlyToThePlayersOpenSlot) {
  const std::int32_t id = OpenReceiver();
  const std::uint8_t report[5] = {0, 1, 2, 3, 4};
  for (std::int32_t player : {0, 2, 5, -1}) {
    const platform::WriteOutcome outcome = WriteOutputReport(player, report, sizeof report);
    EXPECT_FALSE(outcome.written) << player;
    EXPECT_EQ(outcome.error, 0u) << player;
  }
  EXPECT_TRUE(WriteOutputReport(1, report, sizeof report).written);
  std::uint8_t taken[64] = {};
  EXPECT_EQ(ZAVNVirtualTakeOutput(id, taken, sizeof taken), 5);  // not padded to 32
  EXPECT_EQ(std::memcmp(taken, report, sizeof report), 0);
  EXPECT_EQ(ZAVNVirtualTakeOutput(id, nullptr, 0), 0);

  ZAVNVirtualSetFaults(id, ZAVN_VIRTUAL_FAULT_WRITE);
  const platform::WriteOutcome failed = WriteOutputReport(1, report, sizeof report);
  EXPECT_FALSE(failed.written);
  EXPECT_EQ(failed.error, platform::kErrorDeviceNotConnected);
}

// Handles from a driver may be null; such a slot is put back to closed instead of being used.
TEST_F(SlotIoTest, SlotMarkedOpenWithNullHandleIsClosedAndGetsNothing) {
  ScriptedPort port;
  port.Add({platform::PathResult::kFound, "\\\\?\\hid#null", {0xFFFF, 8, 1}, {32, 32, 0}, 0});
  platform::InstallHidPort(&port);
  ASSERT_EQ(transport::OpenRxByIndex(0, 0), LINK_OK);
  EXPECT_TRUE(transport::Slot(0).MarkedOpen());
  const std::uint8_t report[2] = {0, 9};
  EXPECT_FALSE(WriteOutputReport(1, report, sizeof report).written);
  EXPECT_EQ(port.writes, 0);
  EXPECT_FALSE(transport::Slot(0).MarkedOpen());
  EXPECT_EQ(port.closes, 0);  // a null handle is never passed to Close
}

TEST_F(SlotIoTest, ProductStringComesAsTheDriverGivesItOrNotAtAll) {
  OpenReceiver();
  unsigned char buffer[ZAVN_PRODUCT_STRING_BYTES];
  std::memset(buffer, 0xAA, sizeof buffer);
  for (std::int32_t player : {0, 5, -7, 2}) {  // slot 2 is closed
    EXPECT_EQ(ZAVNGetProductString(player, buffer), 0) << player;
  }
  EXPECT_EQ(buffer[0], 0xAA);
  EXPECT_EQ(buffer[sizeof buffer - 1], 0xAA);
  EXPECT_EQ(ZAVNGetProductString(1, nullptr), 0);

  ASSERT_EQ(ZAVNGetProductString(1, buffer), 1);
  const unsigned char start[2] = {'N', 0};
  EXPECT_EQ(std::memcmp(buffer, start, 2), 0);
  EXPECT_EQ(buffer[20], 'e');
  EXPECT_EQ(buffer[22] | buffer[23], 0);
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
  for (std::int32_t player : {1, 2, 0, 5, -7}) {  // unreadable, closed, out of range
    EXPECT_EQ(ClassifyProductString(player), transport::PRODUCT_OTHER) << player;
  }
}

}  // namespace
}  // namespace zavn::testing
