// The transport: which interfaces discovery takes, in which order, and how it keys them;
// reading a slot (the whole-report request limit, the 500 ms time-out grace); output reports and
// product strings of the slots; and the virtual receiver's count of stale handle uses.
#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "support/library_fixture.h"
#include "support/scripted_port.h"
#include "transport/discovery.h"
#include "transport/hid_device.h"
#include "transport/link_table.h"
#include "transport/product_string.h"
#include "transport/report_reader.h"
#include "transport/report_writer.h"

namespace zavn::testing {
namespace {

using platform::PathResult;
using transport::ClassifyProductString;
using transport::kInputBufferSize;
using transport::PathKeyOf;
using transport::ReadRequestBytes;
using transport::Slot;

class TransportTest : public LibraryTest {
 protected:
  void OpenSlot0(std::int32_t inputLength = kReportLength) {
    id_ = ZAVNVirtualPlug(kVendor, kProduct, inputLength, kReportLength, "NOLTADongle");
    ASSERT_EQ(transport::OpenRxByIndex(0, 0), LINK_OK);
  }
  ZAVNLinkState ReadAt(std::uint32_t now) {
    system_.SetNow(now);
    return transport::ReadSlot(transport::InputBufferOf(0), 0);
  }
  std::int32_t id_ = 0;
};

// A path's key starts at its first lower-case h.
TEST_F(TransportTest, TakesOnlyReceiverDataInterfacesKeyedByTheirPaths) {
  EXPECT_STREQ(PathKeyOf("\\\\?\\hid#vid_ffff&pid_0008#7&1").data(), "hid#vid_ffff&pid_0008#7&1");
  EXPECT_STREQ(PathKeyOf("\\\\?\\HID#VID_FFFF#h").data(), "h");
  EXPECT_STREQ(PathKeyOf("\\\\?\\USB#VID_FFFF").data(), "\\\\?\\USB#VID_FFFF");
  // Passed over: input length 4, another vendor or product.
  const std::vector<std::int32_t> passed = {ZAVNVirtualPlug(kVendor, kProduct, 4, 4, "NOLTADongle"),
                                            ZAVNVirtualPlug(0x046D, kProduct, 32, 32, "Mouse"),
                                            ZAVNVirtualPlug(kVendor, 0x0009, 32, 32, "Other")};
  const std::int32_t data = PlugReceiver();

  EXPECT_EQ(transport::CountRxCandidates(), 1);
  transport::KnownPaths known{};  // with every key taken nothing is opened
  for (auto& key : known) key = PathKeyOf("hid#elsewhere");
  EXPECT_EQ(transport::OpenRxByPath(known, 0), LINK_NO_DEVICE);
  EXPECT_EQ(OpenHandles(data), 0);  // nor by counting
  EXPECT_EQ(transport::OpenRxByIndex(0, 0), LINK_OK);
  EXPECT_EQ(transport::OpenRxByIndex(1, 1), LINK_NO_DEVICE);
  EXPECT_EQ(OpenHandles(data), 1);
  for (std::int32_t id : passed) EXPECT_EQ(OpenHandles(id), 0) << "interface " << id;
  EXPECT_FALSE(Slot(1).MarkedOpen());
}

// Paths too long for the buffer are passed over; enumeration stops below interface 64. A search
// lists the interfaces once and opens none but the receiver's.
TEST_F(TransportTest, PassesOverPathsTooLongAndStopsBelowInterfaceSixtyFour) {
  ScriptedPort port;
  port.Add({PathResult::kTooLong, "", {}, {}, 0});
  port.Add({PathResult::kFound, "\\\\?\\hid#second", {0xFFFF, 0x0008, 1}, {32, 32, 0}, 0x20});
  for (int n = 2; n < 70; ++n) {
    port.Add({PathResult::kFound, "\\\\?\\hid#" + std::to_string(n), {0x1234, 1, 1}, {8, 8, 0}, 0});
  }
  port.Add({PathResult::kFound, "\\\\?\\hid#late", {0xFFFF, 0x0008, 1}, {32, 32, 0}, 0x500});
  platform::InstallHidPort(&port);

  EXPECT_EQ(transport::CountRxCandidates(), 1);
  EXPECT_EQ(port.highestIndexAsked, transport::kMaxInterfaceIndex - 1);
  EXPECT_EQ(port.listings, 1);
  EXPECT_EQ(port.opens, 0);
  ZAVNConnectRx();
  EXPECT_EQ(port.listings, 2);
  EXPECT_EQ(port.opens, 1);
  EXPECT_EQ(Slot(0).Handle(), platform::HidHandle{0x20});
  ZAVNReset();
  EXPECT_EQ(port.opens, port.closes);
}

TEST(ReadRequest, Is100ReportsLimitedToWholeReportsInTheBuffer) {
  EXPECT_EQ(ReadRequestBytes(32), 3200u);
  EXPECT_EQ(ReadRequestBytes(200), 20u * 200u);
  EXPECT_EQ(ReadRequestBytes(0), 0u);
  for (std::uint32_t length = 1; length <= kInputBufferSize; ++length) {
    const std::uint32_t bytes = ReadRequestBytes(length);
    ASSERT_TRUE(bytes <= kInputBufferSize && bytes % length == 0 && bytes >= length) << length;
    // The reads of one pass empty the deepest queue, whatever a read holds.
    ASSERT_GE(transport::ReadsToEmpty(512, length) * (bytes / length), 512u) << length;
  }
  EXPECT_EQ(transport::ReadsToEmpty(512, 64), 8u);
}

// A report ends a run of empty reads; the next empty read starts a new one.
TEST_F(TransportTest, EmptyReadsAreOkForFiveHundredMillisecondsAcrossTheTickWrap) {
  EXPECT_EQ(ReadAt(0), LINK_NO_DEVICE);
  OpenSlot0();
  EXPECT_EQ(ReadAt(1000), LINK_OK);
  EXPECT_EQ(ReadAt(1501), LINK_TIMEOUT);
  ASSERT_TRUE(QueueReport(id_));
  EXPECT_EQ(ReadAt(0xFFFFFE00u), LINK_OK);
  EXPECT_EQ(ReadAt(0xFFFFFF00u), LINK_OK);
  EXPECT_EQ(ReadAt(0xFFFFFF00u + 500u), LINK_OK);  // 0x000000F4 after the wrap
  EXPECT_EQ(ReadAt(0xFFFFFF00u + 501u), LINK_TIMEOUT);
}

TEST_F(TransportTest, LongReportsFillTheBufferButNeverPassIt) {
  constexpr std::int32_t kLength = 1000;  // four fit the buffer, the fifth does not
  OpenSlot0(kLength);
  std::uint8_t report[kLength];
  for (std::uint8_t k = 1; k <= 5; ++k) {
    std::fill(std::begin(report), std::end(report), k);
    ASSERT_EQ(ZAVNVirtualQueueInput(id_, report, kLength), 1);
  }
  transport::InputBuffer& buffer = transport::InputBufferOf(0);
  buffer.fill(0xEE);
  EXPECT_EQ(ReadAt(0), LINK_OK);
  EXPECT_EQ(buffer[4 * kLength - 1], 4);
  EXPECT_EQ(buffer[4 * kLength], 0xEE);  // the rest of the buffer is untouched
  EXPECT_EQ(ReadAt(0), LINK_OK);
  EXPECT_EQ(buffer[0], 5);
}

// Handles from a driver may be null; such a slot is put back to closed instead of being used.
TEST_F(TransportTest, SlotMarkedOpenWithNullHandleIsClosedAndGetsNothing) {
  ScriptedPort port;
  port.Add({platform::PathResult::kFound, "\\\\?\\hid#null", {0xFFFF, 8, 1}, {32, 32, 0}, 0});
  platform::InstallHidPort(&port);
  ASSERT_EQ(transport::OpenRxByIndex(0, 0), LINK_OK);
  const std::uint8_t report[2] = {0, 9};
  EXPECT_FALSE(transport::WriteOutputReport(1, report, sizeof report).written);
  EXPECT_TRUE(port.written.empty());
  EXPECT_FALSE(transport::Slot(0).MarkedOpen());
  EXPECT_EQ(port.closes, 0);  // a null handle is never passed to Close
}

// The string comes as the driver gives it or not at all; its letters classify the slot.
TEST_F(TransportTest, ProductStringIsCopiedAsGivenAndClassifiedByItsLetters) {
  OpenSlot0();
  unsigned char buffer[ZAVN_PRODUCT_STRING_BYTES];
  std::memset(buffer, 0xAA, sizeof buffer);
  EXPECT_EQ(ZAVNGetProductString(5, buffer), 0);
  EXPECT_EQ(ZAVNGetProductString(2, buffer), 0);  // slot 2 is closed
  EXPECT_EQ(buffer[0], 0xAA);
  EXPECT_EQ(ZAVNGetProductString(1, nullptr), 0);
  ASSERT_EQ(ZAVNGetProductString(1, buffer), 1);
  const char16_t expected[] = u"NOLTADongle";  // UTF-16LE, terminated
  EXPECT_EQ(std::memcmp(buffer, expected, sizeof expected), 0);

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
    ASSERT_EQ(ZAVNVirtualSetProduct(id_, c.product), 1);
    EXPECT_EQ(ClassifyProductString(1), c.kind) << c.product;
  }
  ZAVNVirtualSetFaults(id_, ZAVN_VIRTUAL_FAULT_PRODUCT);
  ZAVNVirtualSetProduct(id_, "NOLTADongle");
  EXPECT_EQ(ClassifyProductString(1), transport::PRODUCT_OTHER);  // unreadable
  EXPECT_EQ(ClassifyProductString(5), transport::PRODUCT_OTHER);
}

// The virtual receiver counts uses of closed handles: the fixture's check that the library never
// uses one relies on it.
TEST_F(TransportTest, VirtualReceiverRefusesAndCountsStaleHandles) {
  PlugReceiver();
  platform::virt::VirtualReceiver& rx = platform::virt::Receiver();
  char path[platform::kDevicePathSize];
  ASSERT_EQ(rx.InterfacePath(0, path), PathResult::kFound);
  const platform::HidHandle handle = rx.Open(path);
  rx.Close(handle);
  const std::uint32_t before = rx.StaleHandleUses();
  std::uint8_t buffer[kReportLength];
  EXPECT_EQ(rx.Read(handle, buffer, sizeof buffer).kind, platform::ReadOutcome::kError);
  rx.Close(handle);
  EXPECT_EQ(rx.StaleHandleUses(), before + 2);
  ResetStaleBaseline();  // these two uses were deliberate
}

}  // namespace
}  // namespace zavn::testing
