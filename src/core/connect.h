// Filling the device slots with the receiver's data interfaces: the work of ZAVNConnectRx, and
// of the hotplug's connects.
#pragma once

namespace zavn::core {

// Searches the present interfaces and opens the receiver's into the slots, then starts the poll
// thread unless one runs. The search and the opens hold no lock that the poll thread takes;
// only putting the opened handles into the slots, with the link bookkeeping, happens under the
// poll lock, briefly, and leaves the cycle under way alone. `enablePolling` switches polling on
// for the slots connected afterwards. Caller holds lifecycleLock once, and no other lock.
void ConnectSlots(bool enablePolling);

}  // namespace zavn::core
