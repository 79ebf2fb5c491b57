// System backend on Windows: tick count, Sleep, CRT threads and the HID driver's
// version-dependent input-buffer limit.

// windows.h comes first: the other system headers depend on it.
#include <windows.h>

#include <io.h>
#include <process.h>

#include <new>

#include "platform/system.h"

namespace zavn::platform {

static_assert(kThreadStillActive == STILL_ACTIVE);
static_assert(sizeof(OSVERSIONINFOA) == 148);

namespace {

// What the thread runs, and the reference on this DLL that it holds while it runs; allocated per
// thread start and freed by the thread itself.
struct ThreadStart {
  ThreadProc proc;
  void* argument;
  HMODULE module;
};

// A host that unloads us without ZAVNTerminate leaves the thread running in our code: its
// reference keeps the DLL loaded until the thread ends, and FreeLibraryAndExitThread gives the
// reference back without returning into the DLL it may unload. The exit code is proc's result.
// Ending with ExitThread rather than by returning to the CRT leaks nothing: msvcrt frees its
// per-thread data when the thread detaches.
unsigned __stdcall RunThread(void* context) {
  const ThreadStart start = *static_cast<ThreadStart*>(context);
  delete static_cast<ThreadStart*>(context);
  FreeLibraryAndExitThread(start.module, start.proc(start.argument));
}

class Win32System final : public System {
 public:
  std::uint32_t TickMs() override { return GetTickCount(); }

  std::uint64_t TickUs() override {
    LARGE_INTEGER count, frequency;
    QueryPerformanceCounter(&count);
    QueryPerformanceFrequency(&frequency);
    const auto ticks = static_cast<std::uint64_t>(count.QuadPart);
    const auto perSecond = static_cast<std::uint64_t>(frequency.QuadPart);
    return ticks / perSecond * 1000000u + ticks % perSecond * 1000000u / perSecond;
  }

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
    auto* start = new (std::nothrow) ThreadStart{proc, argument, nullptr};
    if (start == nullptr) return nullptr;
    // A reference on the module that holds RunThread: ours.
    if (!GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS,
                            reinterpret_cast<LPCSTR>(&RunThread), &start->module)) {
      delete start;
      return nullptr;
    }
    unsigned threadId = 0;
    const std::uintptr_t thread = _beginthreadex(nullptr, 0, RunThread, start, 0, &threadId);
    if (thread == 0) {
      FreeLibrary(start->module);
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

ThreadId CurrentThreadId() {
  return GetCurrentThreadId();
}

bool TruncateFile(std::FILE* file, std::uint64_t size) {
  return _chsize_s(_fileno(file), static_cast<__int64>(size)) == 0;
}

System& OsSystem() {
  // Never destroyed (the device slots' destructors still ask it at unload), and in the DLL's own
  // storage, so that nothing is left on the heap once it is unloaded.
  alignas(Win32System) static unsigned char storage[sizeof(Win32System)];
  static Win32System* system = new (storage) Win32System;
  return *system;
}

}  // namespace zavn::platform
