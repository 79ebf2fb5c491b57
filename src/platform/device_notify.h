// The device-notification seam: arrival and removal messages of HID interfaces, delivered by
// the system to the host's active window. The library handles no such message itself.
#pragma once

namespace zavn::platform {

using NotifyHandle = void*;

// Registers for the active window; null when registration failed.
NotifyHandle RegisterHidNotifications();
void UnregisterHidNotifications(NotifyHandle handle);

}  // namespace zavn::platform
