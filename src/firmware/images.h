// The two firmware images the library carries, each a table of fixed-size text slots ending in
// a slot that reads "end".
#pragma once

namespace zavn::firmware {

// VUKImage: Intel HEX records for the receiver's boot loader, one per 44-byte slot (':' and at
// most 43 upper-case digits, NUL-filled). The machine sends lines while they begin with ':'.
inline constexpr int kVUKLines = 1523;
inline constexpr int kVUKLineSlot = 44;
extern const char VUKImage[kVUKLines + 1][kVUKLineSlot];

// HarlonImage: ready-made 32-byte output reports as 64 lower-case hex digits and a NUL, one per
// 65-byte slot. A row beginning with 'e' ends the table.
inline constexpr int kHarlonRows = 1340;
inline constexpr int kHarlonRowChars = 64;
inline constexpr int kHarlonRowSlot = kHarlonRowChars + 1;
extern const char HarlonImage[kHarlonRows + 1][kHarlonRowSlot];

// True when the tables are the committed placeholders, false when the build made them from the
// maker's files (ZAVN_FIRMWARE_HEX and ZAVN_FIRMWARE_REPORT_TABLE). Placeholders are sent to
// the virtual receiver only.
bool ImagesArePlaceholders();

}  // namespace zavn::firmware
