// Device notifications on POSIX: there is no host window to notify, so registration is a
// no-op that hands out a handle of its own.
#include "platform/device_notify.h"

namespace zavn::platform {
namespace {
char g_noopRegistration;
}

NotifyHandle RegisterHidNotifications() {
  return &g_noopRegistration;
}
void UnregisterHidNotifications(NotifyHandle) {}

}  // namespace zavn::platform
