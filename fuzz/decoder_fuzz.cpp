// The input decoder on arbitrary buffers, then a snapshot of every player: nothing read or
// written outside the buffer and the records, every counter and flag within its range, the
// buffer cleared after each decode.
//
// Input: one control byte, then the buffer (cut to 4096 bytes, or padded with zeros).
//   bits 0-1  the player, 1..4
//   bit 2     the slot's report mode before the decode: long when set, else short
//   bits 3-7  how often the buffer is decoded before the snapshots, 1..32, so that the history
//             rings wrap (a buffer holds at most 64 motion records)
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <memory>

#include "fuzz_support.h"
#include "input/decoder.h"
#include "input/slot_report_mode.h"
#include "input/status_records.h"
#include "transport/input_buffer.h"
#include "zavn/zavn.h"

namespace {

using zavn::fuzz::Require;
using zavn::transport::InputBuffer;
using zavn::transport::kInputBufferSize;

constexpr int kPlayers = zavn::transport::kSlotCount;
constexpr std::uint8_t kPlayerBits = 0x03;
constexpr std::uint8_t kLongModeBit = 0x04;
constexpr int kRepeatShift = 3;
constexpr std::int32_t kRawDataKind = 1;

std::int32_t g_player = 1;  // the player being decoded, for the callback's checks

void ZAVN_CALL CheckRawRecord(std::int32_t kind, PlayerStatus* status) {
  Require(kind == kRawDataKind, "the callback's kind is 1");
  Require(status == &zavn::input::LibraryStatus(g_player), "the callback gets the live record");
  Require(status->MotionCount >= 0 && status->MotionCount < ZAVN_HISTORY_LENGTH,
          "the callback sees a ring position");
}

template <std::size_t N>
bool Flags(const std::uint8_t (&flags)[N]) {
  return std::all_of(flags, flags + N, [](std::uint8_t flag) { return flag <= 1; });
}

void CheckSnapshot(std::int32_t player, const PlayerStatus& out) {
  Require(out.MotionCount >= 0 && out.MotionCount <= ZAVN_HISTORY_LENGTH, "MotionCount in range");
  if (player == 1) {
    Require(out.SecondaryCount >= 0 && out.SecondaryCount <= ZAVN_HISTORY_LENGTH,
            "SecondaryCount in range");
  }
  Require(out.RecordCount >= 0 && out.RecordCount <= zavn::input::kMaxRecordCount,
          "RecordCount in range");
  Require(Flags(out.Buttons), "Buttons are 0 or 1");
  Require(Flags(out.ExtensionFlags), "ExtensionFlags are 0 or 1");
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  ZAVNReset();
  ZAVNInitGetRawDataCallBack(CheckRawRecord);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const std::uint8_t control = data[0];
  g_player = 1 + (control & kPlayerBits);
  const int repeats = 1 + (control >> kRepeatShift);
  zavn::input::SlotReportMode(g_player - 1) =
      (control & kLongModeBit) != 0 ? zavn::input::kLongReportMode : zavn::input::kShortReportMode;

  const auto filled = zavn::fuzz::ExactCopy(data + 1, size - 1, kInputBufferSize);
  // On the heap, so that a read before or after the buffer is reported.
  auto buffer = std::make_unique<InputBuffer>();
  for (int k = 0; k < repeats; ++k) {
    std::memcpy(buffer->data(), filled.get(), kInputBufferSize);
    zavn::input::Decode(*buffer, g_player);
    Require(std::all_of(buffer->begin(), buffer->end(), [](std::uint8_t b) { return b == 0; }),
            "the buffer is cleared");
    Require(zavn::input::DecodeComplete() == 1, "the decode completes");
  }
  const std::int32_t mode = zavn::input::SlotReportMode(g_player - 1);
  Require(mode == zavn::input::kShortReportMode || mode == zavn::input::kLongReportMode,
          "the report mode is 32 or 64");

  auto out = std::make_unique<PlayerStatus>();
  for (std::int32_t player = 1; player <= kPlayers; ++player) {
    ZAVNGetStatus(player, out.get());
    CheckSnapshot(player, *out);
  }
  return 0;
}
