// ZAVNWriteVUKHex on arbitrary 64-byte lines (shorter inputs padded with zeros, longer ones
// cut), sent to an open virtual slot. The line and the scratch buffer are exactly 64 bytes on
// the heap, so a read or write past them is reported.
//
// Checked: the scratch buffer holds the line; a line is sent exactly when it ends within its 64
// bytes and its byte count fits the report; a sent report is one 32-byte report 0x10 of the
// line's digit pairs, zeros from the first pair that begins with NUL; the checksum grows by the
// report's data bytes other than 0xFF, and not at all for a refused line.
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "commands/image_checksum.h"
#include "firmware/hex_text.h"
#include "fuzz_support.h"
#include "zavn/zavn_firmware.h"

namespace {

using zavn::fuzz::Require;

constexpr std::size_t kLineBytes = ZAVN_IMAGE_LINE_BYTES;
constexpr std::int32_t kPlayer = 1;
constexpr int kReportBytes = 32;
constexpr std::uint8_t kHexRecordId = 0x10;
constexpr int kDataByte = 5;
constexpr int kMaxDataBytes = kReportBytes - kDataByte;
constexpr std::uint8_t kNotSummed = 0xFF;

zavn::fuzz::SlotIds g_ids;

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  g_ids = zavn::fuzz::OpenVirtualSlots();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const auto line = zavn::fuzz::ExactCopy(data, size, kLineBytes);
  const auto scratch = zavn::fuzz::ExactCopy(nullptr, 0, kLineBytes);
  const char* text = reinterpret_cast<const char*>(line.get());
  const bool ends = std::memchr(text, '\0', kLineBytes) != nullptr;
  const int count = text[1] == '\0' ? 0 : zavn::firmware::HexPair(text[1], text[2]);
  const std::uint32_t before = zavn::commands::VUKChecksum().load();

  ZAVNWriteVUKHex(kPlayer, reinterpret_cast<char*>(scratch.get()), text);

  Require(std::memcmp(scratch.get(), line.get(), kLineBytes) == 0, "scratch holds the line");
  std::uint8_t report[ZAVN_VIRTUAL_MAX_REPORT_LENGTH];
  const std::int32_t length = zavn::fuzz::TakeOnlyReport(g_ids[0], report);
  const bool accepted = ends && count <= kMaxDataBytes;
  if (!accepted) {
    Require(length == 0, "a refused line sends nothing");
    Require(zavn::commands::VUKChecksum().load() == before, "a refused line adds nothing");
    return 0;
  }
  Require(length == kReportBytes && report[0] == kHexRecordId, "one 32-byte report 0x10");
  bool ended = false;  // a pair begins with NUL: the record has ended
  for (int byte = 1; byte < kReportBytes; ++byte) {
    const char* pair = text + 2 * byte - 1;
    ended = ended || pair[0] == '\0';
    Require(report[byte] == (ended ? 0 : zavn::firmware::HexPair(pair[0], pair[1])),
            "each byte is its digit pair (byte 1 the count) until a pair begins with NUL, then 0");
  }
  std::uint32_t sum = 0;
  for (int i = 0; i < count; ++i) {
    if (report[kDataByte + i] != kNotSummed) sum += report[kDataByte + i];
  }
  Require(zavn::commands::VUKChecksum().load() - before == sum,
          "the checksum grows by the data sent");
  return 0;
}
