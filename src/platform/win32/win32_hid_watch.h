// Follows arrivals and removals of HID interfaces on Windows, for the OS HID port: through
// CM_Register_Notification where cfgmgr32 has it (Windows 8 and later), else through a
// message-only window on a thread of the library's own.
#pragma once

#include "platform/hid_port.h"

namespace zavn::platform {

// HidPort::WatchInterfaces for the OS port; one watch per process. Paths are the interfaces'
// symbolic links in the ANSI code page, as SetupAPI's A functions give them, though Windows may
// give them in another letter case than the listing does.
bool WatchHidInterfaces(InterfaceListener* listener);

}  // namespace zavn::platform
