// Device notifications on Windows: arrival and removal of HID interfaces are posted as
// WM_DEVICECHANGE to the host's active window, which handles them itself.

// windows.h comes first: the other system headers depend on it.
#include <windows.h>

#include <dbt.h>
extern "C" {
#include <hidsdi.h>
}

#include "platform/device_notify.h"

namespace zavn::platform {

static_assert(sizeof(DEV_BROADCAST_DEVICEINTERFACE_A) == 32);

NotifyHandle RegisterHidNotifications() {
  DEV_BROADCAST_DEVICEINTERFACE_A filter{};
  filter.dbcc_size = sizeof(filter);
  filter.dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
  filter.dbcc_reserved = 0;
  HidD_GetHidGuid(&filter.dbcc_classguid);
  filter.dbcc_name[0] = '\0';
  return RegisterDeviceNotificationA(GetActiveWindow(), &filter, DEVICE_NOTIFY_WINDOW_HANDLE);
}

void UnregisterHidNotifications(NotifyHandle handle) {
  UnregisterDeviceNotification(handle);
}

}  // namespace zavn::platform
