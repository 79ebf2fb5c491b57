// Signal on Windows: a flag under a slim reader/writer lock, with a condition variable. Neither
// needs destroying, so the Signal leaves nothing behind at unload.
#if !defined(_WIN32_WINNT) || _WIN32_WINNT < 0x0600
#undef _WIN32_WINNT
#define _WIN32_WINNT 0x0600  // condition variables and slim locks: Vista and later
#endif
#include <windows.h>

#include <algorithm>
#include <new>

#include "platform/system.h"

namespace zavn::platform {
namespace {

struct State {
  SRWLOCK lock;
  CONDITION_VARIABLE raised;
  bool flag;
};
static_assert(sizeof(State) <= 160 && alignof(State) <= 16);

State& Of(unsigned char* storage) {
  return *std::launder(reinterpret_cast<State*>(storage));
}

}  // namespace

Signal::Signal() noexcept {
  State* state = new (storage_) State;
  InitializeSRWLock(&state->lock);
  InitializeConditionVariable(&state->raised);
  state->flag = false;
}
Signal::~Signal() = default;

void Signal::Raise() noexcept {
  State& state = Of(storage_);
  AcquireSRWLockExclusive(&state.lock);
  state.flag = true;
  ReleaseSRWLockExclusive(&state.lock);
  WakeConditionVariable(&state.raised);
}

void Signal::Lower() noexcept {
  State& state = Of(storage_);
  AcquireSRWLockExclusive(&state.lock);
  state.flag = false;
  ReleaseSRWLockExclusive(&state.lock);
}

// One wait of `ms`: the tick count moves in steps of 10 to 16 ms, too coarse to wait out a
// deadline with; a rare early return reads as the time having passed.
bool Signal::Wait(std::uint32_t ms) noexcept {
  State& state = Of(storage_);
  AcquireSRWLockExclusive(&state.lock);
  if (!state.flag) SleepConditionVariableSRW(&state.raised, &state.lock, ms, 0);
  const bool raised = state.flag;
  state.flag = false;
  ReleaseSRWLockExclusive(&state.lock);
  return raised;
}

bool Signal::WaitUs(std::uint64_t us) noexcept {
  constexpr std::uint64_t kUsPerMs = 1000;
  constexpr std::uint64_t kLongestMs = INFINITE - 1;
  return Wait(static_cast<DWORD>((std::min)((us + kUsPerMs - 1) / kUsPerMs, kLongestMs)));
}

}  // namespace zavn::platform
