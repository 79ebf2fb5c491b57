// The host's start-up and shut-down calls.
#include <utility>

#include "core/connect.h"
#include "core/hotplug.h"
#include "core/lifecycle_call.h"
#include "core/player_assignment.h"
#include "core/poll_thread.h"
#include "core/run_state.h"
#include "core/status_reset.h"
#include "games/game_dispatch.h"
#include "input/motion.h"
#include "input/slot_report_mode.h"
#include "transport/capture.h"
#include "transport/hid_device.h"
#include "transport/link_table.h"
#include "transport/queued_writes.h"
#include "zavn/zavn.h"

namespace zavn::core {
using transport::kSlotCount;
using transport::Links;
using transport::Slot;
}  // namespace zavn::core

using namespace zavn::core;

extern "C" {

ZAVN_API void* ZAVN_CALL ZAVNInit(void) {
  zavn::transport::StartCaptureFromEnvironment();
  zavn::input::LoadMotionProfileFromEnvironment();
  zavn::platform::NotifyHandle handle = zavn::platform::RegisterHidNotifications();
  // A second registration replaces the first rather than leaking it.
  if (zavn::platform::NotifyHandle previous = Run().deviceNotifyHandle.exchange(handle)) {
    zavn::platform::UnregisterHidNotifications(previous);
  }
  return handle;
}

ZAVN_API int32_t ZAVN_CALL ZAVNReset(void) {
  RunState& run = Run();
  StopHotplug();
  LifecycleCall call(LifecycleCall::kCycleEnds);
  // The thread leaves first, so that no cycle writes into freshly reset state. Called from the
  // poll thread itself, the rest of its cycle is left out instead.
  StopPollThread();
  // What the thread queued goes out before the slots close.
  zavn::transport::StopQueuedWrites();
  for (int i = 0; i < kSlotCount; ++i) {
    if (Slot(i).IsOpen()) Slot(i).Close();
  }
  if (ResetLibraryState() != 1) return LINK_NOT_RESET;
  run.resetState = LINK_RESET_DONE;
  return LINK_RESET_DONE;
}

ZAVN_API void ZAVN_CALL ZAVNConnectRx(void) {
  zavn::transport::StartCaptureFromEnvironment();
  LifecycleCall call(LifecycleCall::kCycleGoesOn);
  ConnectSlots(false);
}

ZAVN_API int32_t ZAVN_CALL ZAVNSwitchHotplug(int32_t on) {
  if (on == 0) {
    StopHotplug();
    return 0;
  }
  return StartHotplug() ? 1 : 0;
}

ZAVN_API int32_t ZAVN_CALL ZAVNRoutineFunc(void) {
  RunState& run = Run();
  run.threadRunFlag = 1;
  run.loopRunFlag = 1;
  for (auto& enabled : Links().pollEnabled) enabled = 1;
  return 1;
}

ZAVN_API void ZAVN_CALL ZAVNDisconnectRx(int32_t playerIndex) {
  if (playerIndex < 1 || playerIndex > kSlotCount) return;
  // The poll thread finds the slot closed at its next read and drops its link state.
  if (Slot(playerIndex - 1).IsOpen()) Slot(playerIndex - 1).Close();
  zavn::input::SlotReportMode(playerIndex - 1) = zavn::input::kShortReportMode;
}

ZAVN_API int32_t ZAVN_CALL ZAVNTerminate(int32_t run) {
  RunState& state = Run();
  bool threadRan = false;
  StopHotplug();
  {
    LifecycleCall call(LifecycleCall::kCycleEnds);
    if (zavn::platform::NotifyHandle handle = state.deviceNotifyHandle.exchange(nullptr)) {
      zavn::platform::UnregisterHidNotifications(handle);
    }
    for (auto& enabled : Links().pollEnabled) enabled = 0;
    state.threadRunFlag = run;
    // The thread ends whatever value the host passed, so this never waits for ever.
    StopPollThread();
    zavn::transport::StopQueuedWrites();
    // A thread a reset has already released counts as this call's.
    threadRan = std::exchange(state.threadStartedSinceTerminate, false);
  }
  // With the thread stopped no dispatch calls the plug-in any more; its goodbye runs with no
  // lock held, as any call out of the library.
  zavn::games::ReleaseGamePlugin(Players().playerSlot);
  // After the thread's last read, so that the file holds it.
  zavn::transport::StopCapture();
  return threadRan ? 1 : 0;
}

}  // extern "C"
