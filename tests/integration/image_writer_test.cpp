// The image writers on lines that whole images, checked in the update runs, do not have.
#include <cstring>
#include <string>

#include "firmware/images.h"
#include "support/library_fixture.h"
#include "support/output_log.h"

namespace zavn::testing {
namespace {

class ImageWriterTest : public ConnectedReceiverTest {
 protected:
  void SetUp() override {
    ConnectedReceiverTest::SetUp();
    ASSERT_EQ(ZAVNGetVUKAppCheckSum(), 0u);
  }
  // Writes `text` as a line in a 64-byte buffer, NUL-filled; what the slot got.
  Bytes WriteLine(const std::string& text, std::int32_t player = 1) {
    char line[ZAVN_IMAGE_LINE_BYTES] = {};
    std::memcpy(line, text.data(), std::min(text.size(), sizeof line));
    ZAVNWriteVUKHex(player, scratch_, line);
    return TakeOutput(id_);
  }

  char scratch_[ZAVN_IMAGE_LINE_BYTES] = {};
};

TEST_F(ImageWriterTest, AHexLineIsSentAsReport10AndItsDataSummedWithoutFF) {
  // Ten data bytes at 0x7502, one of them 0xFF (sent, not summed); lower-case digits alike.
  const Bytes report = WithZeros({0x10, 0x0A, 0x75, 0x02, 0x00, 0xFF, 0x00, 0x01, 0x02, 0x03, 0x04,
                                  0x05, 0x06, 0x07, 0x08, 0xC1},
                                 16);
  EXPECT_EQ(WriteLine(":0a750200ff000102030405060708c1"), report);
  EXPECT_EQ(std::string(scratch_), ":0a750200ff000102030405060708c1");
  EXPECT_EQ(ZAVNGetVUKAppCheckSum(), 36u);
  // A slot that is not open gets nothing, but what was offered is summed.
  EXPECT_TRUE(WriteLine(":0100000005FA", 3).empty());
  EXPECT_EQ(ZAVNGetVUKAppCheckSum(), 41u);
}

// Unterminated, too long for the report, short table rows, null buffers: nothing sent or summed.
TEST_F(ImageWriterTest, LinesTheReportCannotHoldAreRefused) {
  char unterminated[ZAVN_IMAGE_LINE_BYTES];
  std::memset(unterminated, '1', sizeof unterminated);
  unterminated[0] = ':';
  ZAVNWriteVUKHex(1, scratch_, unterminated);
  ZAVNWriteVUKHex(1, nullptr, unterminated);
  ZAVNWriteVUKHex(1, scratch_, nullptr);
  const char shortRow[ZAVN_IMAGE_LINE_BYTES] = "0300";
  ZAVNWriteHarlonHex(1, scratch_, shortRow);
  ZAVNWriteHarlonHex(1, nullptr, firmware::HarlonImage[0]);
  EXPECT_TRUE(TakeOutput(id_).empty());
  EXPECT_TRUE(WriteLine(":1C000000" + std::string(56, '1')).empty());  // 28 data bytes
  EXPECT_EQ(ZAVNGetVUKAppCheckSum(), 0u);
  EXPECT_EQ(WriteLine(":1B000000" + std::string(54, '1')).size(), 32u);  // 27 fill it exactly
  EXPECT_EQ(ZAVNGetVUKAppCheckSum(), 27u * 0x11);
}

}  // namespace
}  // namespace zavn::testing
