// Reading a slot: the whole-report request limit and the 500 ms time-out grace.
#include <algorithm>

#include "support/library_fixture.h"
#include "transport/discovery.h"
#include "transport/report_reader.h"

namespace zavn::testing {
namespace {

using transport::InputBufferOf;
using transport::kInputBufferSize;
using transport::ReadRequestBytes;

TEST(ReadRequest, IsAHundredReportsLimitedToWholeReportsInTheBuffer) {
  EXPECT_EQ(ReadRequestBytes(32), 3200u);
  EXPECT_EQ(ReadRequestBytes(41), 99u * 41u);
  EXPECT_EQ(ReadRequestBytes(0), 0u);
  for (std::uint32_t length = 1; length <= kInputBufferSize; ++length) {
    const std::uint32_t bytes = ReadRequestBytes(length);
    ASSERT_TRUE(bytes <= kInputBufferSize && bytes % length == 0 && bytes >= length) << length;
  }
}

class ReportReaderTest : public LibraryTest {
 protected:
  void OpenSlot0(std::int32_t inputLength = kReportLength) {
    id_ = ZAVNVirtualPlug(kVendor, kProduct, inputLength, kReportLength, "NOLTADongle");
    ASSERT_EQ(transport::OpenRxByIndex(0, 0), LINK_OK);
  }
  ZAVNLinkState ReadAt(std::uint32_t now) {
    system_.SetNow(now);
    return transport::ReadSlot(InputBufferOf(0), 0);
  }
  std::int32_t id_ = 0;
};

// A report ends a run of empty reads; the next empty read starts a new one.
TEST_F(ReportReaderTest, EmptyReadsAreOkForFiveHundredMillisecondsAcrossTheTickWrap) {
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

TEST_F(ReportReaderTest, LongReportsFillTheBufferButNeverPassIt) {
  constexpr std::int32_t kLength = 1000;  // four fit the buffer, the fifth does not
  OpenSlot0(kLength);
  std::uint8_t report[kLength];
  for (std::uint8_t k = 1; k <= 5; ++k) {
    std::fill(std::begin(report), std::end(report), k);
    ASSERT_EQ(ZAVNVirtualQueueInput(id_, report, kLength), 1);
  }
  transport::InputBuffer& buffer = InputBufferOf(0);
  buffer.fill(0xEE);
  EXPECT_EQ(ReadAt(0), LINK_OK);
  EXPECT_EQ(buffer[4 * kLength - 1], 4);
  EXPECT_EQ(buffer[4 * kLength], 0xEE);  // the rest of the buffer is untouched
  EXPECT_EQ(ReadAt(0), LINK_OK);
  EXPECT_EQ(buffer[0], 5);
}

}  // namespace
}  // namespace zavn::testing
