// System backend on POSIX: monotonic clock, nanosleep and pthreads.
#include <pthread.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <new>

#include "platform/system.h"

namespace zavn::platform {
namespace {

struct PosixThread {
  pthread_t thread{};
  ThreadProc proc = nullptr;
  void* argument = nullptr;
  std::atomic<std::uint32_t> exitCode{kThreadStillActive};
};

void* RunThread(void* context) {
  auto* self = static_cast<PosixThread*>(context);
  self->exitCode.store(self->proc(self->argument), std::memory_order_release);
  return nullptr;
}

class PosixSystem final : public System {
 public:
  std::uint32_t TickMs() override {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    const auto ms = static_cast<std::uint64_t>(now.tv_sec) * 1000u +
                    static_cast<std::uint64_t>(now.tv_nsec) / 1000000u;
    return static_cast<std::uint32_t>(ms);
  }

  std::uint64_t TickUs() override {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<std::uint64_t>(now.tv_sec) * 1000000u +
           static_cast<std::uint64_t>(now.tv_nsec) / 1000u;
  }

  void SleepMs(std::uint32_t ms) override {
    timespec left{static_cast<time_t>(ms / 1000u), static_cast<long>(ms % 1000u) * 1000000L};
    while (nanosleep(&left, &left) != 0 && errno == EINTR) {
    }
  }

  // Only Windows HID drivers have a version-dependent input-buffer limit.
  std::uint32_t MaxInputBuffers() override { return 0; }

  ThreadHandle StartThread(ThreadProc proc, void* argument) override {
    auto* thread = new (std::nothrow) PosixThread;
    if (thread == nullptr) return nullptr;
    thread->proc = proc;
    thread->argument = argument;
    if (pthread_create(&thread->thread, nullptr, RunThread, thread) != 0) {
      delete thread;
      return nullptr;
    }
    return thread;
  }

  // Raising a thread above the process's priority needs privileges on Linux; the poll loop
  // runs fine at normal priority, so the thread keeps it.
  bool RaiseThreadPriority(ThreadHandle) override { return false; }

  std::uint32_t ThreadExitCode(ThreadHandle thread) override {
    if (thread == nullptr) return 0;
    return static_cast<PosixThread*>(thread)->exitCode.load(std::memory_order_acquire);
  }

  bool JoinThread(ThreadHandle thread) override {
    if (thread == nullptr) return false;
    auto* self = static_cast<PosixThread*>(thread);
    const bool joined = pthread_join(self->thread, nullptr) == 0;
    delete self;
    return joined;
  }

  bool ExecutablePath(char (&path)[kMaxPath]) override {
    const ssize_t length = readlink("/proc/self/exe", path, kMaxPath);
    if (length <= 0 || static_cast<std::size_t>(length) >= kMaxPath) return false;
    path[length] = '\0';
    return true;
  }
};

}  // namespace

char PathSeparator() {
  return '/';
}

ThreadId CurrentThreadId() {
  static_assert(sizeof(pthread_t) <= sizeof(ThreadId));
  return static_cast<ThreadId>(pthread_self());
}

bool TruncateFile(std::FILE* file, std::uint64_t size) {
  return ftruncate(fileno(file), static_cast<off_t>(size)) == 0;
}

System& OsSystem() {
  // Never destroyed: a poll thread the host did not stop may still use it while the process
  // exits.
  alignas(PosixSystem) static unsigned char storage[sizeof(PosixSystem)];
  static PosixSystem* system = new (storage) PosixSystem;
  return *system;
}

}  // namespace zavn::platform
