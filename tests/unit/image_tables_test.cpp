// The report table's rows are whole reports, and the Intel HEX records framed in them carry
// valid checksums. VUKImage's records are checked by the generator (ImageTablesFromFiles), the
// contents of both against the generator (ImageTablesAreGenerated).
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "firmware/hex_text.h"
#include "firmware/images.h"

namespace zavn::testing {
namespace {

using firmware::HexPair;

// 64-digit rows; each record is cut over three of them, 19 bytes of its text at byte 6 of each.
TEST(ImageTables, HarlonRowsAreWholeReportsAndTheirRecordsCarryValidChecksums) {
  for (int row = 0; row < firmware::kHarlonRows; ++row) {
    ASSERT_EQ(strnlen(firmware::HarlonImage[row], firmware::kHarlonRowSlot), 64u) << row;
  }
  EXPECT_STREQ(firmware::HarlonImage[firmware::kHarlonRows], "end");
  for (int row = 1; row + 1 < firmware::kHarlonRows; row += 3) {
    std::string text;
    for (int part = 0; part < 3; ++part) {
      const char* digits = firmware::HarlonImage[row + part];
      for (int i = 6; i < 25; ++i) {
        const std::uint8_t byte = HexPair(digits[2 * i], digits[2 * i + 1]);
        if (byte != 0) text += static_cast<char>(byte);
      }
    }
    // ':' and digit pairs, as many as the count byte says, summing to zero.
    bool valid = text.size() >= 11 && text[0] == ':' && text.size() % 2 == 1;
    std::uint8_t sum = 0;
    for (std::size_t i = 1; valid && i < text.size(); i += 2) {
      valid = std::isxdigit(static_cast<unsigned char>(text[i])) &&
              std::isxdigit(static_cast<unsigned char>(text[i + 1]));
      sum = static_cast<std::uint8_t>(sum + HexPair(text[i], text[i + 1]));
    }
    EXPECT_TRUE(valid && sum == 0 && text.size() == 11u + 2u * HexPair(text[1], text[2]))
        << row << ": " << text;
  }
}

}  // namespace
}  // namespace zavn::testing
