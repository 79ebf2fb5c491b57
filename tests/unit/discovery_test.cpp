// Which interfaces discovery takes, in which order, and how it keys them.
#include <string>
#include <vector>

#include "support/library_fixture.h"
#include "support/scripted_port.h"
#include "transport/discovery.h"
#include "transport/hid_device.h"
#include "transport/link_table.h"

namespace zavn::testing {
namespace {

using platform::PathResult;
using transport::KnownPaths;
using transport::PathKeyOf;
using transport::Slot;

using DiscoveryTest = LibraryTest;

TEST(PathKey, StartsAtTheFirstLowerCaseH) {
  EXPECT_STREQ(PathKeyOf("\\\\?\\hid#vid_ffff&pid_0008#7&1").data(), "hid#vid_ffff&pid_0008#7&1");
  EXPECT_STREQ(PathKeyOf("\\\\?\\HID#VID_FFFF#h").data(), "h");
  EXPECT_STREQ(PathKeyOf("\\\\?\\USB#VID_FFFF").data(), "\\\\?\\USB#VID_FFFF");
}

TEST_F(DiscoveryTest, TakesOnlyReceiverDataInterfaces) {
  // Passed over: input length 4, another vendor or product.
  const std::vector<std::int32_t> passed = {ZAVNVirtualPlug(kVendor, kProduct, 4, 4, "NOLTADongle"),
                                            ZAVNVirtualPlug(0x046D, kProduct, 32, 32, "Mouse"),
                                            ZAVNVirtualPlug(kVendor, 0x0009, 32, 32, "Other")};
  const std::int32_t data = PlugReceiver();

  EXPECT_EQ(transport::CountRxCandidates(), 1);
  EXPECT_EQ(OpenHandles(data), 0);  // counting leaves nothing open
  EXPECT_EQ(transport::OpenRxByIndex(0, 0), LINK_OK);
  EXPECT_EQ(transport::OpenRxByIndex(1, 1), LINK_NO_DEVICE);
  EXPECT_EQ(OpenHandles(data), 1);
  for (std::int32_t id : passed) EXPECT_EQ(OpenHandles(id), 0) << "interface " << id;
  EXPECT_FALSE(Slot(1).MarkedOpen());
}

// With every key taken nothing is opened.
TEST_F(DiscoveryTest, ByPathWithoutAnEmptyKeyOpensNothing) {
  const std::int32_t id = PlugReceiver();
  KnownPaths known{};
  for (auto& key : known) key = PathKeyOf("hid#elsewhere");
  EXPECT_EQ(transport::OpenRxByPath(known, 0), LINK_NO_DEVICE);
  EXPECT_EQ(OpenHandles(id), 0);
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
  ZAVNReset();
}

}  // namespace
}  // namespace zavn::testing
