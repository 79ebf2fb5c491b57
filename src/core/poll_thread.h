// The poll thread: every 10 ms it reads each enabled slot, keeps the link states and assigns
// the players. It ends by itself once no slot is connected.
#pragma once

#include <cstdint>

namespace zavn::core {

inline constexpr std::uint32_t kPollPeriodMs = 10;

// One pass over the four slots.
void PollPass();
// One cycle's work: a pass per enabled slot, the link states, the end test.
void PollCycle();

// Starts the thread unless one is running and will go on (it only decides to end under the
// poll lock, which the caller holds). Caller holds lifecycleLock and pollLock.
void StartPollThreadUnlessRunning();
// Makes a running thread end, whatever the run flags say, and waits for it. Returns whether a
// thread handle was released. Caller holds lifecycleLock, not pollLock.
bool StopPollThread();

}  // namespace zavn::core
