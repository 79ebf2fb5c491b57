// A process that connects before ever calling ZAVNReset: its own binary, since the state it
// checks exists only before the first reset.
#include <gtest/gtest.h>

#include "zavn/zavn.h"
#include "zavn/zavn_virtual.h"

namespace {

TEST(BeforeReset, ConnectShowsNotResetAndStartsNoThread) {
  ZAVNVirtualSelect(1);
  ASSERT_GT(ZAVNVirtualPlug(0xFFFF, 0x0008, 32, 32, "NOLTADongle"), 0);
  ZAVNConnectRx();
  for (int p = 1; p <= 4; ++p) EXPECT_EQ(ZAVNGetRxStatus(p), LINK_NOT_RESET) << p;
  EXPECT_EQ(ZAVNTerminate(0), 0);
  ZAVNReset();
}

}  // namespace
