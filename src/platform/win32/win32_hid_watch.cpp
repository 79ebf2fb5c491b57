// Arrivals and removals of HID interfaces on Windows.
//
// Where cfgmgr32 exports CM_Register_Notification (Windows 8 and later; Wine 8's does not), and
// it succeeds, the watch registers for the HID interface class and is called back on a
// thread-pool thread. The function is looked up at run time, so that the DLL still loads on
// Windows 7. Elsewhere a thread of the watch's own keeps a message-only window registered with
// RegisterDeviceNotificationW and takes WM_DEVICECHANGE.
//
// Locks: control guards starting and stopping; calls is held across every listener call, and is
// never held while waiting for a callback or the thread to end.

// The CM notification types are declared for Windows 8 and later only; nothing else of Windows 8
// is used.
#undef _WIN32_WINNT
#undef WINVER
#define _WIN32_WINNT 0x0602
#define WINVER 0x0602
// windows.h comes first: the other system headers depend on it.
#include <windows.h>

#include <cfgmgr32.h>
#include <dbt.h>
extern "C" {
#include <hidsdi.h>
}

#include <cstddef>

#include "platform/win32/srw_guard.h"
#include "platform/win32/win32_hid_watch.h"

namespace zavn::platform {
namespace {

// Microsoft's layouts, which the functions looked up at run time expect.
static_assert(sizeof(CM_NOTIFY_FILTER) == 416);
static_assert(offsetof(CM_NOTIFY_FILTER, u.DeviceInterface.ClassGuid) == 16);
static_assert(offsetof(CM_NOTIFY_EVENT_DATA, u.DeviceInterface.SymbolicLink) == 24);
static_assert(sizeof(DEV_BROADCAST_DEVICEINTERFACE_W) == 32);
static_assert(offsetof(DEV_BROADCAST_DEVICEINTERFACE_W, dbcc_name) == 28);

using RegisterNotification = CONFIGRET(WINAPI*)(PCM_NOTIFY_FILTER, PVOID, PCM_NOTIFY_CALLBACK,
                                                PHCMNOTIFICATION);
using UnregisterNotification = CONFIGRET(WINAPI*)(HCMNOTIFICATION);

struct Watch {
  SRWLOCK control = SRWLOCK_INIT;
  SRWLOCK calls = SRWLOCK_INIT;
  InterfaceListener* listener = nullptr;  // under calls
  // cfgmgr32's functions, looked up once; null where there are none.
  bool lookedUp = false;
  RegisterNotification registerNotification = nullptr;
  UnregisterNotification unregisterNotification = nullptr;
  // While watching: the registration, or the window's thread and its window.
  HCMNOTIFICATION registration = nullptr;
  HANDLE thread = nullptr;
  HWND window = nullptr;
};
Watch g_watch;

constexpr wchar_t kWindowClass[] = L"ZAVN_Main HID watch";

// Tells the listener of the interface whose symbolic link is `link`, of at most `room`
// characters. A link that does not fit a device path is left out, as the listing leaves it out;
// an empty one is told as such (the interface is not known). SetupAPI lists HID interfaces in
// lower case, while notifications keep the upper case of the hardware id: the link is told in
// lower case, so that it reads as the listing gives it.
void Tell(bool arrived, const WCHAR* link, std::size_t room) {
  WCHAR lower[kDevicePathSize];
  std::size_t length = 0;
  for (; length < room && link[length] != L'\0'; ++length) {
    if (length == kDevicePathSize) return;
    const WCHAR c = link[length];
    lower[length] = c >= L'A' && c <= L'Z' ? static_cast<WCHAR>(c - L'A' + L'a') : c;
  }
  if (length == room) return;  // not terminated within the record
  char path[kDevicePathSize];
  int bytes = 0;
  if (length != 0) {
    bytes = WideCharToMultiByte(CP_ACP, 0, lower, static_cast<int>(length), path,
                                static_cast<int>(kDevicePathSize - 1), nullptr, nullptr);
    if (bytes <= 0) return;
  }
  path[bytes] = '\0';
  SrwGuard held(g_watch.calls);
  if (g_watch.listener == nullptr) return;
  if (arrived) {
    g_watch.listener->Arrived(path);
  } else {
    g_watch.listener->Removed(path);
  }
}

DWORD CALLBACK OnNotification(HCMNOTIFICATION, PVOID, CM_NOTIFY_ACTION action,
                              PCM_NOTIFY_EVENT_DATA data, DWORD size) {
  constexpr std::size_t kLinkAt = offsetof(CM_NOTIFY_EVENT_DATA, u.DeviceInterface.SymbolicLink);
  const bool arrived = action == CM_NOTIFY_ACTION_DEVICEINTERFACEARRIVAL;
  if ((arrived || action == CM_NOTIFY_ACTION_DEVICEINTERFACEREMOVAL) && data != nullptr &&
      size > kLinkAt && data->FilterType == CM_NOTIFY_FILTER_TYPE_DEVICEINTERFACE) {
    Tell(arrived, data->u.DeviceInterface.SymbolicLink, (size - kLinkAt) / sizeof(WCHAR));
  }
  return ERROR_SUCCESS;
}

// GetProcAddress's result as the function it is.
template <typename Function>
Function Lookup(HMODULE module, const char* name) {
  return reinterpret_cast<Function>(reinterpret_cast<void (*)()>(GetProcAddress(module, name)));
}

// Under control. cfgmgr32 stays loaded for good: a registration needs it until unregistered.
bool StartNotifications() {
  if (!g_watch.lookedUp) {
    g_watch.lookedUp = true;
    // Searching System32 only needs Windows 8 (or an update of 7): where that fails, the
    // functions are missing anyway.
    if (HMODULE module = LoadLibraryExW(L"cfgmgr32.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32)) {
      g_watch.registerNotification =
          Lookup<RegisterNotification>(module, "CM_Register_Notification");
      g_watch.unregisterNotification =
          Lookup<UnregisterNotification>(module, "CM_Unregister_Notification");
    }
  }
  if (g_watch.registerNotification == nullptr || g_watch.unregisterNotification == nullptr) {
    return false;
  }
  CM_NOTIFY_FILTER filter{};
  filter.cbSize = sizeof(filter);
  filter.FilterType = CM_NOTIFY_FILTER_TYPE_DEVICEINTERFACE;
  HidD_GetHidGuid(&filter.u.DeviceInterface.ClassGuid);
  HCMNOTIFICATION registration = nullptr;
  if (g_watch.registerNotification(&filter, nullptr, OnNotification, &registration) != CR_SUCCESS ||
      registration == nullptr) {
    return false;
  }
  g_watch.registration = registration;
  return true;
}

LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_DEVICECHANGE) {
    constexpr std::size_t kNameAt = offsetof(DEV_BROADCAST_DEVICEINTERFACE_W, dbcc_name);
    const auto* header = reinterpret_cast<const DEV_BROADCAST_HDR*>(lParam);
    const bool arrived = wParam == DBT_DEVICEARRIVAL;
    if ((arrived || wParam == DBT_DEVICEREMOVECOMPLETE) && header != nullptr &&
        header->dbch_devicetype == DBT_DEVTYP_DEVICEINTERFACE && header->dbch_size > kNameAt) {
      const auto* broadcast = reinterpret_cast<const DEV_BROADCAST_DEVICEINTERFACE_W*>(lParam);
      Tell(arrived, broadcast->dbcc_name, (header->dbch_size - kNameAt) / sizeof(WCHAR));
    }
    return TRUE;
  }
  if (message == WM_CLOSE) {
    PostQuitMessage(0);
    return 0;
  }
  return DefWindowProcW(window, message, wParam, lParam);
}

// What the window's thread tells the thread that starts it.
struct WindowStart {
  HANDLE ready = nullptr;
  HWND window = nullptr;  // null when the window or its registration failed
};

DWORD WINAPI WindowThread(void* parameter) {
  auto* start = static_cast<WindowStart*>(parameter);
  // The class belongs to this DLL, not to the program that loaded it.
  HMODULE module = nullptr;
  GetModuleHandleExW(
      GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
      reinterpret_cast<LPCWSTR>(&g_watch), &module);
  WNDCLASSEXW windowClass{};
  windowClass.cbSize = sizeof(windowClass);
  windowClass.lpfnWndProc = WindowProc;
  windowClass.hInstance = module;
  windowClass.lpszClassName = kWindowClass;
  const bool registered = RegisterClassExW(&windowClass) != 0;
  HWND window = registered ? CreateWindowExW(0, kWindowClass, L"", 0, 0, 0, 0, 0, HWND_MESSAGE,
                                             nullptr, module, nullptr)
                           : nullptr;
  HDEVNOTIFY notify = nullptr;
  if (window != nullptr) {
    DEV_BROADCAST_DEVICEINTERFACE_W filter{};
    filter.dbcc_size = sizeof(filter);
    filter.dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
    HidD_GetHidGuid(&filter.dbcc_classguid);
    notify = RegisterDeviceNotificationW(window, &filter, DEVICE_NOTIFY_WINDOW_HANDLE);
  }
  start->window = notify != nullptr ? window : nullptr;
  SetEvent(start->ready);  // `start` is the starter's, and gone from here on

  if (notify != nullptr) {
    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0) DispatchMessageW(&message);
    UnregisterDeviceNotification(notify);
  }
  if (window != nullptr) DestroyWindow(window);
  // A DLL's window classes outlive it unless unregistered.
  if (registered) UnregisterClassW(kWindowClass, module);
  return 0;
}

