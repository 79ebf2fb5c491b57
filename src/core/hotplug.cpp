#include "core/hotplug.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <string>
#include <vector>

#include "core/connect.h"
#include "core/run_state.h"
#include "platform/hid_port.h"
#include "platform/never_destroyed.h"
#include "platform/system.h"
#include "transport/discovery.h"
#include "transport/hid_device.h"
#include "transport/link_table.h"

namespace zavn::core {
namespace {

using platform::LockGuard;

// An arrival whose interface cannot be identified or opened yet (the system reports some
// before they can be) is tried again kRetryMs later, kArrivalTries times, then every
// kSlowRetryMs until it is taken or removed. A link lost while its interface stayed (its reads
// failed) is tried every kSlowRetryMs, so that a receiver that fails again at once is not
// opened over and over.
constexpr std::uint32_t kRetryMs = 100;
constexpr int kArrivalTries = 10;
constexpr std::uint32_t kSlowRetryMs = 1000;
// Interfaces noted or waiting beyond this many are one search for all.
constexpr std::size_t kMaxNoted = 64;

bool SamePath(const char* a, const char* b) {
  // Windows reports an interface's path in another case than its listing gives it.
  for (; *a != '\0' && *b != '\0'; ++a, ++b) {
    if (std::tolower(static_cast<unsigned char>(*a)) !=
        std::tolower(static_cast<unsigned char>(*b))) {
      return false;
    }
  }
  return *a == *b;
}

// An interface the hotplug is to take.
struct Waiting {
  std::string path;   // empty: search everything
  bool lost = false;  // a link whose reads failed: once its interface is gone, nothing to take
  int quickTries = kArrivalTries;
  std::uint32_t due = 0;  // the tick of its next try
  bool forSlot = false;   // a receiver's that found every slot busy: tried again when one frees
};

// What the port and the poll thread report, for the hotplug's thread.
struct Noted {
  std::vector<Waiting> arrivals;
  std::vector<std::string> removals;
  bool slotFreed = false;
};

void Add(std::vector<Waiting>& list, Waiting waiting) {
  for (Waiting& w : list) {
    if (w.path == waiting.path) {
      if (!waiting.lost) w = std::move(waiting);  // an arrival starts over
      return;
    }
  }
  if (list.size() < kMaxNoted)
    list.push_back(std::move(waiting));
  else
    list.assign(1, Waiting{});
}

bool Due(const Waiting& w, std::uint32_t now) {
  return static_cast<std::int32_t>(w.due - now) <= 0;  // the tick wraps
}

// The changes the port reports and the links the poll thread drops, noted for the hotplug's
// thread. noteLock_ is a leaf: the port may call under its own lock and the poll thread under
// the poll lock, and nothing else is taken while it is held.
class Hotplug final : public platform::InterfaceListener {
 public:
  void Arrived(const char* path) override {
    {
      LockGuard guard(noteLock_);
      Add(noted_.arrivals, {path != nullptr ? path : ""});
    }
    wake_.Raise();
  }
  void Removed(const char* path) override {
    {
      LockGuard guard(noteLock_);
      if (noted_.removals.size() < kMaxNoted)
        noted_.removals.emplace_back(path != nullptr ? path : "");
    }
    wake_.Raise();
  }
  void LinkDropped(const char* path, bool readFailed) {
    {
      LockGuard guard(noteLock_);
      noted_.slotFreed = true;
      if (readFailed && path[0] != '\0') Add(noted_.arrivals, {path, true, 0});
    }
    wake_.Raise();
  }

  bool Start() {
    LockGuard guard(switchLock_);
    if (thread_ != nullptr) return true;
    platform::HidPort& port = platform::ActiveHidPort();
    {
      LockGuard noted(noteLock_);
      stop_ = false;
      noted_ = Noted{};
      noted_.arrivals.assign(1, Waiting{});  // what is present already
    }
    thread_ = platform::OsSystem().StartThread(Thread, this);
    if (thread_ == nullptr) return false;
    if (!port.WatchInterfaces(this)) {
      StopThread();
      return false;
    }
    port_ = &port;
    wake_.Raise();
    return true;
  }

  void Stop() {
    LockGuard guard(switchLock_);
    if (thread_ == nullptr) return;
    port_->WatchInterfaces(nullptr);
    port_ = nullptr;
    StopThread();
  }

 private:
  void StopThread() {
    {
      LockGuard noted(noteLock_);
      stop_ = true;
    }
    wake_.Raise();
    platform::OsSystem().JoinThread(thread_);
    thread_ = nullptr;
  }

  static std::uint32_t Thread(void* self) {
    static_cast<Hotplug*>(self)->Work();
    return 0;
  }

