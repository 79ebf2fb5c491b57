#include "input/decoder.h"

#include <algorithm>
#include <cstring>

#include "input/acknowledgements.h"
#include "input/callbacks.h"
#include "input/input_report.h"
#include "input/motion.h"
#include "input/rate_meter.h"
#include "input/slot_report_mode.h"
#include "input/status_records.h"
#include "platform/system.h"

namespace zavn::input {
namespace {

namespace r = report;
using transport::kInputBufferSize;

constexpr std::int32_t kRawDataKind = 1;
constexpr int kHistory = ZAVN_HISTORY_LENGTH;

// Decoder state outside the records; written only under the status lock.
struct DecoderState {
  std::int32_t heldExtension[4][ZAVN_EXTENSION_CHANNELS] = {};
  std::int32_t lastMotionPosition = 0;  // of the last motion record, of any player
};
DecoderState g_state;

std::int32_t U16(const std::uint8_t* bytes) {
  return (std::int32_t{bytes[0]} << 8) | bytes[1];
}

// Report byte of a boot-loader record's "B": two before the letter position, so that its ";"
// stands there.
constexpr int kBootPosition = 1;

// The records a buffer can hold, for the bound on them. The bytes inside a record (motion values,
// buttons, blocks) can be letters, so only where a record can open counts: the letter at each
// report's letter position, over the 32-byte grid and over the 64-byte grid (every other short
// report) for the long form; and each boot-loader record by its three bytes, as the walk takes
// it wherever it stands. Whole reports thus count one record each, unless their bytes hold a
// boot-loader record's three, which the walk takes as one too.
struct RecordTally {
  int shortLetters = 0;
  int longLetters = 0;
  int boots = 0;
};

RecordTally TallyRecords(const transport::InputBuffer& buffer) {
  RecordTally tally;
  for (std::size_t at = r::kLetterPosition; at < kInputBufferSize; at += r::kShortLength) {
    const std::uint8_t letter = buffer[at];
    const int opens = letter == r::kMotion || letter == r::kSerial || letter == r::kAccount ||
                      letter == r::kVersion;
    tally.shortLetters += opens;
    if (at % r::kLongLength == r::kLetterPosition) tally.longLetters += opens;
  }
  // One memchr scan for "B", and a call more per "B" found, up to one record past the bound.
  const std::uint8_t* const end = buffer.data() + kInputBufferSize - 2;  // room for all three
  const std::uint8_t* from = buffer.data() + kBootPosition;
  while (tally.boots <= r::kMaxLetters) {
    const void* found = std::memchr(from, r::kBoot, static_cast<std::size_t>(end - from));
    if (found == nullptr) break;
    const auto* boot = static_cast<const std::uint8_t*>(found);
    tally.boots += boot[1] == r::kBootSecond && boot[2] == r::kBootThird;
    from = boot + 1;
  }
  return tally;
}

// A ring position: the next write position, back to 0 when the ring is full.
std::int32_t RingPosition(std::int32_t count) {
  return count >= 0 && count < kHistory ? count : 0;
}

void CountRecord(std::int32_t& counter) {
  if (++counter > kMaxRecordCount) counter = 0;
}

void ReadMotionValues(const std::uint8_t* letter, std::int32_t (&values)[ZAVN_MOTION_CHANNELS]) {
  for (int k = 0; k < ZAVN_MOTION_CHANNELS; ++k) {
    values[r::kMotionChannelOrder[k]] = U16(letter + r::kMotionValues + 2 * k);
  }
}

void DecodeButtons(const std::uint8_t* letter, PlayerStatus& status) {
  for (int k = 0; k < 12; ++k)
    status.ButtonBytes[r::kButtonByteOrder[k]] = letter[r::kButtonArea + k];
  // Eight buttons a byte, bit 0 first; the last byte carries the remaining seven.
  for (int group = 0; group < 3; ++group) {
    const unsigned byte = letter[r::kButtonBitBytes[group]];
    std::uint8_t* flags = status.Buttons + 8 * group;
    const int bits = std::min(8, ZAVN_BUTTON_COUNT - 8 * group);
    for (int bit = 0; bit < bits; ++bit) flags[bit] = static_cast<std::uint8_t>((byte >> bit) & 1);
  }
}

// The status lock as a decode holds it: let go around each call out of the library, after which
// the decode goes on only if the records were not reset meanwhile.
class DecodeLock {
 public:
  DecodeLock() : guard_(StatusLock()), epoch_(Decoding().recordsEpoch) {}

