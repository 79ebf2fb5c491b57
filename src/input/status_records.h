// The library's four PlayerStatus records and the lock under which they are decoded and copied.
#pragma once

#include <atomic>
#include <cstdint>

#include "platform/system.h"
#include "zavn/zavn_status.h"

namespace zavn::input {

inline constexpr std::int32_t kMaxRecordCount = 10000;

// Player 1..4.
PlayerStatus& LibraryStatus(std::int32_t player);

// Held while one record is decoded and while one snapshot is copied, never across a call out of
// the library: a snapshot holds whole records only. It lives as long as the library.
platform::Lock& StatusLock();

// What the snapshot needs to know of the decodes; each word is written under the status lock.
struct DecodeProgress {
  std::atomic<std::int32_t> decodedSinceReset{0};  // a decode has completed since the reset
  std::atomic<std::int32_t> decodingPlayer{0};     // the player whose buffer is being decoded
  // Moves on with every reset of the records, so that a decode which let go of the lock for a
  // call out learns that the records it was filling are gone.
  std::atomic<std::uint32_t> recordsEpoch{0};
};
DecodeProgress& Decoding();

// 1 when a decode has completed since the reset and none is under way, else 0.
std::int32_t DecodeComplete();

// Every record zeroed, no decode completed.
void ResetStatusRecords();

}  // namespace zavn::input
