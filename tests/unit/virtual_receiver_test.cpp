// The virtual receiver counts uses of closed handles: the fixture's check that the library never
// uses one relies on it.
#include "support/library_fixture.h"

namespace zavn::testing {
namespace {

using VirtualReceiverTest = LibraryTest;

TEST_F(VirtualReceiverTest, RefusesAndCountsStaleHandles) {
  PlugReceiver();
  char path[platform::kDevicePathSize];
  ASSERT_EQ(platform::virt::Receiver().InterfacePath(0, path), platform::PathResult::kFound);
  const platform::HidHandle handle = platform::virt::Receiver().Open(path);
  platform::virt::Receiver().Close(handle);
  const std::uint32_t before = platform::virt::Receiver().StaleHandleUses();
  std::uint8_t buffer[kReportLength];
  EXPECT_EQ(platform::virt::Receiver().Read(handle, buffer, sizeof buffer).kind,
            platform::ReadOutcome::kError);
  platform::virt::Receiver().Close(handle);
  EXPECT_EQ(platform::virt::Receiver().StaleHandleUses(), before + 2);
  ResetStaleBaseline();  // these two uses were deliberate
}

}  // namespace
}  // namespace zavn::testing
