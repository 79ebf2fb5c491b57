// Where the library finds a real receiver, in words for the user.
#pragma once

#include <string>

namespace monitor {

// The OS's HID stack with the receiver's device nodes as the library's backend finds them:
// "hidraw /dev/hidraw3 /dev/hidraw4", or "Windows HID".
std::string RealReceiverPlace();

// What was looked for and where, for when nothing was found: "receiver (USB id FFFF:0008)
// among the hidraw devices".
std::string RealReceiverSought();

}  // namespace monitor
