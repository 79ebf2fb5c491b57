// A host thread that repeats one call (a snapshot, say) until the test stops it, counting its
// rounds, so that the test can wait until the host has run again however it is scheduled.
#pragma once

#include <atomic>
#include <chrono>
#include <functional>
#include <thread>

namespace zavn::testing {

class HostThread {
 public:
  explicit HostThread(std::function<void()> round)
      : thread_([this, round = std::move(round)] {
          while (!stop_) {
            round();
            ++rounds_;
          }
        }) {}
  // A failed assertion may leave the test early: the thread is stopped all the same.
  ~HostThread() { Stop(); }

  void Stop() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
  }

  // Waits until a round has begun and ended after this call; false after 10 s.
  bool AwaitFreshRound() {
    const int seen = rounds_;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (rounds_ < seen + 2) {
      if (std::chrono::steady_clock::now() > deadline) return false;
      std::this_thread::yield();
    }
    return true;
  }

 private:
  std::atomic<bool> stop_{false};
  std::atomic<int> rounds_{0};
  std::thread thread_;  // last: it starts once the counters exist
};

}  // namespace zavn::testing
