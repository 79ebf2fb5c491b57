// The two firmware image tables: every line is one its writer takes, and every Intel HEX record
// carries a valid checksum. The contents themselves are checked against the generator.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "firmware/hex_text.h"
#include "firmware/images.h"

namespace zavn::testing {
namespace {

using firmware::HexPair;

// ':' and digit pairs, as many as the count byte says, summing to zero.
bool IsValidRecord(const std::string& text) {
  if (text.size() < 11 || text[0] != ':' || text.size() % 2 != 1) return false;
  for (std::size_t i = 1; i < text.size(); ++i) {
    if (!std::isxdigit(static_cast<unsigned char>(text[i]))) return false;
  }
  std::uint8_t sum = 0;
  for (std::size_t i = 1; i < text.size(); i += 2)
    sum = static_cast<std::uint8_t>(sum + HexPair(text[i], text[i + 1]));
  return text.size() == 11u + 2u * HexPair(text[1], text[2]) && sum == 0;
}

TEST(ImageTables, VUKLinesFitTheWriterAndCarryValidChecksums) {
  for (int line = 0; line < firmware::kVUKLines; ++line) {
    const char* slot = firmware::VUKImage[line];
    // The writer refuses a line without a NUL in its slot, or with more than 27 data bytes.
    const std::size_t length = strnlen(slot, firmware::kVUKLineSlot);
    ASSERT_LT(length, static_cast<std::size_t>(firmware::kVUKLineSlot)) << line;
    ASSERT_TRUE(IsValidRecord(slot)) << line << ": " << slot;
    EXPECT_LE(HexPair(slot[1], slot[2]), 27) << line;
  }
  EXPECT_STREQ(firmware::VUKImage[firmware::kVUKLines - 1], ":00000001FF");
  EXPECT_STREQ(firmware::VUKImage[firmware::kVUKLines], "end");
}

// Each record is cut over three reports, 19 bytes of its text at byte 6 of each.
TEST(ImageTables, HarlonRowsAreWholeReportsAndTheirRecordsCarryValidChecksums) {
  for (int row = 0; row < firmware::kHarlonRows; ++row) {
    // The writer refuses a row shorter than 64 digits.
    ASSERT_EQ(strnlen(firmware::HarlonImage[row], firmware::kHarlonRowSlot), 64u) << row;
  }
  EXPECT_STREQ(firmware::HarlonImage[firmware::kHarlonRows], "end");

  int records = 0;
  for (int row = 1; row + 1 < firmware::kHarlonRows; row += 3) {
    std::string text;
    for (int part = 0; part < 3; ++part) {
      const char* digits = firmware::HarlonImage[row + part];
      for (int i = 6; i < 25; ++i) {
        const std::uint8_t byte = HexPair(digits[2 * i], digits[2 * i + 1]);
        if (byte != 0) text += static_cast<char>(byte);
      }
    }
    EXPECT_TRUE(IsValidRecord(text)) << row << ": " << text;
    ++records;
  }
  EXPECT_EQ(records, 446);
}

}  // namespace
}  // namespace zavn::testing
