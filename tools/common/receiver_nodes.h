// Where the library finds a real receiver, in words for the user.
#pragma once

#include <string>

namespace tools {

// The OS's HID stack with the receiver's device nodes as the library's backend finds them:
// "hidraw /dev/hidraw3 /dev/hidraw4", or "Windows HID".
std::string RealReceiverPlace();

// What was looked for and where, for when nothing was found: "receiver (USB id FFFF:0008)
// among the hidraw devices".
std::string RealReceiverSought();

// For when the receiver is there but the library could not connect it: names each of its nodes
// this user may not read and write, with owner and mode, and the udev rule that grants them.
// Empty when no such node is there; on Windows, which gives the monitor no reason, always.
std::string ReceiverRefusal();

}  // namespace tools
