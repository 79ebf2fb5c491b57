// ZAVNWriteVUKHex: one Intel HEX line as output report 0x10, its data summed into VUKChecksum.
// ZAVNGetVUKAppCheckSum: the sum of the update machine's last checksum report.
#include <cstring>

#include "commands/image_checksum.h"
#include "commands/output_reports.h"
#include "commands/senders.h"
#include "firmware/hex_text.h"
#include "firmware/vuk_hex_writer.h"
#include "zavn/zavn_firmware.h"

namespace zavn::firmware {
namespace {

using HexRecordReport = commands::Report<32>;
constexpr std::size_t kLineBytes = ZAVN_IMAGE_LINE_BYTES;
// Byte 1 is the record's byte count, the data from byte 5; 27 data bytes fill the report.
constexpr int kCountByte = 1;
constexpr int kDataByte = 5;
constexpr int kMaxDataBytes = static_cast<int>(HexRecordReport{}.size()) - kDataByte;
constexpr std::uint8_t kNotSummed = 0xFF;

// Converts the digit pairs after ':' until a pair is followed by NUL (or the report is full).
HexRecordReport Convert(const char* text) {
  HexRecordReport report{commands::id::kHexRecord};
  if (text[1] == '\0') return report;
  for (std::size_t byte = 1; byte < report.size(); ++byte) {
    const std::size_t first = 2 * byte - 1;
    report[byte] = HexPair(text[first], text[first + 1]);
    if (text[first + 2] == '\0') break;
  }
  return report;
}

}  // namespace

std::uint32_t WriteVUKLine(std::int32_t playerIndex, char* scratch, const char* line) {
  if (scratch == nullptr || line == nullptr) return 0;
  std::memcpy(scratch, line, kLineBytes);
  // A line must end within its 64 bytes, and its data must fit the report.
  if (std::memchr(scratch, '\0', kLineBytes) == nullptr) return 0;
  const HexRecordReport report = Convert(scratch);
  if (report[kCountByte] > kMaxDataBytes) return 0;

  commands::Send(playerIndex, report);
  // What was offered counts, whether or not it went out.
  std::uint32_t sum = 0;
  for (int i = 0; i < report[kCountByte]; ++i) {
    if (report[kDataByte + i] != kNotSummed) sum += report[kDataByte + i];
  }
  commands::VUKChecksum().fetch_add(sum);
  return sum;
}

}  // namespace zavn::firmware

extern "C" ZAVN_API void ZAVN_CALL ZAVNWriteVUKHex(int32_t playerIndex, char* scratch,
                                                   const char* line) {
  zavn::firmware::WriteVUKLine(playerIndex, scratch, line);
}

extern "C" ZAVN_API uint32_t ZAVN_CALL ZAVNGetVUKAppCheckSum(void) {
  return zavn::commands::SentChecksum();
}