  // Runs `call` without the lock; false when the records were reset while it ran.
  template <typename Call>
  bool CallOut(Call&& call) {
    {
      platform::Unlocked unlocked(StatusLock());
      call();
    }
    return Intact();
  }
  bool Intact() const { return Decoding().recordsEpoch == epoch_; }

 private:
  platform::LockGuard guard_;
  const std::uint32_t epoch_;
};

// Returns false when the decode is to end after this record.
bool DecodeMotion(const std::uint8_t* letter, std::int32_t player, PlayerStatus& status,
                  std::uint32_t tick, const MotionRead& read, DecodeLock& lock,
                  MotionListener* listener) {
  const std::int32_t position = RingPosition(status.MotionCount);
  status.MotionCount = position;
  g_state.lastMotionPosition = position;

  std::int32_t values[ZAVN_MOTION_CHANNELS];
  ReadMotionValues(letter, values);
  for (int k = 0; k < ZAVN_MOTION_CHANNELS; ++k) {
    status.MotionHistory[k][position] = values[k];
    status.Motion[k] = values[k];
  }
  for (int k = 0; k < 3; ++k) {
    status.ReservedBHistory[k][position] = 0;
    status.ReservedB[k] = 0;
  }
  DecodeButtons(letter, status);
  AddMotionRecord(player, status, read);

  // The rate meter and the callback see the count before its wrap, and the sample's position
  // as the count.
  ++status.RecordCount;
  RunRateMeter(player, status, tick);
  std::memcpy(status.RawRecord, r::kRawRecordHeader, sizeof r::kRawRecordHeader);
  std::memcpy(status.RawRecord + sizeof r::kRawRecordHeader, letter, r::kMotionExtent + 1);
  if (ZAVNRawDataCallback callback = RawDataCallback()) {
    if (!lock.CallOut([&] { callback(kRawDataKind, &status); })) return false;
  }
  status.MotionCount = position + 1;
  if (status.RecordCount > kMaxRecordCount) status.RecordCount = 0;
  if (listener == nullptr) return true;
  bool keep = true;
  const bool intact = lock.CallOut([&] {
    keep = listener->KeepDecoding();
    if (keep) listener->AfterMotion(player, status);
    keep = keep && listener->KeepDecoding();
  });
  return intact && keep;
}

void DecodeSecondaryMotion(const std::uint8_t* letter, PlayerStatus& status) {
  ReadMotionValues(letter, status.SecondaryMotion);
  const std::int32_t position = RingPosition(status.SecondaryCount);
  for (int k = 0; k < ZAVN_MOTION_CHANNELS; ++k) {
    status.SecondaryHistory[k][position] = status.SecondaryMotion[k];
  }
  CountRecord(status.SecondaryRecordCount);
  status.SecondaryCount = position + 1;
}

void DecodeExtension(const std::uint8_t* letter, std::int32_t player, PlayerStatus& status) {
  std::int32_t(&held)[ZAVN_EXTENSION_CHANNELS] = g_state.heldExtension[player - 1];
  const std::uint8_t flags = letter[r::kExtensionFlagByte];
  // Sample and hold: an invalid triple repeats the last valid one.
  if ((flags & r::kExtensionValid) != 0) {
    for (int k = 0; k < ZAVN_EXTENSION_CHANNELS; ++k) {
      held[k] = U16(letter + r::kExtensionTriple + 2 * k);
    }
  }
  for (int k = 0; k < ZAVN_EXTENSION_CHANNELS; ++k) {
    status.Extension[k] = held[k];
    status.ExtensionHistory[k][g_state.lastMotionPosition] = held[k];
  }
  status.ExtensionBytes[0] = letter[r::kExtensionBytes];
  status.ExtensionBytes[1] = letter[r::kExtensionBytes + 1];
  for (int k = 0; k < 4; ++k)
    status.ExtensionFlags[k] = static_cast<std::uint8_t>((flags >> k) & 1);
}

void DecodeAccount(const std::uint8_t* letter, PlayerStatus& status) {
  const std::uint8_t selector = letter[r::kAccountSelector];
  int page = -1;
  if (selector <= r::kPageSelectorLast) {
    page = selector;
  } else if (selector >= r::kDigitSelectorFirst && selector <= r::kDigitSelectorLast) {
    page = selector - r::kDigitSelectorFirst;
  }
  if (page >= 0) {
    std::memcpy(status.AccountPages[page], letter + r::kAccountPage, ZAVN_ACCOUNT_PAGE_BYTES);
  }
  status.AccountStatus = letter[r::kAccountStatus];
}

void DecodeBoot(const std::uint8_t* letter, PlayerStatus& status) {
  for (int k = 0; k < 12; ++k) status.BootBlock[r::kBootByteOrder[k]] = letter[r::kBootPayload + k];
}

// The first report's boot-loader record has its "B" at byte 1; no other rule can match that early.
constexpr int kWalkStart = kBootPosition;

class Walk {
 public:
  // The clock is read once for the whole buffer: its records came in one read, and a reading
  // costs as much as decoding a record.
  Walk(const transport::InputBuffer& buffer, std::int32_t player, PlayerStatus& status, int stride,
       int records, DecodeLock& lock, MotionListener* listener)
      : b_(buffer),
        player_(player),
        status_(status),
        stride_(stride),
        tick_(platform::ActiveSystem().TickMs()),
        read_{static_cast<std::int64_t>(platform::ActiveSystem().TickUs()), 0, records},
        lock_(lock),
        listener_(listener) {}

