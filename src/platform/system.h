// The system seam: clock, sleep, the worker thread, locks and the OS version rule.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

namespace zavn::platform {

class HidPort;
using HidHandle = std::uintptr_t;

using ThreadHandle = void*;
using ThreadProc = std::uint32_t (*)(void* argument);

// Exit code of a thread that has not ended yet (the system's still-active code).
inline constexpr std::uint32_t kThreadStillActive = 259;

// A file path as the library handles them: at most this many bytes with the terminating NUL.
inline constexpr std::size_t kMaxPath = 260;

// The system's folder separator: a backslash on Windows, '/' elsewhere.
char PathSeparator();

// An identifier of the calling thread, never 0, unique among the threads that run at one time.
using ThreadId = std::uintptr_t;
ThreadId CurrentThreadId();

// Cuts an open file back to its first `size` bytes; false when it cannot.
bool TruncateFile(std::FILE* file, std::uint64_t size);

class System {
 public:
  virtual ~System() = default;

  // Milliseconds since some fixed point; 32 bits, wrapping.
  virtual std::uint32_t TickMs() = 0;
  // Microseconds since some fixed point, for timing finer than the tick. By default the tick's
  // milliseconds, as a clock that a test steps moves in whole milliseconds.
  virtual std::uint64_t TickUs() { return std::uint64_t{TickMs()} * 1000u; }
  virtual void SleepMs(std::uint32_t ms) = 0;
  // The largest input-buffer count the running OS's HID driver allows (0 where no rule applies).
  virtual std::uint32_t MaxInputBuffers() = 0;

  // Starts a thread running proc(argument) at once; null on failure.
  virtual ThreadHandle StartThread(ThreadProc proc, void* argument) = 0;
  // Raises the thread's priority one step above normal.
  virtual bool RaiseThreadPriority(ThreadHandle thread) = 0;
  // kThreadStillActive while the thread runs, else its exit code.
  virtual std::uint32_t ThreadExitCode(ThreadHandle thread) = 0;
  // Waits until the thread has ended, then releases the handle; the result is the release's.
  virtual bool JoinThread(ThreadHandle thread) = 0;

  // The full path of the host process's executable, NUL-terminated; false when it cannot be
  // learnt or does not fit.
  virtual bool ExecutablePath(char (&path)[kMaxPath]) = 0;

  // The poll thread's wait between two cycles: up to `ms` for input on the `count` handles of
  // `port` (none: just the time). Returns a bit set of the handles with input, bit k for
  // handles[k]; 0 once the time has passed. A port that cannot wait has the time slept.
  virtual std::uint32_t WaitForInput(HidPort* port, const HidHandle* handles, int count,
                                     std::uint32_t ms);
};

// The system in use: one installed by a test, else the OS backend.
System& ActiveSystem();
System& OsSystem();
void InstallSystem(System* system);

// A mutual-exclusion lock that needs no set-up beyond its constructor. The thread holding it may
// enter it again (a host callback run under a lock may call back into the library). Locks are
// members of library-lifetime state, so any thread may take one at any time.
class Lock {
 public:
  Lock() noexcept;
  ~Lock();
  Lock(const Lock&) = delete;
  Lock& operator=(const Lock&) = delete;

  void Enter() noexcept;
  void Leave() noexcept;

 private:
  alignas(16) unsigned char storage_[64];
};

// A flag one thread raises and another waits for, with a time limit; the wait lowers it again.
// Like Lock, it needs no set-up beyond its constructor and lives as long as its owner.
class Signal {
 public:
  Signal() noexcept;
  ~Signal();
  Signal(const Signal&) = delete;
  Signal& operator=(const Signal&) = delete;

  void Raise() noexcept;
  void Lower() noexcept;
  // Waits up to `ms` for the flag; true when it was raised (and lowers it), false at the time.
  bool Wait(std::uint32_t ms) noexcept;
  // The same in microseconds, as finely as the system waits (Windows: whole milliseconds).
  bool WaitUs(std::uint64_t us) noexcept;

 private:
  alignas(16) unsigned char storage_[160];
};

class LockGuard {
 public:
  explicit LockGuard(Lock& lock) noexcept : lock_(lock) { lock_.Enter(); }
  ~LockGuard() { lock_.Leave(); }
  LockGuard(const LockGuard&) = delete;
  LockGuard& operator=(const LockGuard&) = delete;

 private:
  Lock& lock_;
};

// Leaves a lock the caller holds once, for the length of a scope: around a call out of the
// library, or a wait, that must not hold it. Enters it again at the end of the scope.
class Unlocked {
 public:
  explicit Unlocked(Lock& lock) noexcept : lock_(lock) { lock_.Leave(); }
  ~Unlocked() { lock_.Enter(); }
  Unlocked(const Unlocked&) = delete;
  Unlocked& operator=(const Unlocked&) = delete;

 private:
  Lock& lock_;
};

}  // namespace zavn::platform
