// The run flags of the library, the poll thread's control and the library's locks.
//
// Lock order. A thread may take a lock while holding only locks above it in this list:
//   0. the hotplug's switch lock (core)  ZAVNSwitchHotplug, ZAVNReset, ZAVNTerminate, while they
//      start or stop the hotplug's thread (and wait for it, which never takes this lock)
//   1. lifecycleLock  (core)       ZAVNConnectRx, ZAVNReset, ZAVNTerminate, the hotplug's
//                                  connects; held through a connect's search and opens
//   2. joinLock       (core)       held by the one host thread that waits for the poll thread;
//                                  the hotplug's thread never waits for it (it may itself be
//                                  waited for, by a callback on the poll thread)
//   3. pollLock       (core)       the poll thread's cycle; a connect only while it puts the
//                                  handles it opened into the slots, and the hotplug while it
//                                  gives up a removed interface's slot
//      the queued writes' switch lock (transport)  ZAVNReset and ZAVNTerminate while they wait
//                                  for the writer's thread, the poll thread while it starts one
//   4. StatusLock     (input)      one decoded record; one snapshot; the reset of the records
//   5. the plug-in's lock (games)  the loaded plug-in's fields
//   6. a slot's lock  (transport)  a slot's fields, briefly: never across a call into a backend
//   7. the HID backends' own locks (platform)
//   8. the hotplug's note lock (core)  a leaf: the backends report arrivals under their own locks
//   9. the capture's switch lock (transport)  ZAVNStartCapture, ZAVNStopCapture, ZAVNTerminate
//      (after the others are let go of), while they open or close the file and start or wait
//      for the capture's writer thread, which never takes it
//  10. the capture's ring lock (transport)  a leaf: a report copied in or a batch copied out,
//      never across file I/O
//  11. the queued writes' queue lock (transport)  a leaf: a report put in or taken out, never
//      across a write
// No lock is held across a call out of the library (raw-data callback, plug-in, a plug-in's
// loading and unloading): the decoder lets go of the status lock and the poll thread of the poll
// lock around them, and ZAVNTerminate releases the plug-in after leaving the lifecycle lock. So
// every exported function starts with no lock held, whichever thread calls it.
// Nothing slow runs under the poll lock: a connect searches, opens and reads an interface's
// capabilities before it takes the lock, and a read or write of a slot holds no lock while the
// backend works, so a slow write on one slot holds up no other slot's reads.
// Nothing waits for the poll thread while holding a lock the poll thread may take: a host call
// that stops it leaves the lifecycle lock while it waits (holding only joinLock, which the poll
// thread never takes), and a stop asked for on the poll thread itself does not wait at all.
#pragma once

#include <atomic>
#include <cstdint>

#include "platform/device_notify.h"
#include "platform/system.h"

namespace zavn::core {

struct RunState {
  std::atomic<std::int32_t> threadRunFlag{1};  // the poll thread keeps running while 1
  std::atomic<std::int32_t> loopRunFlag{0};    // a cycle runs only while 1
  std::atomic<std::int32_t> resetState{4};     // LINK_RESET_DONE once ZAVNReset has run
  // kThreadStillActive from the thread's start until it has decided to end, then 0.
  std::atomic<std::uint32_t> threadExitCode{0};
  // Set by ZAVNTerminate and ZAVNReset: the thread ends at its next cycle whatever the flags.
  std::atomic<std::int32_t> stopRequested{0};
  // Moves on with every ZAVNConnectRx, ZAVNReset and ZAVNTerminate. A cycle that let go of the
  // poll lock for a decode ends there when it has moved: the links it read are out of date.
  std::atomic<std::uint32_t> lifecycleEpoch{0};
  // The running poll thread's identifier, from its start until it decides to end; else 0.
  std::atomic<platform::ThreadId> pollThreadId{0};
  // Host threads waiting for the poll thread to end (they hold joinLock meanwhile).
  std::atomic<std::int32_t> joinsUnderWay{0};
  std::atomic<platform::NotifyHandle> deviceNotifyHandle{nullptr};

  // Under lifecycleLock: the thread started last, until a host thread has joined it, and
  // whether a thread was started since the last ZAVNTerminate.
  platform::ThreadHandle pollThreadHandle = nullptr;
  bool threadStartedSinceTerminate = false;

  platform::Lock lifecycleLock;
  platform::Lock joinLock;
  platform::Lock pollLock;
};

RunState& Run();

// ThreadRunFlag 1, LoopRunFlag 0, ResetState LINK_NOT_RESET.
void ResetRunFlags();

}  // namespace zavn::core
