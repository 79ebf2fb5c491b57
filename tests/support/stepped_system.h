// A System for tests: a clock the test sets, and a poll thread that runs one cycle per Step().
//
// The thread's first cycle runs as soon as it starts; after that, each SleepMs parks it until
// the test releases it. Joining the thread releases it for good, so a library call that stops
// the thread never waits on the test.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstring>
#include <mutex>
#include <optional>
#include <string>
#include <utility>

#include "platform/hid_port.h"
#include "platform/system.h"
#include "transport/queued_writes.h"

namespace zavn::testing {

class SteppedSystem final : public platform::System {
 public:
  void SetNow(std::uint32_t ms) { now_ = ms; }
  void Advance(std::uint32_t ms) { now_ += ms; }
  // From now on every sleep moves the clock on by its length, as real time would pass.
  void AdvanceClockOnSleep() { advanceOnSleep_ = true; }

  // Let the parked thread run one more cycle, as its time (Step) or woken by the reports that
  // have arrived (StepWakeUp), and wait until it has parked again; false once it has ended.
  bool Step() { return Written(Release(false)); }
  bool StepWakeUp() { return Written(Release(true)); }

  // Waits until the thread is parked, has ended or never started: its cycle's writes are done.
  bool WaitUntilParked() {
    std::unique_lock lock(mutex_);
    const bool parked = WaitFor(lock, [&] { return ended_ || sleeps_ > released_; });
    lock.unlock();
    return Written(parked);
  }

  bool WaitUntilEnded() {
    std::unique_lock lock(mutex_);
    return WaitFor(lock, [&] { return ended_; });
  }

  // From now on the thread runs cycle after cycle without parking, for tests of races.
  void RunFreely() {
    std::lock_guard lock(mutex_);
    alwaysFree_ = true;
    freeRun_ = true;
    changed_.notify_all();
  }
  // Undoes RunFreely while no thread runs: the next thread parks in its sleeps again.
  void StepFromNowOn() {
    std::lock_guard lock(mutex_);
    alwaysFree_ = false;
    freeRun_ = false;
    released_ = sleeps_;
  }
  std::uint64_t Cycles() {
    std::lock_guard lock(mutex_);
    return sleeps_;
  }

  bool ThreadEnded() {
    std::lock_guard lock(mutex_);
    return ended_;
  }
  int ThreadsStarted() {
    std::lock_guard lock(mutex_);
    return threadsStarted_;
  }

  std::uint32_t TickMs() override { return now_; }
  void SleepMs(std::uint32_t ms) override { Park(ms); }

  // A wait between cycles is a sleep, which StepWakeUp ends as a wake-up by arrived reports.
  std::uint32_t WaitForInput(platform::HidPort* port, const platform::HidHandle* handles, int count,
                             std::uint32_t ms) override {
    if (!Park(ms) || port == nullptr || !port->CanWaitForInput()) return 0;
    return port->WaitForInput(handles, count, 0);
  }

  std::uint32_t MaxInputBuffers() override { return 0; }

  platform::ThreadHandle StartThread(platform::ThreadProc proc, void* argument) override {
    {
      std::lock_guard lock(mutex_);
      proc_ = proc;
      argument_ = argument;
      ended_ = false;
      freeRun_ = alwaysFree_;
      released_ = sleeps_;
      ++threadsStarted_;
    }
    return platform::OsSystem().StartThread(&SteppedSystem::Run, this);
  }

  bool RaiseThreadPriority(platform::ThreadHandle thread) override {
    return platform::OsSystem().RaiseThreadPriority(thread);
  }
  std::uint32_t ThreadExitCode(platform::ThreadHandle thread) override {
    return platform::OsSystem().ThreadExitCode(thread);
  }
  // The test executable's own path unless a test gives another ("" for an unknown path).
  void SetExecutablePath(std::string path) {
    std::lock_guard lock(mutex_);
    executablePath_ = std::move(path);
  }
  bool ExecutablePath(char (&path)[platform::kMaxPath]) override {
    std::lock_guard lock(mutex_);
    if (!executablePath_) return platform::OsSystem().ExecutablePath(path);
    if (executablePath_->empty() || executablePath_->size() >= platform::kMaxPath) return false;
    std::memcpy(path, executablePath_->c_str(), executablePath_->size() + 1);
    return true;
  }
  bool JoinThread(platform::ThreadHandle thread) override {
    {
      std::lock_guard lock(mutex_);
      freeRun_ = true;
      changed_.notify_all();
    }
    return platform::OsSystem().JoinThread(thread);
  }

 private:
  // The cycle's reports go out on the library's writer thread: waits until it has written them.
  static bool Written(bool result) {
    transport::AwaitQueuedWrites();
    return result;
  }

  bool Release(bool wakeUp) {
    std::unique_lock lock(mutex_);
    if (!WaitFor(lock, [&] { return ended_ || sleeps_ > released_; }) || ended_) return false;
    wakeUp_ = wakeUp;
    released_ = sleeps_;
    changed_.notify_all();
    const std::uint64_t target = sleeps_ + 1;
    WaitFor(lock, [&] { return ended_ || sleeps_ >= target; });
    return !ended_;
  }

  // One sleep; true when the test released it as a wake-up.
  bool Park(std::uint32_t ms) {
    std::unique_lock lock(mutex_);
    if (advanceOnSleep_) now_ += ms;
    ++sleeps_;
    if (freeRun_) return false;
    changed_.notify_all();
    changed_.wait(lock, [&] { return freeRun_ || released_ >= sleeps_; });
    return std::exchange(wakeUp_, false);
  }

  static std::uint32_t Run(void* context) {
    auto& self = *static_cast<SteppedSystem*>(context);
    platform::ThreadProc proc;
    void* argument;
    {
      std::lock_guard lock(self.mutex_);
      proc = self.proc_;
      argument = self.argument_;
    }
    const std::uint32_t code = proc(argument);
    std::lock_guard lock(self.mutex_);
    self.ended_ = true;
    self.changed_.notify_all();
    return code;
  }

  // A broken library must fail the test, not hang it.
  template <typename Predicate>
  bool WaitFor(std::unique_lock<std::mutex>& lock, Predicate done) {
    return changed_.wait_for(lock, std::chrono::seconds(10), done);
  }

  std::atomic<std::uint32_t> now_{0};
  std::atomic<bool> advanceOnSleep_{false};
  std::optional<std::string> executablePath_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::uint64_t sleeps_ = 0;    // SleepMs calls so far
  std::uint64_t released_ = 0;  // sleeps the test has let end
  bool freeRun_ = true;
  bool wakeUp_ = false;  // the released sleep was a wake-up
  bool alwaysFree_ = false;
  bool ended_ = true;
  int threadsStarted_ = 0;
  platform::ThreadProc proc_ = nullptr;
  void* argument_ = nullptr;
};

}  // namespace zavn::testing
