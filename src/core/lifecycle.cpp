// The host's start-up and shut-down calls.
#include <algorithm>
#include <array>
#include <utility>

#include "core/player_assignment.h"
#include "core/poll_thread.h"
#include "core/run_state.h"
#include "core/status_reset.h"
#include "games/game_dispatch.h"
#include "input/slot_report_mode.h"
#include "transport/discovery.h"
#include "transport/hid_device.h"
#include "transport/link_table.h"
#include "zavn/zavn.h"

namespace zavn::core {

using transport::AnySlotConnected;
using transport::Links;
using transport::LinkTable;

namespace {

using platform::LockGuard;
using transport::kSlotCount;
using transport::Slot;

bool AllBelowConnected(int slot) {
  const LinkTable& links = Links();
  for (int lower = 0; lower < slot; ++lower) {
    if (links.openState[lower] != LINK_OK) return false;
  }
  return true;
}

// Fills the slots; returns the per-slot results that RxStatus shows.
std::array<std::int32_t, kSlotCount> FillSlots() {
  LinkTable& links = Links();
  RunState& run = Run();
  std::array<std::int32_t, kSlotCount> result;
  for (int i = 0; i < kSlotCount; ++i) result[i] = links.rxStatus[i];

  if (!AnySlotConnected()) {
    run.threadRunFlag = 0;
    run.loopRunFlag = 0;
  }
  if (run.resetState != LINK_RESET_DONE) {
    result.fill(LINK_NOT_RESET);
    return result;
  }

  const bool allConnected = std::all_of(std::begin(links.openState), std::end(links.openState),
                                        [](const auto& state) { return state == LINK_OK; });
  const int candidates = allConnected ? 0 : transport::CountRxCandidates();

  // All slots closed: slot i takes the i-th candidate; the slots hold the first four.
  if (!AnySlotConnected()) {
    for (int i = std::min(candidates, kSlotCount) - 1; i >= 0; --i) {
      Slot(i).Close();
      const ZAVNLinkState r = transport::OpenRxByIndex(i, i);
      result[i] = r;
      char path[platform::kDevicePathSize];
      Slot(i).DevicePath(path);
      links.knownPaths[i] = transport::PathKeyOf(path);
      links.openState[i] = r;
    }
  }

  if (links.openState[0] != LINK_OK) {
    Slot(0).Close();
    result[0] = links.openState[0] = transport::OpenRxByPath(links.knownPaths, 0);
  }

  // Slots 1 to 3 one at a time, each only while every lower slot is connected. A slot that
  // still holds a handle is left alone.
  for (int j = 1; j < kSlotCount; ++j) {
    if (links.openState[j] == LINK_OK || !AllBelowConnected(j) ||
        Slot(j).Handle() != platform::kInvalidHidHandle) {
      continue;
    }
    if (Slot(j).MarkedOpen()) Slot(j).Init();
    links.knownPaths[j] = {};
    result[j] = links.openState[j] = transport::OpenRxByPath(links.knownPaths, j);
  }
  return result;
}

// The lifecycle lock as ZAVNConnectRx, ZAVNReset and ZAVNTerminate hold it. A host thread first
// waits for any poll thread that another call is stopping. Entering moves the lifecycle epoch
// on: a poll cycle that let go of its lock meanwhile does not go on with what it read.
class LifecycleCall {
 public:
  LifecycleCall() : guard_(Run().lifecycleLock) {
    if (!OnPollThread()) AwaitThreadStops();
    ++Run().lifecycleEpoch;
  }

 private:
  LockGuard guard_;
};

}  // namespace
}  // namespace zavn::core

using namespace zavn::core;

extern "C" {

ZAVN_API void* ZAVN_CALL ZAVNInit(void) {
  zavn::platform::NotifyHandle handle = zavn::platform::RegisterHidNotifications();
  // A second registration replaces the first rather than leaking it.
  if (zavn::platform::NotifyHandle previous = Run().deviceNotifyHandle.exchange(handle)) {
    zavn::platform::UnregisterHidNotifications(previous);
  }
  return handle;
}

ZAVN_API int32_t ZAVN_CALL ZAVNReset(void) {
  RunState& run = Run();
  LifecycleCall call;
  // The thread leaves first, so that no cycle writes into freshly reset state. Called from the
  // poll thread itself, the rest of its cycle is left out instead.
  StopPollThread();
  for (int i = 0; i < kSlotCount; ++i) {
    if (Slot(i).IsOpen()) Slot(i).Close();
  }
  if (ResetLibraryState() != 1) return LINK_NOT_RESET;
  run.resetState = LINK_RESET_DONE;
  return LINK_RESET_DONE;
}

ZAVN_API void ZAVN_CALL ZAVNConnectRx(void) {
  RunState& run = Run();
  LifecycleCall call;
  LockGuard poll(run.pollLock);
  const auto result = FillSlots();
  for (int i = 0; i < kSlotCount; ++i) Links().rxStatus[i] = result[i];
  if (!AnySlotConnected()) return;
  run.threadRunFlag = 1;
  run.loopRunFlag = 1;
  StartPollThreadUnlessRunning();
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
  {
    LifecycleCall call;
    if (zavn::platform::NotifyHandle handle = state.deviceNotifyHandle.exchange(nullptr)) {
      zavn::platform::UnregisterHidNotifications(handle);
    }
    for (auto& enabled : Links().pollEnabled) enabled = 0;
    state.threadRunFlag = run;
    // The thread ends whatever value the host passed, so this never waits for ever.
    StopPollThread();
    // A thread a reset has already released counts as this call's.
    threadRan = std::exchange(state.threadStartedSinceTerminate, false);
  }
  // With the thread stopped no dispatch calls the plug-in any more; its goodbye runs with no
  // lock held, as any call out of the library.
  zavn::games::ReleaseGamePlugin(Players().playerSlot);
  return threadRan ? 1 : 0;
}

}  // extern "C"
