// Following the receiver's arrivals and removals as the system reports them, for a host that
// asks for it (ZAVNSwitchHotplug). An arrival of a receiver interface connects it, and switches
// polling on for it, on a thread of the hotplug's own, never the poll thread; an arrival of
// any other device starts no search. A removal gives up the slot that held the interface at
// once, so its link is LINK_NO_DEVICE without waiting for a read to fail. A receiver that
// could not be taken (every slot busy, or not openable yet) and a link whose reads failed while
// its interface stayed are taken as soon as they can be, until their interface is removed.
#pragma once

namespace zavn::core {

// Starts following (a search at once connects what is present); false when the active HID
// port cannot report arrivals and removals. Starting again while on changes nothing.
bool StartHotplug();
// Stops following and waits until the hotplug's thread has ended. Caller holds no lock.
void StopHotplug();
// The poll thread dropped a slot's link: a receiver waiting for a free slot is tried now, and
// one whose reads failed, while its interface is still there, is taken up again once it can be.
// Caller may hold the poll lock.
void NoteLinkDropped(const char* path, bool readFailed);

}  // namespace zavn::core
