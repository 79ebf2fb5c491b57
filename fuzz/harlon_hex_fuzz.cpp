// ZAVNWriteHarlonHex on arbitrary 64-character rows (shorter inputs padded with zeros, longer
// ones cut), sent to an open virtual slot. The row and the scratch buffer are exactly 64 bytes
// on the heap, so a read or write past them is reported.
//
// Checked: the scratch buffer holds the row; a row with a NUL among its 64 characters sends
// nothing; any other row sends one 32-byte report whose byte i is digit pair i.
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "firmware/hex_text.h"
#include "fuzz_support.h"
#include "zavn/zavn_firmware.h"

namespace {

using zavn::fuzz::Require;

constexpr std::size_t kRowChars = ZAVN_IMAGE_LINE_BYTES;
constexpr std::int32_t kPlayer = 1;
constexpr std::int32_t kReportBytes = kRowChars / 2;

zavn::fuzz::SlotIds g_ids;

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  g_ids = zavn::fuzz::OpenVirtualSlots();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const auto row = zavn::fuzz::ExactCopy(data, size, kRowChars);
  const auto scratch = zavn::fuzz::ExactCopy(nullptr, 0, kRowChars);
  const char* text = reinterpret_cast<const char*>(row.get());

  ZAVNWriteHarlonHex(kPlayer, reinterpret_cast<char*>(scratch.get()), text);

  Require(std::memcmp(scratch.get(), row.get(), kRowChars) == 0, "scratch holds the row");
  std::uint8_t report[ZAVN_VIRTUAL_MAX_REPORT_LENGTH];
  const std::int32_t length = zavn::fuzz::TakeOnlyReport(g_ids[0], report);
  if (std::memchr(text, '\0', kRowChars) != nullptr) {
    Require(length == 0, "a short row sends nothing");
    return 0;
  }
  Require(length == kReportBytes, "one 32-byte report");
  for (std::int32_t i = 0; i < kReportBytes; ++i) {
    Require(report[i] == zavn::firmware::HexPair(text[2 * i], text[2 * i + 1]),
            "each byte is its digit pair");
  }
  return 0;
}