  void Work() {
    platform::System& clock = platform::OsSystem();
    std::vector<Waiting> waiting;
    for (;;) {
      wake_.Wait(WaitMs(waiting, clock.TickMs()));
      Noted noted;
      {
        LockGuard guard(noteLock_);
        if (stop_) return;
        std::swap(noted, noted_);
      }
      const std::uint32_t now = clock.TickMs();
      for (Waiting& arrival : noted.arrivals) {
        // A lost link waits a while; an arrival is tried at once.
        arrival.due = arrival.lost ? now + kSlowRetryMs : now;
        Add(waiting, std::move(arrival));
      }
      bool freed = noted.slotFreed;
      for (const std::string& path : noted.removals) {
        freed |= GiveUp(path);
        std::erase_if(waiting,
                      [&](const Waiting& w) { return SamePath(w.path.c_str(), path.c_str()); });
      }
      if (freed) {
        for (Waiting& w : waiting) {
          if (w.forSlot) w.due = now;
        }
      }
      TakeDue(waiting, now);
    }
  }

  static std::uint32_t WaitMs(const std::vector<Waiting>& waiting, std::uint32_t now) {
    std::uint32_t ms = kIdleWaitMs;
    for (const Waiting& w : waiting) {
      ms = Due(w, now) ? 0 : std::min(ms, w.due - now);
    }
    return ms;
  }

  // Tries what is due; one search serves them all.
  void TakeDue(std::vector<Waiting>& waiting, std::uint32_t now) {
    bool searched = false;
    for (auto w = waiting.begin(); w != waiting.end();) {
      if (!Due(*w, now)) {
        ++w;
        continue;
      }
      const Taken taken = Take(*w, searched);
      if (taken == Taken::kDone) {
        w = waiting.erase(w);
        continue;
      }
      w->forSlot = taken == Taken::kNoSlot;
      const bool quick = taken == Taken::kLater || w->quickTries > 1;
      if (w->quickTries > 0) --w->quickTries;
      w->due = now + (quick ? kRetryMs : kSlowRetryMs);
      ++w;
    }
  }

  // What became of a try: nothing more to do; the interface is not ready (or its open failed);
  // every slot that could take it is busy; or the connect must wait.
  enum class Taken { kDone, kNotReady, kNoSlot, kLater };

  Taken Take(const Waiting& w, bool& searched) {
    platform::HidPort& port = platform::ActiveHidPort();
    if (!w.path.empty()) {
      platform::HidIdentity identity;
      if (!port.Identify(w.path.c_str(), identity)) {
        // Not ready yet; a lost link's interface has gone.
        return w.lost ? Taken::kDone : Taken::kNotReady;
      }
      if (!transport::IsRxCandidate(identity)) return Taken::kDone;  // not a receiver's
      if (Held(w.path) >= 0) return Taken::kDone;
      if (!AnySlotFree()) return Taken::kNoSlot;
    }
    if (!searched) {
      LockGuard lifecycle(Run().lifecycleLock);
      // This thread never waits for a poll thread that a host thread is stopping, as host
      // threads do: the poll thread may be waiting for this one (a callback switching the
      // hotplug off), and the stop for the poll thread. The connect comes at the next try.
      if (Run().joinsUnderWay != 0) return Taken::kLater;
      if (Run().resetState != LINK_RESET_DONE) return Taken::kDone;
      ConnectSlots(true);
      searched = true;
    }
    if (w.path.empty() || Held(w.path) >= 0) return Taken::kDone;
    return AnySlotFree() ? Taken::kNotReady : Taken::kNoSlot;
  }

  static int Held(const std::string& path) {
    for (int i = 0; i < transport::kSlotCount; ++i) {
      char held[platform::kDevicePathSize];
      transport::Slot(i).DevicePath(held);
      if (held[0] != '\0' && SamePath(held, path.c_str())) return i;
    }
    return -1;
  }

  static bool AnySlotFree() {
    for (int i = 0; i < transport::kSlotCount; ++i) {
      if (transport::Links().openState[i] != LINK_OK) return true;
    }
    return false;
  }

  // The slot that held a removed interface gives it up at once; whether one did.
  static bool GiveUp(const std::string& path) {
    if (path.empty()) return false;  // which one is not known: its next read tells
    LockGuard poll(Run().pollLock);
    const int slot = Held(path);
    if (slot >= 0) transport::DropLink(slot);
    return slot >= 0;
  }

  static constexpr std::uint32_t kIdleWaitMs = 1000;

  platform::Lock switchLock_;  // Start and Stop; the thread never takes it
  platform::Lock noteLock_;
  platform::Signal wake_;
  platform::ThreadHandle thread_ = nullptr;  // under switchLock_
  platform::HidPort* port_ = nullptr;        // under switchLock_
  bool stop_ = false;                        // under noteLock_
  Noted noted_;                              // under noteLock_
};

platform::NeverDestroyed<Hotplug> g_hotplug;

}  // namespace

bool StartHotplug() {
  return g_hotplug->Start();
}

void StopHotplug() {
  g_hotplug->Stop();
}

void NoteLinkDropped(const char* path, bool readFailed) {
  g_hotplug->LinkDropped(path, readFailed);
}

}  // namespace zavn::core
