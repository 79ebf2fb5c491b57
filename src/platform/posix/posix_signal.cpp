// Signal on Linux: one atomic word and a futex on it. A timed condition variable would cost an
// extra system call at every time-out, and the poll thread times out once a cycle on a silent
// receiver; a futex wait costs what a sleep does. Like Lock, never destroyed.
#include <linux/futex.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <new>

#include "platform/system.h"

namespace zavn::platform {
namespace {

// The word: lowered, raised, or lowered with the (one) waiter asleep on it, so that a raise
// makes a system call only when someone sleeps.
enum : std::uint32_t { kLowered = 0, kRaised = 1, kSleeping = 2 };

using Word = std::atomic<std::uint32_t>;
static_assert(sizeof(Word) == sizeof(std::uint32_t) && Word::is_always_lock_free);
static_assert(sizeof(Word) <= 160);

Word& Of(unsigned char* storage) {
  return *std::launder(reinterpret_cast<Word*>(storage));
}

constexpr std::uint64_t kUsPerMs = 1000;
constexpr std::uint64_t kUsPerSecond = 1000000;
constexpr long kNsPerUs = 1000L;
constexpr long kNsPerSecond = 1000000000L;

}  // namespace

Signal::Signal() noexcept {
  new (storage_) Word(kLowered);
}
Signal::~Signal() = default;

void Signal::Raise() noexcept {
  Word& word = Of(storage_);
  if (word.exchange(kRaised) == kSleeping) {
    syscall(SYS_futex, &word, FUTEX_WAKE_PRIVATE, 1, nullptr, nullptr, 0);
  }
}

void Signal::Lower() noexcept {
  std::uint32_t raised = kRaised;
  Of(storage_).compare_exchange_strong(raised, kLowered);
}

bool Signal::Wait(std::uint32_t ms) noexcept {
  return WaitUs(ms * kUsPerMs);
}

bool Signal::WaitUs(std::uint64_t us) noexcept {
  Word& word = Of(storage_);
  timespec deadline{};
  clock_gettime(CLOCK_MONOTONIC, &deadline);
  deadline.tv_sec += static_cast<time_t>(us / kUsPerSecond);
  deadline.tv_nsec += static_cast<long>(us % kUsPerSecond) * kNsPerUs;
  if (deadline.tv_nsec >= kNsPerSecond) {
    ++deadline.tv_sec;
    deadline.tv_nsec -= kNsPerSecond;
  }
  for (;;) {
    std::uint32_t state = kLowered;
    if (!word.compare_exchange_strong(state, kSleeping) && state == kRaised) break;
    // FUTEX_WAIT_BITSET takes an absolute time on CLOCK_MONOTONIC. It returns at once when a
    // raise came after the exchange above (the word is no longer kSleeping).
    const long slept = syscall(SYS_futex, &word, FUTEX_WAIT_BITSET_PRIVATE, kSleeping, &deadline,
                               nullptr, FUTEX_BITSET_MATCH_ANY);
    if (slept != 0 && errno == ETIMEDOUT) {
      state = kSleeping;
      if (word.compare_exchange_strong(state, kLowered)) return false;
      break;  // raised just as the time ran out
    }
  }
  word.store(kLowered);
  return true;
}

}  // namespace zavn::platform
