// Signal on POSIX: a flag under a mutex, with a condition variable on the monotonic clock. Like
// Lock, never destroyed.
#include <pthread.h>
#include <time.h>

#include <new>

#include "platform/system.h"

namespace zavn::platform {
namespace {

struct State {
  pthread_mutex_t mutex;
  pthread_cond_t raised;
  bool flag;
};
static_assert(sizeof(State) <= 160 && alignof(State) <= 16);

State& Of(unsigned char* storage) {
  return *std::launder(reinterpret_cast<State*>(storage));
}

constexpr long kNsPerMs = 1000000L;
constexpr long kNsPerSecond = 1000000000L;

}  // namespace

Signal::Signal() noexcept {
  State* state = new (storage_) State;
  pthread_mutex_init(&state->mutex, nullptr);
  pthread_condattr_t attributes;
  pthread_condattr_init(&attributes);
  pthread_condattr_setclock(&attributes, CLOCK_MONOTONIC);
  pthread_cond_init(&state->raised, &attributes);
  pthread_condattr_destroy(&attributes);
  state->flag = false;
}
Signal::~Signal() = default;

void Signal::Raise() noexcept {
  State& state = Of(storage_);
  pthread_mutex_lock(&state.mutex);
  state.flag = true;
  pthread_cond_signal(&state.raised);
  pthread_mutex_unlock(&state.mutex);
}

void Signal::Lower() noexcept {
  State& state = Of(storage_);
  pthread_mutex_lock(&state.mutex);
  state.flag = false;
  pthread_mutex_unlock(&state.mutex);
}

bool Signal::Wait(std::uint32_t ms) noexcept {
  State& state = Of(storage_);
  timespec deadline{};
  clock_gettime(CLOCK_MONOTONIC, &deadline);
  deadline.tv_sec += static_cast<time_t>(ms / 1000u);
  deadline.tv_nsec += static_cast<long>(ms % 1000u) * kNsPerMs;
  if (deadline.tv_nsec >= kNsPerSecond) {
    ++deadline.tv_sec;
    deadline.tv_nsec -= kNsPerSecond;
  }
  pthread_mutex_lock(&state.mutex);
  while (!state.flag) {
    if (pthread_cond_timedwait(&state.raised, &state.mutex, &deadline) != 0) break;
  }
  const bool raised = state.flag;
  state.flag = false;
  pthread_mutex_unlock(&state.mutex);
  return raised;
}

}  // namespace zavn::platform
