// The poll thread: every 10 ms it reads each enabled slot, keeps the link states and assigns
// the players. It ends by itself once no slot is connected.
//
// What runs when. A cycle starts every kPollPeriodMs (or at once when the one before ran late):
// it reads and decodes every enabled slot, and only it keeps the link states and the time-out
// grace, counts the reads for the player assignment, sends the periodic report and runs the
// update machines. Between two cycles the thread waits on the polled slots' handles, through
// System::WaitForInput (the port's own wait where it has one, else a sleep): a slot whose
// reports arrive is read and decoded at once, under the poll lock, with nothing else of the
// cycle. Its reports count for the next cycle's read, so a slot heard from only between cycles
// is neither silent nor timed out, and the assignment still counts cycles, not wake-ups. A
// lifecycle call or a stop during the wait ends it; the next cycle decides whether to go on.
#pragma once

#include <cstdint>

namespace zavn::core {

inline constexpr std::uint32_t kPollPeriodMs = 10;

// One cycle's work: a pass per enabled slot, the link states, the end test, the update
// machines. The caller holds the poll lock once; it is let go around each decode. Returns false
// when a host's connect, reset or terminate came in meanwhile: the rest of the cycle is left out.
bool PollCycle();

// Whether the calling thread is the poll thread (a host callback or plug-in running on it).
bool OnPollThread();

// Starts the thread unless one is running and will go on (it only decides to end under the
// poll lock, which the caller holds). Caller holds lifecycleLock and pollLock.
void StartPollThreadUnlessRunning();
// Makes a running thread end, whatever the run flags say. On a host thread it waits until the
// thread has ended and releases it; returns whether a handle was released. On the poll thread
// itself it only asks: the thread ends after its current cycle and a later host call joins it.
// Caller holds lifecycleLock once, and no other lock.
bool StopPollThread();
// Waits while another host thread is stopping the poll thread, so that no lifecycle call sees
// it half stopped. Caller holds lifecycleLock once, and no other lock; not on the poll thread.
void AwaitThreadStops();

}  // namespace zavn::core
