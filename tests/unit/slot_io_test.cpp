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

using SlotIoTest = LibraryTest;

// Handles from a driver may be null; such a slot is put back to closed instead of being used.
TEST_F(SlotIoTest, SlotMarkedOpenWithNullHandleIsClosedAndGetsNothing) {
  ScriptedPort port;
  port.Add({platform::PathResult::kFound, "\\\\?\\hid#null", {0xFFFF, 8, 1}, {32, 32, 0}, 0});
  platform::InstallHidPort(&port);
  ASSERT_EQ(transport::OpenRxByIndex(0, 0), LINK_OK);
  const std::uint8_t report[2] = {0, 9};
  EXPECT_FALSE(transport::WriteOutputReport(1, report, sizeof report).written);
  EXPECT_EQ(port.writes, 0);
  EXPECT_FALSE(transport::Slot(0).MarkedOpen());
  EXPECT_EQ(port.closes, 0);  // a null handle is never passed to Close
}

TEST_F(SlotIoTest, ProductStringComesAsTheDriverGivesItOrNotAtAll) {
  PlugReceiver();
  ASSERT_EQ(transport::OpenRxByIndex(0, 0), LINK_OK);
  unsigned char buffer[ZAVN_PRODUCT_STRING_BYTES];
  std::memset(buffer, 0xAA, sizeof buffer);
  EXPECT_EQ(ZAVNGetProductString(5, buffer), 0);
  EXPECT_EQ(ZAVNGetProductString(2, buffer), 0);  // slot 2 is closed
  EXPECT_EQ(buffer[0], 0xAA);
  EXPECT_EQ(ZAVNGetProductString(1, nullptr), 0);

  ASSERT_EQ(ZAVNGetProductString(1, buffer), 1);
  EXPECT_EQ(buffer[0], 'N');
  EXPECT_EQ(buffer[1], 0);
  EXPECT_EQ(buffer[20], 'e');
  EXPECT_EQ(buffer[22] | buffer[23], 0);
}

TEST_F(SlotIoTest, ClassifiesByTheLettersOfTheProductString) {
  const std::int32_t id = PlugReceiver();
  ASSERT_EQ(transport::OpenRxByIndex(0, 0), LINK_OK);
  const struct {
    const char* product;
    transport::ProductKind kind;
  } cases[] = {
      {"NOLTA Dongle 2", transport::PRODUCT_DONGLE},
      {"nRF USB Dongle", transport::PRODUCT_NRF_DONGLE},
      {"NOLTABootloader", transport::PRODUCT_BOOTLOADER},
      {"NOLTA-Z", transport::PRODUCT_Z},
      {"noltadongle", transport::PRODUCT_OTHER},
      {"NOLTADongleX", transport::PRODUCT_OTHER},
  };
  for (const auto& c : cases) {
    ASSERT_EQ(ZAVNVirtualSetProduct(id, c.product), 1);
    EXPECT_EQ(ClassifyProductString(1), c.kind) << c.product;
  }
  ZAVNVirtualSetFaults(id, ZAVN_VIRTUAL_FAULT_PRODUCT);
  ZAVNVirtualSetProduct(id, "NOLTADongle");
  EXPECT_EQ(ClassifyProductString(1), transport::PRODUCT_OTHER);  // unreadable
  EXPECT_EQ(ClassifyProductString(5), transport::PRODUCT_OTHER);
}

}  // namespace
}  // namespace zavn::testing
