// The two image writers through the exported API, read back from the virtual interface.
#include <cstring>
#include <string>

#include "firmware/images.h"
#include "support/library_fixture.h"
#include "support/output_log.h"

namespace zavn::testing {
namespace {

class ImageWriterTest : public LibraryTest {
 protected:
  void SetUp() override {
    LibraryTest::SetUp();
    id_ = PlugReceiver();
    ZAVNConnectRx();
    ASSERT_EQ(ZAVNGetRxStatus(1), LINK_OK);
    ASSERT_EQ(ZAVNGetVUKAppCheckSum(), 0u);
  }
  // Writes `text` as a line in a 64-byte buffer, NUL-filled.
  void WriteLine(const std::string& text, std::int32_t player = 1) {
    char line[ZAVN_IMAGE_LINE_BYTES] = {};
    std::memcpy(line, text.data(), std::min(text.size(), sizeof line));
    ZAVNWriteVUKHex(player, scratch_, line);
  }

  std::int32_t id_ = 0;
  char scratch_[ZAVN_IMAGE_LINE_BYTES] = {};
};

TEST_F(ImageWriterTest, AHexLineIsSentAsReport10AndItsDataSummedWithoutFF) {
  // Ten data bytes at 0x7502, one of them 0xFF (sent, not summed) and one 0x00.
  WriteLine(":0A750200FF000102030405060708C1");
  EXPECT_EQ(TakeOutput(id_), WithZeros({0x10, 0x0A, 0x75, 0x02, 0x00, 0xFF, 0x00, 0x01, 0x02, 0x03,
                                        0x04, 0x05, 0x06, 0x07, 0x08, 0xC1},
                                       16));
  EXPECT_EQ(ZAVNGetVUKAppCheckSum(), 36u);
  EXPECT_EQ(std::string(scratch_), ":0A750200FF000102030405060708C1");

  // Lower-case digits convert alike; the end-of-file record and a bare ':' add nothing.
  WriteLine(":0a750200ff000102030405060708c1");
  EXPECT_EQ(TakeOutput(id_)[15], 0xC1);
  WriteLine(":00000001FF");
  EXPECT_EQ(TakeOutput(id_), WithZeros({0x10, 0x00, 0x00, 0x00, 0x01, 0xFF}, 26));
  WriteLine(":");
  EXPECT_EQ(TakeOutput(id_), WithZeros({0x10}, 31));
  EXPECT_EQ(ZAVNGetVUKAppCheckSum(), 72u);

  // A slot that is not open gets nothing, but what was offered is summed.
  WriteLine(":0100000005FA", 3);
  EXPECT_TRUE(TakeOutput(id_).empty());
  EXPECT_EQ(ZAVNGetVUKAppCheckSum(), 77u);

  ZAVNReset();
  EXPECT_EQ(ZAVNGetVUKAppCheckSum(), 0u);
}

TEST_F(ImageWriterTest, LinesTheReportCannotHoldAreRefused) {
  char unterminated[ZAVN_IMAGE_LINE_BYTES];
  std::memset(unterminated, '1', sizeof unterminated);
  unterminated[0] = ':';
  ZAVNWriteVUKHex(1, scratch_, unterminated);
  WriteLine(":1C000000" + std::string(56, '1'));  // 28 data bytes: past the report
  ZAVNWriteVUKHex(1, nullptr, unterminated);
  ZAVNWriteVUKHex(1, scratch_, nullptr);
  EXPECT_TRUE(TakeOutput(id_).empty());
  EXPECT_EQ(ZAVNGetVUKAppCheckSum(), 0u);

  WriteLine(":1B000000" + std::string(54, '1'));  // 27 data bytes fill it exactly
  EXPECT_EQ(TakeOutput(id_).size(), 32u);
  EXPECT_EQ(ZAVNGetVUKAppCheckSum(), 27u * 0x11);
}

TEST_F(ImageWriterTest, TableRowsAreSentAsTheyStand) {
  ZAVNWriteHarlonHex(1, scratch_, firmware::HarlonImage[0]);
  EXPECT_EQ(TakeOutput(id_), WithZeros({0x03, 0x00, 0x00, 0x00, 'B', 'L', 'S', 'T'}, 24));

  char upper[firmware::kHarlonRowSlot];
  std::memcpy(upper, firmware::HarlonImage[3], sizeof upper);
  for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  ZAVNWriteHarlonHex(1, scratch_, firmware::HarlonImage[3]);
  ZAVNWriteHarlonHex(1, scratch_, upper);
  const Bytes lower = TakeOutput(id_);
  EXPECT_EQ(lower.size(), 32u);
  EXPECT_EQ(TakeOutput(id_), lower);

  const char shortRow[ZAVN_IMAGE_LINE_BYTES] = "0300";
  ZAVNWriteHarlonHex(1, scratch_, shortRow);
  ZAVNWriteHarlonHex(1, nullptr, firmware::HarlonImage[0]);
  EXPECT_TRUE(TakeOutput(id_).empty());
  EXPECT_EQ(ZAVNGetVUKAppCheckSum(), 0u);
}

}  // namespace
}  // namespace zavn::testing
