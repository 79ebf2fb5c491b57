#include "input/status_records.h"

#include <cstring>

namespace zavn::input {
namespace {
PlayerStatus g_records[4];
std::atomic<std::int32_t> g_decodeComplete{0};
}  // namespace

PlayerStatus& LibraryStatus(std::int32_t player) {
  return g_records[player - 1];
}

platform::Lock& StatusLock() {
  static platform::Lock lock;
  return lock;
}

std::atomic<std::int32_t>& DecodeComplete() {
  return g_decodeComplete;
}

void ResetStatusRecords() {
  platform::LockGuard guard(StatusLock());
  std::memset(g_records, 0, sizeof g_records);
  g_decodeComplete = 0;
}

}  // namespace zavn::input
