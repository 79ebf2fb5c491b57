// Which interfaces discovery takes, in which order, and how it keys them.
#include <string>

#include "core/link_table.h"
#include "support/library_fixture.h"
#include "support/scripted_port.h"
#include "transport/discovery.h"
#include "transport/hid_device.h"

namespace zavn::testing {
namespace {

using platform::PathResult;
using transport::KnownPaths;
using transport::PathKeyOf;
using transport::Slot;

class DiscoveryTest : public LibraryTest {};

std::string KeyText(const char* path) {
  return PathKeyOf(path).data();
}

TEST(PathKey, StartsAtTheFirstLowerCaseH) {
  EXPECT_EQ(KeyText("\\\\?\\hid#vid_ffff&pid_0008#7&1"), "hid#vid_ffff&pid_0008#7&1");
  EXPECT_EQ(KeyText("\\??\\hid#vid_ffff"), "hid#vid_ffff");
  EXPECT_EQ(KeyText("\\\\?\\HID#VID_FFFF#h"), "h");
  EXPECT_EQ(KeyText("\\\\?\\USB#VID_FFFF"), "\\\\?\\USB#VID_FFFF");
  EXPECT_EQ(KeyText(""), "");
}

TEST_F(DiscoveryTest, TakesOnlyReceiverDataInterfaces) {
  const std::int32_t shortReports = ZAVNVirtualPlug(kVendor, kProduct, 4, 4, "NOLTADongle");
  const std::int32_t mediumReports = ZAVNVirtualPlug(kVendor, kProduct, 14, 14, "NOLTADongle");
  const std::int32_t otherVendor = ZAVNVirtualPlug(0x046D, kProduct, 32, 32, "Mouse");
  const std::int32_t otherProduct = ZAVNVirtualPlug(kVendor, 0x0009, 32, 32, "Other");
  const std::int32_t data = PlugReceiver();
  // The length test needs the capabilities; without them the interface is taken.
  const std::int32_t noCaps = ZAVNVirtualPlug(kVendor, kProduct, 4, 4, "NOLTADongle");
  ZAVNVirtualSetFaults(noCaps, ZAVN_VIRTUAL_FAULT_CAPABILITIES);
  const std::int32_t noAttributes = PlugReceiver();
  ZAVNVirtualSetFaults(noAttributes, ZAVN_VIRTUAL_FAULT_ATTRIBUTES);

  EXPECT_EQ(transport::CountRxCandidates(), 2);
  for (std::int32_t id :
       {shortReports, mediumReports, otherVendor, otherProduct, data, noCaps, noAttributes}) {
    EXPECT_EQ(OpenHandles(id), 0) << "interface " << id << " left open";
  }

  EXPECT_EQ(transport::OpenRxByIndex(0, 0), LINK_OK);
  EXPECT_EQ(transport::OpenRxByIndex(1, 1), LINK_OK);
  EXPECT_EQ(transport::OpenRxByIndex(2, 2), LINK_NO_DEVICE);
  EXPECT_EQ(OpenHandles(data), 1);
  EXPECT_EQ(OpenHandles(noCaps), 1);
  EXPECT_EQ(OpenHandles(shortReports) + OpenHandles(mediumReports) + OpenHandles(otherVendor) +
                OpenHandles(otherProduct) + OpenHandles(noAttributes),
            0);
  EXPECT_FALSE(Slot(2).MarkedOpen());

  char path[platform::kDevicePathSize];
  Slot(0).DevicePath(path);
  EXPECT_NE(std::string(path).find("virtual&" + std::to_string(data) + "#"), std::string::npos);
  EXPECT_EQ(Slot(0).ReportLengths().inputReportLength, kReportLength);
}

TEST_F(DiscoveryTest, ByPathSkipsKnownInterfacesAndFillsTheFirstEmptyKey) {
  const std::int32_t first = PlugReceiver();
  const std::int32_t second = PlugReceiver();
  KnownPaths known{};
  ASSERT_EQ(transport::OpenRxByPath(known, 0), LINK_OK);
  ASSERT_EQ(transport::OpenRxByPath(known, 1), LINK_OK);
  EXPECT_EQ(OpenHandles(first), 1);
  EXPECT_EQ(OpenHandles(second), 1);
  EXPECT_EQ(known[0], PathKeyOf(("\\\\?\\hid#vid_ffff&pid_0008#virtual&" + std::to_string(first) +
                                 "#{4d1e55b2-f16f-11cf-88cb-001111000030}")
                                    .c_str()));
  EXPECT_NE(known[1][0], '\0');
  EXPECT_EQ(known[2][0], '\0');

  // Both are known now: nothing is left to take, and nothing stays open.
  EXPECT_EQ(transport::OpenRxByPath(known, 2), LINK_NO_DEVICE);
  EXPECT_EQ(OpenHandles(first), 1);
  EXPECT_EQ(OpenHandles(second), 1);
}

TEST_F(DiscoveryTest, ByPathTakesNothingWhenEveryKeyIsInUse) {
  const std::int32_t fresh = PlugReceiver();
  KnownPaths known{};
  for (auto& key : known) key = PathKeyOf("hid#elsewhere");
  EXPECT_EQ(transport::OpenRxByPath(known, 0), LINK_NO_DEVICE);
  EXPECT_EQ(OpenHandles(fresh), 0);
  EXPECT_FALSE(Slot(0).MarkedOpen());
}

ScriptedPort::Entry Receiver(std::string path, platform::HidHandle handle) {
  return {PathResult::kFound, std::move(path), {0xFFFF, 0x0008, 1}, {32, 32, 0}, handle};
}

TEST_F(DiscoveryTest, PassesOverPathsTooLongForTheBuffer) {
  ScriptedPort port;
  port.Add({PathResult::kTooLong, "", {}, {}, 0});
  port.Add(Receiver("\\\\?\\hid#second", 0x20));
  platform::InstallHidPort(&port);

  EXPECT_EQ(transport::CountRxCandidates(), 1);
  EXPECT_EQ(transport::OpenRxByIndex(0, 0), LINK_OK);
  EXPECT_EQ(Slot(0).Handle(), 0x20u);
  ZAVNReset();
}

TEST_F(DiscoveryTest, EnumerationStopsBelowInterfaceSixtyFour) {
  ScriptedPort port;
  for (int n = 0; n < 70; ++n) {
    port.Add({PathResult::kFound,
              "\\\\?\\hid#other" + std::to_string(n),
              {0x1234, 1, 1},
              {8, 8, 0},
              static_cast<platform::HidHandle>(0x100 + n)});
  }
  port.Add(Receiver("\\\\?\\hid#late", 0x500));
  platform::InstallHidPort(&port);

  EXPECT_EQ(transport::CountRxCandidates(), 0);
  EXPECT_EQ(port.highestIndexAsked, transport::kMaxInterfaceIndex - 1);
  EXPECT_EQ(port.opens, port.closes);
}

// Handles from a driver may be null; such a slot is put back to closed instead of being used.
TEST_F(DiscoveryTest, SlotWithNullHandleIsClosedOnUse) {
  ScriptedPort port;
  port.Add(Receiver("\\\\?\\hid#null", 0));
  platform::InstallHidPort(&port);

  ASSERT_EQ(transport::OpenRxByIndex(0, 0), LINK_OK);
  EXPECT_TRUE(Slot(0).MarkedOpen());
  EXPECT_FALSE(Slot(0).IsOpen());
  EXPECT_FALSE(Slot(0).MarkedOpen());
  EXPECT_EQ(port.closes, 0);  // a null handle is never passed to Close
}

}  // namespace
}  // namespace zavn::testing
