// ZAVNGetStatus: copies a player's record to the host and hands over its sample histories.
#include <cstring>

#include "input/status_records.h"
#include "zavn/zavn.h"

namespace zavn::input {
namespace {

// Copies a ring to the host and empties it in the library.
template <typename Ring>
void HandOver(Ring& to, Ring& from) {
  std::memcpy(&to, &from, sizeof from);
  std::memset(&from, 0, sizeof from);
}

template <typename Field>
void Copy(Field& to, const Field& from) {
  std::memcpy(&to, &from, sizeof from);
}

void CopyHistoryPart(PlayerStatus& out, PlayerStatus& s, bool withSecondary) {
  out.MotionCount = s.MotionCount;
  s.MotionCount = 0;
  HandOver(out.MotionHistory, s.MotionHistory);
  HandOver(out.ReservedAHistory, s.ReservedAHistory);
  HandOver(out.ExtensionHistory, s.ExtensionHistory);
  HandOver(out.ReservedBHistory, s.ReservedBHistory);
  Copy(out.Motion, s.Motion);
  Copy(out.ReservedA, s.ReservedA);
  Copy(out.Extension, s.Extension);
  Copy(out.ReservedB, s.ReservedB);
  if (withSecondary) {
    out.SecondaryCount = s.SecondaryCount;
    s.SecondaryCount = 0;
    HandOver(out.SecondaryHistory, s.SecondaryHistory);
    Copy(out.SecondaryMotion, s.SecondaryMotion);
  }
}

// BootBlock[0] and [1] stay the caller's.
constexpr int kFirstCopiedBootByte = 2;

void CopyLatestFields(PlayerStatus& out, const PlayerStatus& s) {
  // During the raw-data callback the count stands one past its wrap for a moment; the snapshot
  // shows the whole record's value.
  out.RecordCount = s.RecordCount > kMaxRecordCount ? 0 : s.RecordCount;
  Copy(out.ReservedC, s.ReservedC);
  Copy(out.ReservedD, s.ReservedD);
  Copy(out.SerialBlock, s.SerialBlock);
  Copy(out.VersionBlock, s.VersionBlock);
  out.AccountStatus = s.AccountStatus;
  Copy(out.AccountPages, s.AccountPages);
  std::memcpy(out.BootBlock + kFirstCopiedBootByte, s.BootBlock + kFirstCopiedBootByte,
              sizeof s.BootBlock - kFirstCopiedBootByte);
  Copy(out.ReservedE, s.ReservedE);
  Copy(out.ExtensionBytes, s.ExtensionBytes);
  Copy(out.ExtensionFlags, s.ExtensionFlags);
  Copy(out.ReservedF, s.ReservedF);
  Copy(out.ReservedG, s.ReservedG);
  Copy(out.ReservedFloat, s.ReservedFloat);
  Copy(out.ButtonBytes, s.ButtonBytes);
  Copy(out.Buttons, s.Buttons);
}

}  // namespace
}  // namespace zavn::input

extern "C" ZAVN_API void ZAVN_CALL ZAVNGetStatus(int32_t playerIndex, PlayerStatus* out) {
  using namespace zavn::input;
  if (out == nullptr) return;
  const std::int32_t player = playerIndex >= 1 && playerIndex <= 4 ? playerIndex : 1;
  PlayerStatus& s = LibraryStatus(player);
  zavn::platform::LockGuard guard(StatusLock());
  // The history part stays where it is until a decode has completed after the reset. While the
  // player's own buffer is being decoded (a call out of the decode is under way) its samples
  // are not handed over yet: the counts say none, so that a host reading its record again never
  // takes the previous samples for new ones.
  const DecodeProgress& progress = Decoding();
  if (progress.decodedSinceReset == 1) {
    if (progress.decodingPlayer != player) {
      CopyHistoryPart(*out, s, playerIndex == 1);
    } else {
      out->MotionCount = 0;
      if (playerIndex == 1) out->SecondaryCount = 0;
    }
  }
  CopyLatestFields(*out, s);
}
