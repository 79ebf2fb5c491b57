// The receiver's input report layout: record letters and where each record's bytes stand.
// Positions are relative to the record's letter L; every multi-byte value is big-endian.
#pragma once

#include <cstdint>

namespace zavn::input::report {

inline constexpr std::uint8_t kReportId = 0x02;
inline constexpr int kShortLength = 32;
inline constexpr int kLongLength = 64;

// Report byte 1 of a secondary motion record (L - 2 from its letter).
inline constexpr std::uint8_t kSecondaryMarker = '2';
inline constexpr int kMarkerBeforeLetter = 2;

inline constexpr std::uint8_t kMotion = 'A';
inline constexpr std::uint8_t kSerial = 'R';
inline constexpr std::uint8_t kVersion = 'V';
inline constexpr std::uint8_t kAccount = 'D';
inline constexpr std::uint8_t kExtension = 'J';
inline constexpr std::uint8_t kBoot = 'B';
inline constexpr std::uint8_t kBootSecond = 0x95;
inline constexpr std::uint8_t kBootThird = 0x3B;  // ';'

// The letter of a record at its usual place, report byte 3.
inline constexpr int kLetterPosition = 3;
// "A" followed by this byte at the letter's place makes the poll pass decode whatever its read
// gave.
inline constexpr std::uint8_t kForcedDecodeMark = 'n';
// An extension record's letter stands at byte 32 of a long report, 35 before the next expected
// letter; a long buffer is recognised by it.
inline constexpr int kExtensionBeforeExpected = 35;
inline constexpr int kLongFormMarkerPosition = 32;
// Buffers with more records than this are not reports and are not walked. Records are counted
// where they can open: the letter at each report's letter position (at the buffer's stride), and
// every boot-loader record; so 127 reports of one read are all decoded.
inline constexpr int kMaxLetters = 127;

// The last byte, after the letter, that each record reads.
inline constexpr int kMotionExtent = 60;  // the whole report, for RawRecord
inline constexpr int kSecondaryExtent = 12;
inline constexpr int kSerialExtent = 16;
inline constexpr int kVersionExtent = 12;
inline constexpr int kAccountExtent = 27;
inline constexpr int kExtensionExtent = 15;
inline constexpr int kBootExtent = 14;

// Motion record: six u16 values from L+1, in the channel order below.
inline constexpr int kMotionValues = 1;
inline constexpr int kMotionChannelOrder[6] = {0, 1, 2, 5, 4, 3};
// Button area: L+19..L+30 go to ButtonBytes[3, 2, 1, 0, 7, 6, 5, 4, 8, 9, 10, 11].
inline constexpr int kButtonArea = 19;
inline constexpr int kButtonByteOrder[12] = {3, 2, 1, 0, 7, 6, 5, 4, 8, 9, 10, 11};
// Buttons[0..7] are the bits of L+22, [8..15] of L+21, [16..22] bits 0..6 of L+20.
inline constexpr int kButtonBitBytes[3] = {22, 21, 20};

// Extension record: the candidate triple from L+7, two bytes at L+13, the flag byte at L+15.
inline constexpr int kExtensionTriple = 7;
inline constexpr int kExtensionBytes = 13;
inline constexpr int kExtensionFlagByte = 15;
inline constexpr std::uint8_t kExtensionValid = 0x80;

// Serial-number and version records: their blocks from L+1.
inline constexpr int kBlockStart = 1;

// Account-data record: selector at L+1, the 25-byte page from L+2, status at L+27.
inline constexpr int kAccountSelector = 1;
inline constexpr int kAccountPage = 2;
inline constexpr int kAccountStatus = 27;
inline constexpr std::uint8_t kPageSelectorLast = 0x0F;
inline constexpr std::uint8_t kDigitSelectorFirst = '0';
inline constexpr std::uint8_t kDigitSelectorLast = '7';

// Boot loader record: L+3..L+14 go to BootBlock[0, 1, 2, 3, 4, 5, 10, 11, 8, 9, 6, 7].
inline constexpr int kBootPayload = 3;
inline constexpr int kBootByteOrder[12] = {0, 1, 2, 3, 4, 5, 10, 11, 8, 9, 6, 7};

// RawRecord: this header, then the motion report from its letter on.
inline constexpr std::uint8_t kRawRecordHeader[3] = {0x02, 0x31, 0x03};

}  // namespace zavn::input::report
