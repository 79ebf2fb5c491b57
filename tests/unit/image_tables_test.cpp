// Every stated property of the two firmware image tables the library carries.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "firmware/hex_text.h"
#include "firmware/images.h"

namespace zavn::testing {
namespace {

using firmware::HexPair;

struct HexRecord {
  int count, address, type;
  std::vector<std::uint8_t> data;
  bool checksumValid;
};

// Parses ':' and upper-case digit pairs; fails the test on anything else.
HexRecord ParseHex(const std::string& text) {
  EXPECT_EQ(text[0], ':') << text;
  EXPECT_EQ(text.size() % 2, 1u) << text;
  for (std::size_t i = 1; i < text.size(); ++i) {
    EXPECT_TRUE(std::isxdigit(static_cast<unsigned char>(text[i])) &&
                !std::islower(static_cast<unsigned char>(text[i])))
        << text;
  }
  std::vector<std::uint8_t> bytes;
  for (std::size_t i = 1; i + 1 < text.size(); i += 2)
    bytes.push_back(HexPair(text[i], text[i + 1]));
  HexRecord record{bytes[0], bytes[1] << 8 | bytes[2], bytes[3], {}, false};
  EXPECT_EQ(bytes.size(), static_cast<std::size_t>(record.count) + 5) << text;
  record.data.assign(bytes.begin() + 4, bytes.end() - 1);
  std::uint8_t sum = 0;
  for (std::uint8_t byte : bytes) sum = static_cast<std::uint8_t>(sum + byte);
  record.checksumValid = sum == 0;
  return record;
}

// Data bytes and holes of the records in address order.
struct Coverage {
  int first = -1, last = -1, bytes = 0;
  std::vector<std::pair<int, int>> holes;
};
Coverage Cover(const std::vector<HexRecord>& records) {
  Coverage c;
  int next = -1;
  for (const HexRecord& r : records) {
    if (r.type != 0) continue;
    if (c.first < 0) c.first = r.address;
    EXPECT_GE(r.address, next) << "records out of address order";
    if (next >= 0 && r.address > next) c.holes.emplace_back(next, r.address - 1);
    next = r.address + r.count;
    c.last = next - 1;
    c.bytes += r.count;
  }
  return c;
}

TEST(ImageTables, VUKImageIsTheStatedIntelHexFile) {
  std::vector<HexRecord> records;
  for (int line = 0; line < firmware::kVUKLines; ++line) {
    const char* slot = firmware::VUKImage[line];
    const std::size_t length = strnlen(slot, firmware::kVUKLineSlot);
    ASSERT_LE(length, 43u) << line;
    for (std::size_t i = length; i < firmware::kVUKLineSlot; ++i) ASSERT_EQ(slot[i], '\0') << line;
    records.push_back(ParseHex(slot));
    EXPECT_TRUE(records.back().checksumValid) << line;
  }
  EXPECT_STREQ(firmware::VUKImage[firmware::kVUKLines], "end");

  int sixteen = 0, ten = 0, three = 0;
  for (std::size_t k = 0; k + 1 < records.size(); ++k) {
    ASSERT_EQ(records[k].type, 0) << k;
    sixteen += records[k].count == 16;
    ten += records[k].count == 10;
    three += records[k].count == 3;
  }
  EXPECT_EQ(sixteen, 1520);
  EXPECT_EQ(ten, 1);
  EXPECT_EQ(three, 1);
  EXPECT_STREQ(firmware::VUKImage[firmware::kVUKLines - 1], ":00000001FF");

  const Coverage c = Cover(records);
  EXPECT_EQ(c.first, 0x1600);
  EXPECT_EQ(c.last, 0x7BFF);
  EXPECT_EQ(c.bytes, 24333);
  EXPECT_EQ(c.holes, (std::vector<std::pair<int, int>>{{0x1610, 0x1611}, {0x750C, 0x7BFC}}));
  EXPECT_EQ(std::string(firmware::VUKImage[firmware::kVUKLines - 3]).substr(0, 9), ":0A750200");
}

std::vector<std::uint8_t> RowBytes(const char* row) {
  std::vector<std::uint8_t> bytes;
  for (int i = 0; i < 32; ++i) bytes.push_back(HexPair(row[2 * i], row[2 * i + 1]));
  return bytes;
}

TEST(ImageTables, HarlonImageFramesTheStatedRecordsInTriples) {
  for (int row = 0; row < firmware::kHarlonRows; ++row) {
    const char* slot = firmware::HarlonImage[row];
    ASSERT_EQ(strnlen(slot, firmware::kHarlonRowSlot), 64u) << row;
    for (int i = 0; i < 64; ++i) {
      ASSERT_TRUE(std::isdigit(static_cast<unsigned char>(slot[i])) ||
                  (slot[i] >= 'a' && slot[i] <= 'f'))
          << row;
    }
  }
  EXPECT_STREQ(firmware::HarlonImage[firmware::kHarlonRows], "end");

  const std::vector<std::uint8_t> start = RowBytes(firmware::HarlonImage[0]);
  std::vector<std::uint8_t> expectedStart(32, 0);
  expectedStart[0] = 0x03;
  std::memcpy(&expectedStart[4], "BLST", 4);
  EXPECT_EQ(start, expectedStart);

  // The triples: part tags, zero bytes, the 0x33 tail, the record text cut 19 / 19 / rest.
  std::vector<HexRecord> records;
  const std::uint8_t tail[6] = {0xFF, 0xFF, 0xFF, 0xFF, 0x20, 0x2F};
  for (int row = 1; row + 1 < firmware::kHarlonRows; row += 3) {
    std::string text;
    bool ended = false;
    for (int part = 0; part < 3; ++part) {
      const std::vector<std::uint8_t> b = RowBytes(firmware::HarlonImage[row + part]);
      ASSERT_EQ((std::vector<std::uint8_t>(b.begin(), b.begin() + 5)),
                (std::vector<std::uint8_t>{0x03, 0, 0, 0, 0x17}))
          << row;
      ASSERT_EQ(b[5], 0x11 * (part + 1)) << row;
      const std::string share(b.begin() + 6, b.begin() + 25);
      text += share.substr(0, share.find('\0'));
      if (share.find('\0') != std::string::npos) {
        EXPECT_EQ(share.find_first_not_of('\0', share.find('\0')), std::string::npos) << row;
      }
      EXPECT_EQ(b[25], 0) << row;
      for (int i = 0; i < 6; ++i) EXPECT_EQ(b[26 + i], part == 2 ? tail[i] : 0) << row;
      // Once a part is short, the record's text has ended.
      EXPECT_TRUE(!ended || share[0] == '\0') << row;
      ended = ended || share.find('\0') != std::string::npos;
    }
    records.push_back(ParseHex(text));
    EXPECT_TRUE(records.back().checksumValid) << row;
  }
  ASSERT_EQ(records.size(), 446u);
  const HexRecord& end = records.back();
  EXPECT_EQ(end.type, 1);
  EXPECT_EQ(end.count, 0);
  int data = 0;
  for (std::size_t k = 0; k + 1 < records.size(); ++k) data += records[k].type == 0;
  EXPECT_EQ(data, 445);

  const Coverage c = Cover(records);
  EXPECT_EQ(c.first, 0x1C00);
  EXPECT_EQ(c.last, 0x77FF);
  EXPECT_EQ(c.bytes, 6838);
  EXPECT_EQ(c.holes, (std::vector<std::pair<int, int>>{{0x1EB6, 0x5FFF}}));

  // The check frame: "LCRC" and eight 4-bit digits.
  const std::vector<std::uint8_t> check =
      RowBytes(firmware::HarlonImage[firmware::kHarlonRows - 1]);
  EXPECT_EQ((std::vector<std::uint8_t>(check.begin(), check.begin() + 8)),
            (std::vector<std::uint8_t>{0x03, 0, 0, 0, 'L', 'C', 'R', 'C'}));
  for (int i = 8; i < 16; ++i) EXPECT_LE(check[i], 15) << i;
  for (int i = 16; i < 32; ++i) EXPECT_EQ(check[i], 0) << i;
}

}  // namespace
}  // namespace zavn::testing