  // Visits, in order, only the positions where a rule can match: the expected letter position,
  // the extension position 35 before it, and every "B". Other positions match no rule.
  void Run() {
    constexpr int kEnd = static_cast<int>(kInputBufferSize);
    int nextBoot = FindBoot(kWalkStart);
    for (int i = kWalkStart; i < kEnd;) {
      int next = kEnd;
      if (expected_ - r::kExtensionBeforeExpected >= i) {
        next = std::min(expected_ - r::kExtensionBeforeExpected, kEnd);
      } else if (expected_ >= i) {
        next = std::min(expected_, kEnd);
      }
      if (nextBoot < i) nextBoot = FindBoot(i);
      next = std::min(next, nextBoot);
      if (next >= kEnd || !Visit(next)) return;
      i = next + 1;
    }
  }

 private:
  // The first "B" at or after from, or the buffer's end.
  int FindBoot(int from) const {
    const void* boot = std::memchr(&b_[static_cast<std::size_t>(from)], r::kBoot,
                                   kInputBufferSize - static_cast<std::size_t>(from));
    return boot == nullptr ? static_cast<int>(kInputBufferSize)
                           : static_cast<int>(static_cast<const std::uint8_t*>(boot) - b_.data());
  }

  // Whether a record whose letter stands at i reads only bytes inside the buffer.
  static bool Fits(int i, int extent) { return i + extent < static_cast<int>(kInputBufferSize); }

  void Advance() { expected_ += stride_; }
  void AdvanceIfSynced(int by) {
    if (synced_) expected_ += by;
  }