// Under control.
bool StartWindowThread() {
  WindowStart start;
  start.ready = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  if (start.ready == nullptr) return false;
  HANDLE thread = CreateThread(nullptr, 0, WindowThread, &start, 0, nullptr);
  if (thread != nullptr) WaitForSingleObject(start.ready, INFINITE);
  CloseHandle(start.ready);
  if (thread == nullptr) return false;
  if (start.window == nullptr) {
    WaitForSingleObject(thread, INFINITE);
    CloseHandle(thread);
    return false;
  }
  g_watch.thread = thread;
  g_watch.window = start.window;
  return true;
}

// Under control. The listener is let go of first, so no call reaches it once this returns;
// unregistering then waits for callbacks under way, and the thread is waited for.
void Stop() {
  {
    SrwGuard held(g_watch.calls);
    g_watch.listener = nullptr;
  }
  if (g_watch.registration != nullptr) {
    g_watch.unregisterNotification(g_watch.registration);
    g_watch.registration = nullptr;
  }
  if (g_watch.thread != nullptr) {
    PostMessageW(g_watch.window, WM_CLOSE, 0, 0);
    WaitForSingleObject(g_watch.thread, INFINITE);
    CloseHandle(g_watch.thread);
    g_watch.thread = nullptr;
    g_watch.window = nullptr;
  }
}

}  // namespace

bool WatchHidInterfaces(InterfaceListener* listener) {
  SrwGuard control(g_watch.control);
  if (listener == nullptr) {
    Stop();
    return true;
  }
  {
    SrwGuard held(g_watch.calls);
    g_watch.listener = listener;
  }
  if (g_watch.registration != nullptr || g_watch.thread != nullptr) return true;
  if (StartNotifications() || StartWindowThread()) return true;
  SrwGuard held(g_watch.calls);
  g_watch.listener = nullptr;
  return false;
}

}  // namespace zavn::platform
