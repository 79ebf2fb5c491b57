// The lifecycle lock as ZAVNConnectRx, ZAVNReset and ZAVNTerminate hold it. (The hotplug's
// thread takes it on its own terms: it never waits for a stop under way.)
#pragma once

#include "core/poll_thread.h"
#include "core/run_state.h"

namespace zavn::core {

// A host thread first waits for any poll thread that another call is stopping. A call that
// resets or stops moves the lifecycle epoch on: a poll cycle that let go of its lock meanwhile
// does not go on with what it read. A connect leaves the cycle under way alone: a slot it fills
// is read from its new handle at the next read.
class LifecycleCall {
 public:
  enum Effect { kCycleGoesOn, kCycleEnds };
  explicit LifecycleCall(Effect effect) : guard_(Run().lifecycleLock) {
    if (!OnPollThread()) AwaitThreadStops();
    if (effect == kCycleEnds) ++Run().lifecycleEpoch;
  }

 private:
  platform::LockGuard guard_;
};

}  // namespace zavn::core
