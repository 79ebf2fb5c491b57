// Per-slot link state shared by the host's calls and the poll thread.
#pragma once

#include <atomic>
#include <cstdint>

#include "transport/discovery.h"
#include "transport/hid_device.h"

namespace zavn::transport {

using SlotWords = std::atomic<std::int32_t>[kSlotCount];

struct LinkTable {
  SlotWords openState{};    // last connect result: 0 never tried, LINK_OK, LINK_NO_DEVICE
  SlotWords rxStatus{};     // link state shown by ZAVNGetRxStatus
  SlotWords txStatus{};     // result of the slot's last read, shown by ZAVNGetTxStatus
  SlotWords pollEnabled{};  // the poll pass reads the slot while non-zero
  // Path keys of the interfaces the slots took. Written only under the poll lock, or by the
  // reset once the poll thread has ended.
  KnownPaths knownPaths{};
};

LinkTable& Links();

bool AnySlotConnected();  // some slot has openState LINK_OK

// Slot i's device is gone: the slot gives its handle up (so that the next connect may take the
// receiver again when it comes back) and its link is lost: not polled, not connected, no key.
// Caller holds the poll lock.
void DropLink(int i);

// Every slot LINK_NO_DEVICE / LINK_NO_DEVICE, nothing polled, opened or known.
void ResetLinks();

}  // namespace zavn::transport
