// Waits for what the library's own threads bring about, checking every millisecond.
#pragma once

#include <chrono>
#include <thread>

namespace zavn::testing {

// Whether `done` came true within `limit`, which bounds a wait (the figures live in the
// benchmarks).
template <typename Done>
bool Eventually(Done done, std::chrono::milliseconds limit = std::chrono::seconds(5)) {
  const auto end = std::chrono::steady_clock::now() + limit;
  while (!done()) {
    if (std::chrono::steady_clock::now() > end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return true;
}

}  // namespace zavn::testing
