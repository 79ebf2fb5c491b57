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

// Held by a whole decode and by a whole snapshot, so that a snapshot never sees half a decode and
// never clears a sample it did not copy. It lives as long as the library.
platform::Lock& StatusLock();

// 0 from the start of a decode to its end and after the reset, 1 after a decode.
std::atomic<std::int32_t>& DecodeComplete();

// Every record zeroed, DecodeComplete 0.
void ResetStatusRecords();

}  // namespace zavn::input
