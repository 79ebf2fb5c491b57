#include "platform/posix/hidraw_watch.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <system_error>

namespace zavn::platform {
namespace {

constexpr const char kNodePrefix[] = "hidraw";
constexpr std::uint32_t kArrivals = IN_CREATE | IN_ATTRIB | IN_MOVED_TO;
constexpr std::uint32_t kRemovals = IN_DELETE | IN_MOVED_FROM;

}  // namespace

long HidrawNodeNumber(const char* name) {
  constexpr std::size_t kPrefixLength = sizeof kNodePrefix - 1;
  if (std::strncmp(name, kNodePrefix, kPrefixLength) != 0) return -1;
  const char* digits = name + kPrefixLength;
  if (*digits < '0' || *digits > '9') return -1;
  char* end = nullptr;
  const long number = std::strtol(digits, &end, 10);
  return *end == '\0' ? number : -1;
}

HidrawWatch::~HidrawWatch() {
  std::lock_guard control(control_);
  Stop();
}

bool HidrawWatch::Watch(const std::string& folder, InterfaceListener* listener) {
  std::lock_guard control(control_);
  if (listener != nullptr && thread_.joinable() && folder == folder_) {
    std::lock_guard calls(calls_);
    listener_ = listener;
    return true;
  }
  Stop();
  if (listener == nullptr) return true;

  const int changes = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
  if (changes < 0) return false;
  const int stop = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
  if (stop < 0 ||
      inotify_add_watch(changes, folder.c_str(), kArrivals | kRemovals | IN_ONLYDIR) < 0) {
    if (stop >= 0) close(stop);
    close(changes);
    return false;
  }
  {
    std::lock_guard calls(calls_);
    listener_ = listener;
  }
  try {
    thread_ = std::thread([this, changes, stop, folder] { Run(changes, stop, folder); });
  } catch (const std::system_error&) {
    std::lock_guard calls(calls_);
    listener_ = nullptr;
    close(stop);
    close(changes);
    return false;
  }
  stop_ = stop;
  folder_ = folder;
  return true;
}

// Under control_. The listener is let go of first, so no call reaches it once this returns,
// even before the thread has seen the stop.
void HidrawWatch::Stop() {
  {
    std::lock_guard calls(calls_);
    listener_ = nullptr;
  }
  if (!thread_.joinable()) return;
  const std::uint64_t one = 1;
  while (write(stop_, &one, sizeof one) < 0 && errno == EINTR) {
  }
  thread_.join();
  close(stop_);
  stop_ = -1;
  folder_.clear();
}

void HidrawWatch::Run(int changes, int stop, const std::string& folder) {
  alignas(inotify_event) char buffer[4096];
  pollfd fds[2] = {{changes, POLLIN, 0}, {stop, POLLIN, 0}};
  for (;;) {
    if (poll(fds, 2, -1) < 0) {
      if (errno == EINTR) continue;
      break;
    }
    if (fds[1].revents != 0) break;
    const ssize_t got = read(changes, buffer, sizeof buffer);
    if (got < 0 && (errno == EAGAIN || errno == EINTR)) continue;
    if (got <= 0) break;
    // The kernel hands out whole events only.
    const auto size = static_cast<std::size_t>(got);
    for (std::size_t at = 0; at + sizeof(inotify_event) <= size;) {
      const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
      at += sizeof(inotify_event) + event->len;
      Deliver(event->mask, event->len != 0 ? event->name : "", folder);
    }
  }
  close(changes);
}

void HidrawWatch::Deliver(std::uint32_t mask, const char* name, const std::string& folder) {
  if ((mask & IN_Q_OVERFLOW) != 0) {
    Tell(false, "");
    Tell(true, "");
    return;
  }
  if ((mask & IN_ISDIR) != 0 || HidrawNodeNumber(name) < 0) return;
  const std::string path = folder + "/" + name;
  if (path.size() >= kDevicePathSize) return;  // never listed either
  if ((mask & kRemovals) != 0) {
    Tell(false, path.c_str());
  } else if ((mask & kArrivals) != 0) {
    Tell(true, path.c_str());
  }
}

void HidrawWatch::Tell(bool arrived, const char* path) {
  std::lock_guard calls(calls_);
  if (listener_ == nullptr) return;
  if (arrived) {
    listener_->Arrived(path);
  } else {
    listener_->Removed(path);
  }
}

}  // namespace zavn::platform
