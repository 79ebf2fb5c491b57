// The run flags of the library and the poll thread's control.
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
  std::atomic<platform::NotifyHandle> deviceNotifyHandle{nullptr};

  platform::ThreadHandle pollThreadHandle = nullptr;  // under lifecycleLock
  // Held by the poll thread around each cycle's work, and by ZAVNConnectRx while it fills the
  // slots, so that the thread's decision to end and a connect never interleave.
  platform::Lock pollLock;
  // Serialises ZAVNConnectRx, ZAVNReset and ZAVNTerminate; taken before pollLock.
  platform::Lock lifecycleLock;
};

RunState& Run();

// ThreadRunFlag 1, LoopRunFlag 0, ResetState LINK_NOT_RESET.
void ResetRunFlags();

}  // namespace zavn::core
