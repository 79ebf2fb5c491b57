#include "input/status_records.h"

#include <cstring>

namespace zavn::input {
namespace {
PlayerStatus g_records[4];
DecodeProgress g_progress;
}  // namespace

PlayerStatus& LibraryStatus(std::int32_t player) {
  return g_records[player - 1];
}

platform::Lock& StatusLock() {
  static platform::Lock lock;
  return lock;
}

DecodeProgress& Decoding() {
  return g_progress;
}

std::int32_t DecodeComplete() {
  return g_progress.decodedSinceReset == 1 && g_progress.decodingPlayer == 0 ? 1 : 0;
}

void ResetStatusRecords() {
  platform::LockGuard guard(StatusLock());
  std::memset(g_records, 0, sizeof g_records);
  g_progress.decodedSinceReset = 0;
  g_progress.decodingPlayer = 0;
  ++g_progress.recordsEpoch;
}

}  // namespace zavn::input
