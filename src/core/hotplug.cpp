#include "core/hotplug.h"

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
// before they can be) is tried again this often, at most kArrivalTries times in all.
constexpr std::uint32_t kRetryMs = 100;
constexpr int kArrivalTries = 10;
// Changes noted beyond this many before the thread takes them are one search for all.
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

struct Arrival {
  std::string path;  // empty: search everything
  int triesLeft = kArrivalTries;
};

// The changes the port reports, noted for the hotplug's thread. noteLock_ is a leaf: the port
// may call under its own lock, and nothing else is taken while it is held.
class Hotplug final : public platform::InterfaceListener {
 public:
  void Arrived(const char* path) override { Note(path, true); }
  void Removed(const char* path) override { Note(path, false); }

  bool Start() {
    LockGuard guard(switchLock_);
    if (thread_ != nullptr) return true;
    platform::HidPort& port = platform::ActiveHidPort();
    {
      LockGuard noted(noteLock_);
      stop_ = false;
      arrivals_.assign(1, Arrival{});  // what is present already
      removals_.clear();
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
  void Note(const char* path, bool arrived) {
    {
      LockGuard guard(noteLock_);
      const std::string noted = path != nullptr ? path : "";
      if (arrived) {
        if (arrivals_.size() < kMaxNoted)
          arrivals_.push_back({noted});
        else
          arrivals_.assign(1, Arrival{});
      } else if (removals_.size() < kMaxNoted) {
        removals_.push_back(noted);
      }
    }
    wake_.Raise();
  }

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
    std::vector<Arrival> retries;
    for (;;) {
      wake_.Wait(retries.empty() ? kIdleWaitMs : kRetryMs);
      std::vector<Arrival> arrivals;
      std::vector<std::string> removals;
      {
        LockGuard guard(noteLock_);
        if (stop_) return;
        arrivals.swap(arrivals_);
        removals.swap(removals_);
      }
      for (const std::string& path : removals) GiveUp(path);
      arrivals.insert(arrivals.end(), retries.begin(), retries.end());
      retries.clear();
      bool searched = false;
      for (Arrival& arrival : arrivals) {
        switch (Take(arrival, searched)) {
          case Taken::kDone:
            break;
          case Taken::kNotReady:
            if (--arrival.triesLeft > 0) retries.push_back(arrival);
            break;
          case Taken::kLater:
            retries.push_back(arrival);
            break;
        }
      }
    }
  }

  // What became of an arrival: nothing more to do; the interface is not ready yet (one try
  // used); or the connect must wait (no try used).
  enum class Taken { kDone, kNotReady, kLater };

  // Connects an arrival. One search serves every arrival that a change reported at once.
  Taken Take(const Arrival& arrival, bool& searched) {
    platform::HidPort& port = platform::ActiveHidPort();
    if (!arrival.path.empty()) {
      platform::HidIdentity identity;
      if (!port.Identify(arrival.path.c_str(), identity)) return Taken::kNotReady;
      if (!transport::IsRxCandidate(identity)) return Taken::kDone;  // not a receiver's
      if (Held(arrival.path) >= 0) return Taken::kDone;
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
    // Taken, or every slot that could take it is busy.
    const bool done = arrival.path.empty() || Held(arrival.path) >= 0 || !AnySlotFree();
    return done ? Taken::kDone : Taken::kNotReady;
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

  // The slot that held a removed interface gives it up at once.
  static void GiveUp(const std::string& path) {
    if (path.empty()) return;  // which one is not known: its next read tells
    LockGuard poll(Run().pollLock);
    const int slot = Held(path);
    if (slot >= 0) transport::DropLink(slot);
  }

  static constexpr std::uint32_t kIdleWaitMs = 1000;

  platform::Lock switchLock_;  // Start and Stop; the thread never takes it
  platform::Lock noteLock_;
  platform::Signal wake_;
  platform::ThreadHandle thread_ = nullptr;  // under switchLock_
  platform::HidPort* port_ = nullptr;        // under switchLock_
  bool stop_ = false;                        // under noteLock_
  std::vector<Arrival> arrivals_;            // under noteLock_
  std::vector<std::string> removals_;        // under noteLock_
};

platform::NeverDestroyed<Hotplug> g_hotplug;

}  // namespace

bool StartHotplug() {
  return g_hotplug->Start();
}

void StopHotplug() {
  g_hotplug->Stop();
}

}  // namespace zavn::core
