#include "core/poll_thread.h"

#include <algorithm>

#include "commands/periodic_clock.h"
#include "commands/periodic_report.h"
#include "core/hotplug.h"
#include "core/player_assignment.h"
#include "core/run_state.h"
#include "firmware/update_control.h"
#include "games/game_dispatch.h"
#include "input/decoder.h"
#include "input/input_report.h"
#include "platform/hid_port.h"
#include "transport/input_buffer.h"
#include "transport/link_table.h"
#include "transport/queued_writes.h"
#include "transport/report_reader.h"

namespace zavn::core {

using transport::AnySlotConnected;
using transport::Links;
using transport::LinkTable;

namespace {

using platform::LockGuard;

bool KeepRunning(const RunState& run) {
  return run.threadRunFlag == 1 && run.loopRunFlag == 1 && run.stopRequested == 0;
}

void AwaitNextCycle(std::uint32_t cycleStart);

std::uint32_t PollThread(void*) {
  RunState& run = Run();
  run.pollThreadId = platform::CurrentThreadId();
  transport::QueueWritesOfThisThread();
  for (;;) {
    std::uint32_t cycleStart = 0;
    {
      LockGuard guard(run.pollLock);
      // The decision to end is taken under the poll lock, so a connect that holds the lock
      // either sees the thread still running (and it then goes on) or sees it gone. After it
      // the thread takes no lock of the library.
      if (!KeepRunning(run)) {
        run.pollThreadId = 0;
        run.threadExitCode = 0;
        return 1;
      }
      cycleStart = platform::ActiveSystem().TickMs();
      PollCycle();
    }
    AwaitNextCycle(cycleStart);
  }
}

// The slot's takes when the cycle last read it: a connect may fill the slot anew while a decode
// runs without the poll lock, and what the read of the old interface found is not the new one's.
std::uint32_t g_takesAtRead[transport::kSlotCount];

// A slot whose read found no device or failed has lost its link, unless the reset is under way
// or a connect has filled the slot since the read.
void UpdateLinkState(int i) {
  LinkTable& links = Links();
  const std::int32_t tx = links.txStatus[i];
  if (tx == LINK_NO_DEVICE || tx == LINK_READ_ERROR) {
    if (Run().resetState == LINK_NOT_RESET) {
      links.rxStatus[i] = LINK_NOT_RESET;
      return;
    }
    if (transport::Slot(i).Takes() != g_takesAtRead[i]) return;
    char path[platform::kDevicePathSize];
    transport::Slot(i).DevicePath(path);
    transport::DropLink(i);
    NoteLinkDropped(path, tx == LINK_READ_ERROR);
  } else if (tx == LINK_OK || tx == LINK_TIMEOUT) {
    // A timed-out link still counts as connected; the host sees the time-out in TxStatus.
    links.rxStatus[i] = LINK_OK;
  }
}

// Whether the pass hands the buffer to the decoder. Before the players are assigned only the
// receiver's replies are decoded; bytes 3 and 4 "An" open it whatever the read gave.
bool DecoderGateOpen(const transport::InputBuffer& b, ZAVNLinkState tx, bool assigned) {
  namespace r = input::report;
  if (b[r::kLetterPosition] == r::kMotion && b[r::kLetterPosition + 1] == r::kForcedDecodeMark)
    return true;
  if (tx != LINK_OK) return false;
  return assigned || (b[0] == r::kReportId && b[1] == r::kBoot) ||
         b[r::kLetterPosition] == r::kSerial;
}

// What the poll thread adds to each motion record: the game plug-in of player 1, and the end of
// the decode when the host stopped or reset the library during a call out. (A connect meanwhile
// lets the decode finish; the cycle ends after it.)
class CycleListener final : public input::MotionListener {
 public:
  bool KeepDecoding() override { return Run().stopRequested == 0; }
  void AfterMotion(std::int32_t player, PlayerStatus& status) override {
    if (player == 1 && Players().assignDone == 1) {
      games::DispatchGamePlugin(player, &status, Players().playerSlot);
    }
  }
};

// Hands what a read of slot i delivered to the decoder, or drops it; false when the cycle is to
// end here.
bool HandOn(int i, ZAVNLinkState tx, std::uint32_t bytes, std::uint32_t epoch) {
  transport::InputBuffer& buffer = transport::InputBufferOf(i);
  if (DecoderGateOpen(buffer, tx, Players().assignDone == 1)) {
    CycleListener listener;
    {
      // The decode calls out of the library (raw-data callback, plug-in): no poll lock then.
      platform::Unlocked unlocked(Run().pollLock);
      input::Decode(buffer, i + 1, &listener);
    }
    return Run().lifecycleEpoch == epoch;
  }
  // Reports the gate turns away are dropped: a later read must not find them behind its own.
  std::fill_n(buffer.begin(), std::min<std::size_t>(bytes, buffer.size()), 0);
  return true;
}

// A full read may leave reports queued (the thread was held up, or the receiver streams fast):
// the pass reads on until the queue is empty, at most as many reads as the deepest queue needs.
std::uint32_t MaxReadsPerPass(int i) {
  return transport::ReadsToEmpty(platform::kMaxInputQueueReports,
                                 transport::Slot(i).ReportLengths().inputReportLength);
}

// Reads slot i on while its reads come back full and hands each read on, at most as many as the
// deepest queue needs; `bytes` is what the read before delivered. False when the cycle or the
// wait is to end here.
bool ReadOnWhileFull(int i, std::uint32_t bytes, std::uint32_t epoch, bool betweenCycles) {
  transport::InputBuffer& buffer = transport::InputBufferOf(i);
  const std::uint32_t maxReads = MaxReadsPerPass(i);
  for (std::uint32_t read = 1; read < maxReads && transport::ReadWasFull(i, bytes); ++read) {
    const ZAVNLinkState tx = betweenCycles ? transport::ReadSlotBetweenCycles(buffer, i, bytes)
                                           : transport::ReadSlotAgain(buffer, i, bytes);
    if (tx != LINK_OK) break;
    if (!HandOn(i, LINK_OK, bytes, epoch)) return false;
  }
  return true;
}

// One pass over the four slots; false when the cycle is to end here.
bool PollPass(std::uint32_t epoch) {
  LinkTable& links = Links();
  PlayerAssignment& players = Players();
  for (int i = 0; i < transport::kSlotCount; ++i) {
    if (links.pollEnabled[i] == 0) continue;
    const std::int32_t slotNumber = i + 1;
    transport::InputBuffer& buffer = transport::InputBufferOf(i);
    std::uint32_t bytes = 0;
    g_takesAtRead[i] = transport::Slot(i).Takes();
    const ZAVNLinkState tx = transport::ReadSlot(buffer, i, &bytes);
    links.txStatus[i] = tx;
    if (!HandOn(i, tx, bytes, epoch)) return false;
    if (tx == LINK_OK && !ReadOnWhileFull(i, bytes, epoch, false)) return false;
    if (players.assignDone == 0) players.assignDone = AssignPlayers(slotNumber, tx);
    AssignNextPlayer(slotNumber, tx);
    commands::SendPeriodicReport(commands::Periodic().joystickLoop != 0 ? 1 : 0);
  }
  return true;
}

// The slots a wait between cycles watches: those polled, on the port of the first of them.
struct WatchedSlots {
  platform::HidPort* port = nullptr;
  platform::HidHandle handles[transport::kSlotCount] = {};
  int slots[transport::kSlotCount] = {};
  int count = 0;
};

WatchedSlots Watched() {
  WatchedSlots watched;
  for (int i = 0; i < transport::kSlotCount; ++i) {
    if (Links().pollEnabled[i] == 0) continue;
    platform::HidPort* port = transport::Slot(i).Port();
    if (port == nullptr || (watched.port != nullptr && port != watched.port)) continue;
    watched.port = port;
    watched.handles[watched.count] = transport::Slot(i).Handle();
    watched.slots[watched.count++] = i;
  }
  return watched;
}

// Reads and decodes the slots whose reports have arrived; false when the thread is to stop
// waiting (a host's lifecycle call came in, or a stop).
bool TakeArrivals(const WatchedSlots& watched, std::uint32_t ready, std::uint32_t epoch) {
  for (int k = 0; k < watched.count; ++k) {
    if ((ready & (1u << k)) == 0) continue;
    const int i = watched.slots[k];
    if (Links().pollEnabled[i] == 0) continue;
    std::uint32_t bytes = 0;
    if (transport::ReadSlotBetweenCycles(transport::InputBufferOf(i), i, bytes) != LINK_OK) {
      continue;
    }
    if (!HandOn(i, LINK_OK, bytes, epoch) || !ReadOnWhileFull(i, bytes, epoch, true)) {
      return false;
    }
  }
  return true;
}

// Waits until the next cycle is due, cycleStart + kPollPeriodMs; a slot's reports that arrive
// meanwhile are read and decoded at once. Only the cycle runs the rest: link states, player
// assignment, the periodic report and the update machines.
void AwaitNextCycle(std::uint32_t cycleStart) {
  RunState& run = Run();
  platform::System& system = platform::ActiveSystem();
  for (;;) {
    WatchedSlots watched;
    std::uint32_t epoch = 0;
    {
      // The thread waits even when it is to end: it decides that at the next cycle.
      LockGuard guard(run.pollLock);
      watched = Watched();
      epoch = run.lifecycleEpoch;
    }
    const std::uint32_t elapsed = system.TickMs() - cycleStart;
    if (elapsed >= kPollPeriodMs) return;
    const std::uint32_t ready =
        system.WaitForInput(watched.port, watched.handles, watched.count, kPollPeriodMs - elapsed);
    if (ready == 0) return;
    LockGuard guard(run.pollLock);
    if (!KeepRunning(run) || run.lifecycleEpoch != epoch) return;
    if (!TakeArrivals(watched, ready, epoch)) return;
  }
}

}  // namespace

bool PollCycle() {
  LinkTable& links = Links();
  const std::uint32_t epoch = Run().lifecycleEpoch;
  // Each enabled slot runs a whole pass over all enabled slots.
  for (int i = 0; i < transport::kSlotCount; ++i) {
    if (links.pollEnabled[i] == 0) continue;
    if (!PollPass(epoch)) return false;
    UpdateLinkState(i);
  }
  if (!AnySlotConnected()) {
    RunState& run = Run();
    run.threadRunFlag = 0;
    run.loopRunFlag = 0;
  }
  // Every cycle, whether or not the slots are polled.
  firmware::RunUpdateMachines();
  return true;
}

bool OnPollThread() {
  return Run().pollThreadId == platform::CurrentThreadId();
}

void StartPollThreadUnlessRunning() {
  RunState& run = Run();
  platform::System& system = platform::ActiveSystem();
  if (run.threadExitCode == platform::kThreadStillActive) {
    // The running thread goes on, unless a host thread is waiting for it to end: that stop
    // comes after this connect.
    if (run.joinsUnderWay == 0) run.stopRequested = 0;
    return;
  }
  // A thread that ended by itself has passed its last use of any lock: release its handle.
  if (run.pollThreadHandle != nullptr) {
    system.JoinThread(run.pollThreadHandle);
    run.pollThreadHandle = nullptr;
  }
  run.stopRequested = 0;
  run.pollThreadHandle = system.StartThread(PollThread, nullptr);
  if (run.pollThreadHandle == nullptr) return;
  run.threadStartedSinceTerminate = true;
  system.RaiseThreadPriority(run.pollThreadHandle);
  // The new thread cannot end before the caller releases the poll lock, so this reads
  // kThreadStillActive.
  run.threadExitCode = system.ThreadExitCode(run.pollThreadHandle);
}

bool StopPollThread() {
  RunState& run = Run();
  run.stopRequested = 1;
  if (OnPollThread()) return false;
  bool released = false;
  for (;;) {
    // While this thread waited, another may have started waiting for a thread that a connect
    // started meanwhile: wait for that too, and stop whatever runs now.
    AwaitThreadStops();
    if (run.pollThreadHandle == nullptr) return released;
    run.stopRequested = 1;
    const platform::ThreadHandle thread = run.pollThreadHandle;
    run.pollThreadHandle = nullptr;
    run.joinLock.Enter();
    ++run.joinsUnderWay;
    platform::Unlocked unlocked(run.lifecycleLock);
    released = platform::ActiveSystem().JoinThread(thread);
    --run.joinsUnderWay;
    run.joinLock.Leave();
  }
}

void AwaitThreadStops() {
  RunState& run = Run();
  while (run.joinsUnderWay != 0) {
    platform::Unlocked unlocked(run.lifecycleLock);
    // Held by the waiting thread until its thread has ended.
    LockGuard wait(run.joinLock);
  }
}

}  // namespace zavn::core