  // Stores a serial-number, version or account-data record whose letter stands at i; false for
  // another letter or a record that does not fit.
  bool TakeAnswer(std::uint8_t letter, int i) {
    const std::uint8_t* at = &b_[i];
    if (letter == r::kSerial && Fits(i, r::kSerialExtent)) {
      std::memcpy(status_.SerialBlock, at + r::kBlockStart, sizeof status_.SerialBlock);
    } else if (letter == r::kVersion && Fits(i, r::kVersionExtent)) {
      std::memcpy(status_.VersionBlock, at + r::kBlockStart, sizeof status_.VersionBlock);
    } else if (letter == r::kAccount && Fits(i, r::kAccountExtent)) {
      DecodeAccount(at, status_);
    } else {
      return false;
    }
    return true;
  }

  // False when the decode is to end here.
  bool Visit(int i) {
    const std::uint8_t letter = b_[i];
    const std::uint8_t* at = &b_[i];
    if (i == expected_) {
      if (letter == r::kMotion) {
        const bool secondary = b_[i - r::kMarkerBeforeLetter] == r::kSecondaryMarker;
        if (Fits(i, secondary ? r::kSecondaryExtent : r::kMotionExtent)) {
          synced_ = true;
          Advance();
          if (!secondary) {
            const bool more = DecodeMotion(at, player_, status_, tick_, read_, lock_, listener_);
            ++read_.index;
            return more;
          }
          DecodeSecondaryMotion(at, status_);
          return true;
        }
      } else if (TakeAnswer(letter, i)) {
        // An answer to an identity request moves the position on as a motion record does.
        CountRecord(status_.RecordCount);
        synced_ = true;
        Advance();
        return true;
      }
    }
    if (letter == r::kExtension && i == expected_ - r::kExtensionBeforeExpected &&
        Fits(i, r::kExtensionExtent)) {
      DecodeExtension(at, player_, status_);
      return true;
    }
    if (letter == r::kBoot && Fits(i, r::kBootExtent) && at[1] == r::kBootSecond &&
        at[2] == r::kBootThird) {
      DecodeBoot(at, status_);
      CountRecord(status_.RecordCount);
      // The receiver answers each image row or line it accepted with a boot-loader record.
      GrantAcknowledgements(player_);
      AdvanceIfSynced(stride_ + 2);
    }
    return true;
  }

  const transport::InputBuffer& b_;
  const std::int32_t player_;
  PlayerStatus& status_;
  const int stride_;
  const std::uint32_t tick_;
  MotionRead read_;  // the next motion record's place in the read
  DecodeLock& lock_;
  MotionListener* const listener_;
  int expected_ = r::kLetterPosition;
  bool synced_ = false;
};

// What a decode leaves behind, and what a read that found nothing hands on: most buffers that
// reach the decoder.
bool AllZero(const transport::InputBuffer& buffer) {
  static constexpr transport::InputBuffer kZeros{};
  return std::memcmp(buffer.data(), kZeros.data(), kInputBufferSize) == 0;
}

}  // namespace

void Decode(transport::InputBuffer& buffer, std::int32_t player, MotionListener* listener) {
  DecodeLock lock;
  DecodeProgress& progress = Decoding();
  // The player's histories are not handed over until the whole buffer is in.
  progress.decodingPlayer = player;
  // A buffer of zeros holds no letter and is clear already.
  if (!AllZero(buffer)) {
    const RecordTally tally = TallyRecords(buffer);
    int stride = r::kShortLength;
    int records = tally.shortLetters + tally.boots;
    if (records >= 1 && buffer[r::kLongFormMarkerPosition] == r::kExtension) {
      stride = r::kLongLength;
      records = tally.longLetters + tally.boots;  // letters on the long reports' grid only
      SlotReportMode(player - 1) = kLongReportMode;
    }
    if (records >= 1 && records <= r::kMaxLetters) {
      Walk(buffer, player, LibraryStatus(player), stride, records, lock, listener).Run();
    }
    if (!lock.Intact()) return;
    buffer.fill(0);
  }
  progress.decodingPlayer = 0;
  progress.decodedSinceReset = 1;
}

void ResetDecoderState() {
  platform::LockGuard guard(StatusLock());
  g_state = {};
}

}  // namespace zavn::input
