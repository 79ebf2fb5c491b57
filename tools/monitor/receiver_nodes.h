// Which OS backend the library uses for a real receiver, and the receiver's device nodes there.
#pragma once

#include <string>

namespace monitor {

// "Windows HID", or "hidraw: /dev/hidraw3 /dev/hidraw4" with the receiver's nodes on Linux.
std::string OsBackendDescription();

}  // namespace monitor
