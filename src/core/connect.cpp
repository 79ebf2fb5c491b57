#include "core/connect.h"

#include <algorithm>
#include <array>
#include <vector>

#include "core/poll_thread.h"
#include "core/run_state.h"
#include "transport/discovery.h"
#include "transport/hid_device.h"
#include "transport/link_table.h"

namespace zavn::core {
namespace {

using platform::HidHandle;
using platform::kInvalidHidHandle;
using transport::kSlotCount;
using transport::Links;
using transport::LinkTable;
using transport::Slot;

// What a connect does to one slot, worked out without the poll lock.
struct SlotChange {
  bool tried = false;       // the slot was tried: its result goes to OpenState and RxStatus
  bool closeFirst = false;  // the slot's handle is given up first, whether or not one opens
  ZAVNLinkState result = LINK_NO_DEVICE;
  transport::OpenedInterface opened;  // the interface it takes, when its handle is valid
  std::uint32_t takes = 0;            // the slot's takes when planned
};

struct Plan {
  bool notReset = false;
  std::array<SlotChange, kSlotCount> slots;
  transport::KnownPaths known;
  std::array<bool, kSlotCount> keyChanged{};
};

// The link state as the plan starts from: taken under the poll lock, so that it is one state.
struct Start {
  std::int32_t openState[kSlotCount];
  bool markedOpen[kSlotCount];
  bool handleInvalid[kSlotCount];
  std::uint32_t takes[kSlotCount];
  transport::KnownPaths known;
  bool reset;
};

Start ReadStart() {
  LinkTable& links = Links();
  platform::LockGuard poll(Run().pollLock);
  Start start;
  for (int i = 0; i < kSlotCount; ++i) {
    start.openState[i] = links.openState[i];
    start.markedOpen[i] = Slot(i).MarkedOpen();
    start.handleInvalid[i] = Slot(i).Handle() == kInvalidHidHandle;
    start.takes[i] = Slot(i).Takes();
  }
  start.known = links.knownPaths;
  start.reset = Run().resetState == LINK_RESET_DONE;
  return start;
}

void Opened(SlotChange& change, platform::HidPort& port, HidHandle handle,
            const transport::RxCandidate* which) {
  change.tried = true;
  if (handle == kInvalidHidHandle) {
    change.result = LINK_NO_DEVICE;
    return;
  }
  change.result = LINK_OK;
  change.opened = transport::PrepareInterface(port, handle, which->path.c_str());
}

// Which slot takes which interface. All slots closed: slot i takes the i-th candidate (the
// slots hold the first four). Then slot 0, when it is not connected, and each of slots 1 to 3
// whose lower slots are all connected and which holds no handle, takes the first candidate
// whose key is not known yet.
Plan MakePlan(const Start& start) {
  Plan plan;
  plan.known = start.known;
  for (int i = 0; i < kSlotCount; ++i) plan.slots[i].takes = start.takes[i];
  if (!start.reset) {
    plan.notReset = true;
    return plan;
  }
  const auto isOk = [](std::int32_t state) { return state == LINK_OK; };
  std::int32_t openState[kSlotCount];
  std::copy(std::begin(start.openState), std::end(start.openState), openState);
  const bool allConnected = std::all_of(openState, openState + kSlotCount, isOk);
  const bool anyConnected = std::any_of(openState, openState + kSlotCount, isOk);
  platform::HidPort& port = platform::ActiveHidPort();
  const std::vector<transport::RxCandidate> found =
      allConnected ? std::vector<transport::RxCandidate>{} : transport::FindRxCandidates(port);

  if (!anyConnected) {
    const int count = std::min(static_cast<int>(found.size()), kSlotCount);
    for (int i = count - 1; i >= 0; --i) {
      SlotChange& change = plan.slots[i];
      change.closeFirst = true;
      const transport::RxCandidate* which = nullptr;
      const HidHandle handle = transport::OpenNthCandidate(port, found, i, which);
      Opened(change, port, handle, which);
      plan.known[i] = change.result == LINK_OK ? which->key : transport::PathKey{};
      plan.keyChanged[i] = true;
      openState[i] = change.result;
    }
  }

  const auto takeUnknown = [&](int i) {
    const transport::KnownPaths before = plan.known;
    const transport::RxCandidate* which = nullptr;
    const HidHandle handle = transport::OpenUnknownCandidate(port, found, plan.known, which);
    Opened(plan.slots[i], port, handle, which);
    for (int k = 0; k < kSlotCount; ++k) plan.keyChanged[k] |= before[k] != plan.known[k];
    openState[i] = plan.slots[i].result;
  };
  if (!isOk(openState[0])) {
    plan.slots[0].closeFirst = true;
    takeUnknown(0);
  }
  for (int j = 1; j < kSlotCount; ++j) {
    // A slot that still holds a handle is left alone.
    const bool holdsHandle = !plan.slots[j].tried && !start.handleInvalid[j];
    if (isOk(openState[j]) || !std::all_of(openState, openState + j, isOk) || holdsHandle) {
      continue;
    }
    plan.slots[j].closeFirst |= start.markedOpen[j];
    plan.known[j] = {};
    plan.keyChanged[j] = true;
    takeUnknown(j);
  }
  return plan;
}

// Puts what the plan opened into the slots. A slot taken by someone else since the plan keeps
// what it holds, and the handle opened for it is closed.
void Install(Plan& plan) {
  LinkTable& links = Links();
  for (int i = 0; i < kSlotCount; ++i) {
    if (plan.notReset) {
      links.rxStatus[i] = LINK_NOT_RESET;
      continue;
    }
    SlotChange& change = plan.slots[i];
    if (!change.tried) continue;
    const bool usable = change.opened.port != nullptr;
    if (Slot(i).Takes() != change.takes) {
      if (usable) change.opened.port->Close(change.opened.handle);
      continue;
    }
    if (change.closeFirst) Slot(i).Close();
    if (usable) Slot(i).Take(change.opened);
    links.openState[i] = change.result;
    links.rxStatus[i] = change.result;
  }
  for (int k = 0; k < kSlotCount; ++k) {
    if (plan.keyChanged[k]) links.knownPaths[k] = plan.known[k];
  }
}

}  // namespace

void ConnectSlots(bool enablePolling) {
  RunState& run = Run();
  Plan plan = MakePlan(ReadStart());
  platform::LockGuard poll(run.pollLock);
  Install(plan);
  if (!transport::AnySlotConnected()) {
    run.threadRunFlag = 0;
    run.loopRunFlag = 0;
    return;
  }
  if (enablePolling) {
    for (int i = 0; i < kSlotCount; ++i) {
      if (Links().openState[i] == LINK_OK) Links().pollEnabled[i] = 1;
    }
  }
  run.threadRunFlag = 1;
  run.loopRunFlag = 1;
  StartPollThreadUnlessRunning();
}

}  // namespace zavn::core
