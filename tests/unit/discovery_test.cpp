// Which interfaces discovery takes, in which order, and how it keys them.
#include <string>
#include <vector>

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
  // Passed over: input lengths 4 and 14, another vendor or product, unreadable attributes.
  std::vector<std::int32_t> passed = {ZAVNVirtualPlug(kVendor, kProduct, 4, 4, "NOLTADongle"),
                                      ZAVNVirtualPlug(kVendor, kProduct, 14, 14, "NOLTADongle"),
                                      ZAVNVirtualPlug(0x046D, kProduct, 32, 32, "Mouse"),
                                      ZAVNVirtualPlug(kVendor, 0x0009, 32, 32, "Other")};
  const std::int32_t data = PlugReceiver();
  // The length test needs the capabilities; without them the interface is taken.
  const std::int32_t noCaps = ZAVNVirtualPlug(kVendor, kProduct, 4, 4, "NOLTADongle");
  ZAVNVirtualSetFaults(noCaps, ZAVN_VIRTUAL_FAULT_CAPABILITIES);
  passed.push_back(PlugReceiver());
  ZAVNVirtualSetFaults(passed.back(), ZAVN_VIRTUAL_FAULT_ATTRIBUTES);

  EXPECT_EQ(transport::CountRxCandidates(), 2);
  EXPECT_EQ(OpenHandles(data) + OpenHandles(noCaps), 0);  // counting leaves nothing open
  EXPECT_EQ(transport::OpenRxByIndex(0, 0), LINK_OK);
  EXPECT_EQ(transport::OpenRxByIndex(1, 1), LINK_OK);
  EXPECT_EQ(transport::OpenRxByIndex(2, 2), LINK_NO_DEVICE);
  EXPECT_EQ(OpenHandles(data), 1);
  EXPECT_EQ(OpenHandles(noCaps), 1);
  for (std::int32_t id : passed) EXPECT_EQ(OpenHandles(id), 0) << "interface " << id;
  EXPECT_FALSE(Slot(2).MarkedOpen());
}

TEST_F(DiscoveryTest, ByPathSkipsKnownInterfacesAndFillsTheFirstEmptyKey) {
  const std::int32_t first = PlugReceiver();
  const std::int32_t second = PlugReceiver();
  KnownPaths known{};
  for (auto& key : known) key = PathKeyOf("hid#elsewhere");
  EXPECT_EQ(transport::OpenRxByPath(known, 0), LINK_NO_DEVICE);  // no empty key
  EXPECT_EQ(OpenHandles(first), 0);
  EXPECT_FALSE(Slot(0).MarkedOpen());

  known = {};
  ASSERT_EQ(transport::OpenRxByPath(known, 0), LINK_OK);
  ASSERT_EQ(transport::OpenRxByPath(known, 1), LINK_OK);
  EXPECT_EQ(known[0], PathKeyOf(("\\\\?\\hid#vid_ffff&pid_0008#virtual&" + std::to_string(first) +
                                 "#{4d1e55b2-f16f-11cf-88cb-001111000030}")
                                    .c_str()));
  EXPECT_NE(known[1][0], '\0');
  EXPECT_EQ(known[2][0], '\0');
  // Both are known now: nothing is left to take, and nothing more is opened.
  EXPECT_EQ(transport::OpenRxByPath(known, 2), LINK_NO_DEVICE);
  EXPECT_EQ(OpenHandles(first), 1);
  EXPECT_EQ(OpenHandles(second), 1);
}

// Paths too long for the buffer are passed over; enumeration stops below interface 64.
TEST_F(DiscoveryTest, PassesOverPathsTooLongAndStopsBelowInterfaceSixtyFour) {
  ScriptedPort port;
  port.Add({PathResult::kTooLong, "", {}, {}, 0});
  port.Add({PathResult::kFound, "\\\\?\\hid#second", {0xFFFF, 0x0008, 1}, {32, 32, 0}, 0x20});
  for (int n = 2; n < 70; ++n) {
    port.Add({PathResult::kFound,
              "\\\\?\\hid#other" + std::to_string(n),
              {0x1234, 1, 1},
              {8, 8, 0},
              static_cast<platform::HidHandle>(0x100 + n)});
  }
  port.Add({PathResult::kFound, "\\\\?\\hid#late", {0xFFFF, 0x0008, 1}, {32, 32, 0}, 0x500});
  platform::InstallHidPort(&port);

  EXPECT_EQ(transport::CountRxCandidates(), 1);
  EXPECT_EQ(port.highestIndexAsked, transport::kMaxInterfaceIndex - 1);
  EXPECT_EQ(port.opens, port.closes);
  EXPECT_EQ(transport::OpenRxByIndex(0, 0), LINK_OK);
  EXPECT_EQ(Slot(0).Handle(), 0x20u);
  ZAVNReset();
}

}  // namespace
}  // namespace zavn::testing
