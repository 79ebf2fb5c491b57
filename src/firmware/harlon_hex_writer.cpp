// ZAVNWriteHarlonHex: one ready-made 32-byte output report given as 64 hex digits.
#include <cstring>

#include "commands/output_reports.h"
#include "commands/senders.h"
#include "firmware/hex_text.h"
#include "zavn/zavn_firmware.h"

extern "C" ZAVN_API void ZAVN_CALL ZAVNWriteHarlonHex(int32_t playerIndex, char* scratch,
                                                      const char* row) {
  using namespace zavn::firmware;
  constexpr std::size_t kRowChars = ZAVN_IMAGE_LINE_BYTES;
  if (scratch == nullptr || row == nullptr) return;
  std::memcpy(scratch, row, kRowChars);
  // A shorter row is refused: the report is made of all 64 digits.
  if (std::memchr(scratch, '\0', kRowChars) != nullptr) return;
  zavn::commands::Report<kRowChars / 2> report;
  for (std::size_t i = 0; i < report.size(); ++i) {
    report[i] = HexPair(scratch[2 * i], scratch[2 * i + 1]);
  }
  zavn::commands::Send(playerIndex, report);
}
