#include "transport/queued_writes.h"

#include <array>
#include <atomic>
#include <cstring>

#include "platform/never_destroyed.h"
#include "platform/system.h"
#include "transport/capture.h"
#include "transport/hid_device.h"

namespace zavn::transport {
namespace {

using platform::LockGuard;

// A second of the poll thread's writes at their busiest (an update's rows, the periodic
// report); a queue this full means the receiver no longer takes reports.
constexpr std::uint32_t kQueuedReports = 256;
constexpr std::uint32_t kIdleWaitMs = 1000;

thread_local bool t_queued = false;

struct Queued {
  int slot = 0;
  std::uint32_t takes = 0;  // the slot's interface when queued
  std::uint32_t length = 0;
  std::array<std::uint8_t, kMaxQueuedReportBytes> bytes{};
};

// Locks: switchLock_ is held while the thread starts or is joined (the thread never takes it);
// lock_ is a leaf, held while a report is put in or taken out, never across a write.
class Writer {
 public:
  bool Queue(int slot, const std::uint8_t* report, std::uint32_t length) {
    if (slot < 0 || slot >= kSlotCount || length > kMaxQueuedReportBytes) return false;
    Queued queued{slot, Slot(slot).Takes(), length};
    std::memcpy(queued.bytes.data(), report, length);
    bool start = false;
    {
      LockGuard guard(lock_);
      if (count_ == kQueuedReports) return false;
      ring_[(head_ + count_) % kQueuedReports] = queued;
      ++count_;
      ++queued_;
      start = !running_;
      running_ = true;
    }
    if (start && !StartThread()) return false;
    wake_.Raise();
    return true;
  }

  std::uint32_t QueuedSoFar() { return queued_; }
  bool Written(std::uint32_t queued) {
    return static_cast<std::int32_t>(written_ - queued) >= 0;  // the counts wrap
  }

  void AwaitEmpty() {
    while (Busy()) emptied_.Wait(kIdleWaitMs);
  }

  void Stop() {
    LockGuard guard(switchLock_);
    if (thread_ == nullptr) return;
    {
      LockGuard queue(lock_);
      stop_ = true;
    }
    wake_.Raise();
    platform::OsSystem().JoinThread(thread_);
    thread_ = nullptr;
    LockGuard queue(lock_);
    stop_ = false;
  }

 private:
  bool StartThread() {
    LockGuard guard(switchLock_);
    thread_ = platform::OsSystem().StartThread(Thread, this);
    if (thread_ != nullptr) return true;
    // Nothing will write what is queued: give it up.
    LockGuard queue(lock_);
    Discard();
    return false;
  }

  // Under lock_.
  void Discard() {
    written_ += count_;
    head_ = count_ = 0;
    running_ = false;
    emptied_.Raise();
  }

  bool Busy() {
    LockGuard guard(lock_);
    return count_ != 0 || writing_;
  }

  static std::uint32_t Thread(void* self) {
    static_cast<Writer*>(self)->Work();
    return 0;
  }

  void Work() {
    for (;;) {
      Queued next;
      bool took = false;
      {
        LockGuard guard(lock_);
        writing_ = took = count_ != 0;
        if (took) {
          next = ring_[head_];
          head_ = (head_ + 1) % kQueuedReports;
          --count_;
        } else {
          emptied_.Raise();
          // Ends only with nothing queued, so that what was queued before the stop goes out;
          // a report queued after it finds running_ false and starts a thread of its own.
          if (stop_) {
            running_ = false;
            return;
          }
        }
      }
      if (!took) {
        wake_.Wait(kIdleWaitMs);
        continue;
      }
      Write(next);
      ++written_;
    }
  }

  static void Write(const Queued& queued) {
    CHIDDevice& slot = Slot(queued.slot);
    // A slot that took another interface since does not get the old one's reports.
    if (slot.Takes() != queued.takes) return;
    if (slot.WriteOutputReport(queued.bytes.data(), queued.length).written) {
      CaptureOutput(queued.slot, queued.bytes.data(), queued.length);
    }
  }

  platform::Lock switchLock_;
  platform::Lock lock_;
  platform::Signal wake_;
  platform::Signal emptied_;
  platform::ThreadHandle thread_ = nullptr;  // under switchLock_
  std::array<Queued, kQueuedReports> ring_;  // under lock_
  std::uint32_t head_ = 0, count_ = 0;       // under lock_
  bool running_ = false;                     // under lock_: a thread runs or is starting
  bool stop_ = false;                        // under lock_
  bool writing_ = false;                     // under lock_: a report taken out is being written
  std::atomic<std::uint32_t> queued_{0};     // reports queued so far
  std::atomic<std::uint32_t> written_{0};    // of them, written or given up
};

platform::NeverDestroyed<Writer> g_writer;

}  // namespace

void QueueWritesOfThisThread() {
  t_queued = true;
}

bool WritesAreQueuedOnThisThread() {
  return t_queued;
}

bool QueueOutputReport(int slot, const std::uint8_t* report, std::uint32_t length) {
  return g_writer->Queue(slot, report, length);
}

std::uint32_t ReportsQueued() {
  return g_writer->QueuedSoFar();
}

bool ReportsWritten(std::uint32_t queued) {
  return g_writer->Written(queued);
}

void AwaitQueuedWrites() {
  g_writer->AwaitEmpty();
}

void StopQueuedWrites() {
  g_writer->Stop();
}

}  // namespace zavn::transport
