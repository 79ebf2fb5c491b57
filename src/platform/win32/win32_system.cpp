// System backend on Windows: tick count, Sleep, CRT threads and the HID driver's
// version-dependent input-buffer limit.

// windows.h comes first: the other system headers depend on it.
#include <windows.h>

#include <process.h>

#include <new>

#include "platform/system.h"

namespace zavn::platform {

static_assert(kThreadStillActive == STILL_ACTIVE);
static_assert(sizeof(OSVERSIONINFOA) == 148);

namespace {

// What the thread runs; allocated per thread start and freed by the thread itself.
struct ThreadStart {
  ThreadProc proc;
  void* argument;
};

unsigned __stdcall RunThread(void* context) {
  const ThreadStart start = *static_cast<ThreadStart*>(context);
  delete static_cast<ThreadStart*>(context);
  return start.proc(start.argument);
}

class Win32System final : public System {
 public:
  std::uint32_t TickMs() override { return GetTickCount(); }

  void SleepMs(std::uint32_t ms) override { Sleep(ms); }

  // Windows XP and later take up to 512 input buffers, Windows 2000 up to 200; other versions
  // have no known limit. Without a compatibility manifest in the executable, current Windows
  // reports 6.2 here, so the result is 0 there.
  std::uint32_t MaxInputBuffers() override {
    OSVERSIONINFOA version{};
    version.dwOSVersionInfoSize = sizeof(version);
    const BOOL known = GetVersionExA(&version);
    if (!known || version.dwPlatformId != VER_PLATFORM_WIN32_NT || version.dwMajorVersion != 5) {
      return 0;
    }
    return version.dwMinorVersion >= 1 ? 512 : 200;
  }

  ThreadHandle StartThread(ThreadProc proc, void* argument) override {
    auto* start = new (std::nothrow) ThreadStart{proc, argument};
    if (start == nullptr) return nullptr;
    unsigned threadId = 0;
    const std::uintptr_t thread = _beginthreadex(nullptr, 0, RunThread, start, 0, &threadId);
    if (thread == 0) {
      delete start;
      return nullptr;
    }
    return reinterpret_cast<ThreadHandle>(thread);
  }

  bool RaiseThreadPriority(ThreadHandle thread) override {
    return SetThreadPriority(thread, THREAD_PRIORITY_ABOVE_NORMAL) != FALSE;
  }

  std::uint32_t ThreadExitCode(ThreadHandle thread) override {
    DWORD code = 0;
    if (!GetExitCodeThread(thread, &code)) return 0;
    return code;
  }

  bool JoinThread(ThreadHandle thread) override {
    WaitForSingleObject(thread, INFINITE);
    return CloseHandle(thread) != FALSE;
  }

  // A result that fills the buffer means the path was cut: no usable path.
  bool ExecutablePath(char (&path)[kMaxPath]) override {
    const DWORD length = GetModuleFileNameA(nullptr, path, static_cast<DWORD>(kMaxPath));
    return length > 0 && length < kMaxPath;
  }
};

}  // namespace

char PathSeparator() {
  return '\\';
}

System& OsSystem() {
  static Win32System system;
  return system;
}

}  // namespace zavn::platform
