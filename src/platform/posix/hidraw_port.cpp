#include "platform/posix/hidraw_port.h"

#include <dirent.h>
#include <fcntl.h>
#include <linux/hidraw.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "platform/never_destroyed.h"
#include "platform/posix/hidraw_watch.h"
#include "platform/posix/report_descriptor.h"
#include "platform/system.h"

namespace zavn::platform {
namespace {

constexpr int kMaxOpen = 64;

std::mutex g_rootsMutex;
NeverDestroyed<HidrawRoots> g_roots;  // the hotplug's thread may list devices at exit

HidrawRoots Roots() {
  std::lock_guard guard(g_rootsMutex);
  return *g_roots;
}

// A sysfs file's text, or what was read of it before an error: a device that goes away while
// it is read fails the read (ENODEV), which a stream buffer would throw out of the library.
std::string ReadText(const std::string& path) {
  std::string text;
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return text;
  char chunk[4096];
  for (;;) {
    const ssize_t got = read(fd, chunk, sizeof chunk);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) break;
    text.append(chunk, static_cast<std::size_t>(got));
  }
  close(fd);
  return text;
}

// The value of KEY=value in a uevent file.
std::string UeventValue(const std::string& uevent, const char* key) {
  const std::string prefix = std::string(key) + "=";
  std::size_t at = 0;
  while (at < uevent.size()) {
    const std::size_t end = std::min(uevent.find('\n', at), uevent.size());
    if (uevent.compare(at, prefix.size(), prefix) == 0) {
      return uevent.substr(at + prefix.size(), end - at - prefix.size());
    }
    at = end + 1;
  }
  return {};
}

// hidrawN nodes, by number.
std::vector<std::string> NodeNames(const std::string& sysfs) {
  std::vector<std::pair<long, std::string>> nodes;
  if (DIR* dir = opendir(sysfs.c_str())) {
    while (const dirent* entry = readdir(dir)) {
      const long number = HidrawNodeNumber(entry->d_name);
      if (number >= 0) nodes.emplace_back(number, entry->d_name);
    }
    closedir(dir);
  }
  std::sort(nodes.begin(), nodes.end());
  std::vector<std::string> names;
  for (auto& node : nodes) names.push_back(std::move(node.second));
  return names;
}

// UTF-8 to UTF-16LE, NUL-terminated, whole characters only; characters beyond the basic plane
// become U+FFFD.
void PutUtf16(const std::string& text, std::uint8_t* out, std::uint32_t bytes) {
  std::vector<std::uint16_t> units;
  for (std::size_t i = 0; i < text.size();) {
    const auto c = static_cast<unsigned char>(text[i]);
    std::uint32_t code = 0xFFFD;
    std::size_t length = 1;
    if (c < 0x80) {
      code = c;
    } else if ((c & 0xE0) == 0xC0 && i + 1 < text.size()) {
      code = ((c & 0x1Fu) << 6) | (static_cast<unsigned char>(text[i + 1]) & 0x3Fu);
      length = 2;
    } else if ((c & 0xF0) == 0xE0 && i + 2 < text.size()) {
      code = ((c & 0x0Fu) << 12) | ((static_cast<unsigned char>(text[i + 1]) & 0x3Fu) << 6) |
             (static_cast<unsigned char>(text[i + 2]) & 0x3Fu);
      length = 3;
    } else if ((c & 0xF8) == 0xF0) {
      length = 4;
    }
    units.push_back(static_cast<std::uint16_t>(code));
    i += length;
  }
  units.push_back(0);
  const std::size_t fit = std::min<std::size_t>(units.size(), bytes / 2);
  for (std::size_t i = 0; i < fit; ++i) {
    const std::uint16_t unit = i + 1 == fit ? 0 : units[i];  // always terminated
    out[2 * i] = static_cast<std::uint8_t>(unit & 0xFF);
    out[2 * i + 1] = static_cast<std::uint8_t>(unit >> 8);
  }
}

std::uint32_t WindowsError(int error) {
  switch (error) {
    case ENODEV:
    case ENXIO:
    case EIO:
    case EPIPE:
      return kErrorDeviceNotConnected;
    case EBADF:
      return kErrorInvalidHandle;
    default:
      return kErrorInvalidParameter;
  }
}

class HidrawPort final : public HidPort {
 public:
  std::vector<std::string> InterfacePaths(std::uint32_t maxInterfaces) override {
    const HidrawRoots roots = Roots();
    std::vector<std::string> names = NodeNames(roots.sysfs);
    if (names.size() > maxInterfaces) names.resize(maxInterfaces);
    std::vector<std::string> paths;
    for (const std::string& name : names) {
      std::string node = roots.devices + "/" + name;
      if (node.size() < kDevicePathSize) paths.push_back(std::move(node));
    }
    return paths;
  }

  // From sysfs alone: the node itself is never opened, so a search leaves other programs'
  // devices alone and needs no access to them.
  bool Identify(const char* path, HidIdentity& out) override {
    if (path == nullptr) return false;
    const std::string device = DeviceFolder(path);
    if (!IdOf(device, out.attributes)) return false;
    hid::ReportLengths lengths;
    out.capsKnown = DescribedLengths(device, lengths) && lengths.input != 0;
    out.caps = {lengths.input, lengths.output, lengths.feature};
    return true;
  }

  PathResult InterfacePath(std::uint32_t n, char (&path)[kDevicePathSize]) override {
    const HidrawRoots roots = Roots();
    const std::vector<std::string> names = NodeNames(roots.sysfs);
    if (n >= names.size()) return PathResult::kEnd;
    const std::string node = roots.devices + "/" + names[n];
    if (node.size() >= kDevicePathSize) return PathResult::kTooLong;
    std::memcpy(path, node.c_str(), node.size() + 1);
    return PathResult::kFound;
  }

  HidHandle Open(const char* path) override {
    if (path == nullptr) return kInvalidHidHandle;
    const std::string device = DeviceFolder(path);
    const int fd = open(path, O_RDWR | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return kInvalidHidHandle;
    // Read before the lock, which every read of the poll thread takes: sysfs answers slowly
    // while the device is still being set up.
    const hid::ReportLengths lengths = LengthsOf(fd, device);
    {
      std::lock_guard guard(mutex_);
      for (int index = 0; index < kMaxOpen; ++index) {
        if (nodes_[index].fd >= 0) continue;
        nodes_[index] = {fd, device, lengths};
        return static_cast<HidHandle>(index + 1);
      }
    }
    close(fd);
    return kInvalidHidHandle;
  }

  // The node is closed after the lock: the kernel's close waits for the device's transfers.
  void Close(HidHandle handle) override {
    int fd = -1;
    {
      std::lock_guard guard(mutex_);
      if (Node* node = Find(handle)) {
        fd = node->fd;
        *node = {};
      }
    }
    if (fd >= 0) close(fd);
  }

  bool Attributes(HidHandle handle, HidAttributes& out) override {
    int fd = -1;
    std::string device;
    if (!Lookup(handle, fd, device)) return false;
    if (IdOf(device, out)) return true;
    hidraw_devinfo info{};
    if (ioctl(fd, HIDIOCGRAWINFO, &info) < 0) return false;
    out = {static_cast<std::uint16_t>(info.vendor), static_cast<std::uint16_t>(info.product), 0};
    return true;
  }

  bool Capabilities(HidHandle handle, HidCaps& out) override {
    std::lock_guard guard(mutex_);
    const Node* node = Find(handle);
    if (node == nullptr || node->lengths.input == 0) return false;
    out = {node->lengths.input, node->lengths.output, node->lengths.feature};
    return true;
  }

  bool NumInputBuffers(HidHandle handle, std::uint32_t& out) override {
    std::lock_guard guard(mutex_);
    if (Find(handle) == nullptr) return false;
    out = kHidrawQueueReports;
    return true;
  }

  // The kernel fixes hidraw's queue.
  bool SetNumInputBuffers(HidHandle, std::uint32_t) override { return false; }

  // The USB product string, else the kernel's HID_NAME.
  bool ProductString(HidHandle handle, void* buffer, std::uint32_t bytes) override {
    int fd = -1;
    std::string device;
    if (buffer == nullptr || bytes < 2 || !Lookup(handle, fd, device)) return false;
    std::string product = ReadText(device + "/../../product");
    if (product.empty()) product = UeventValue(ReadText(device + "/uevent"), "HID_NAME");
    while (!product.empty() && (product.back() == '\n' || product.back() == '\r'))
      product.pop_back();
    if (product.empty()) return false;
    PutUtf16(product, static_cast<std::uint8_t*>(buffer), bytes);
    return true;
  }

  // hidraw gives one report per read: read report after report until none is queued or the
  // next would not fit.
  ReadOutcome Read(HidHandle handle, std::uint8_t* buffer, std::uint32_t bytes) override {
    int fd = -1;
    std::uint16_t size = 0;
    {
      std::lock_guard guard(mutex_);
      const Node* node = Find(handle);
      if (node == nullptr) return {ReadOutcome::kError, 0};
      fd = node->fd;
      size = node->lengths.input;
    }
    if (buffer == nullptr || size == 0 || bytes < size) return {ReadOutcome::kError, 0};
    std::uint32_t taken = 0;
    while (bytes - taken >= size) {
      const ssize_t got = read(fd, buffer + taken, size);
      if (got > 0) {
        // A shorter report still takes a whole report's room, as the caller counts reports.
        if (static_cast<std::uint32_t>(got) < size)
          std::memset(buffer + taken + got, 0, size - got);
        taken += size;
        continue;
      }
      if (got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) break;
      if (got < 0 && errno == EINTR) continue;
      // Removed (ENODEV, EIO) or closed: the reports already taken are delivered first, and the
      // error comes with the next read.
      if (taken > 0) break;
      return {ReadOutcome::kError, 0};
    }
    return taken == 0 ? ReadOutcome{ReadOutcome::kNothingYet, 0}
                      : ReadOutcome{ReadOutcome::kDone, taken};
  }

  WriteOutcome SetOutputReport(HidHandle handle, const std::uint8_t* report,
                               std::uint32_t length) override {
    const int fd = FdOf(handle);
    if (fd < 0) return {false, kErrorInvalidHandle};
    if (report == nullptr || length == 0 || length > kHidrawMaxOutputReport) {
      return {false, kErrorInvalidParameter};
    }
    // HIDIOCSOUTPUT sends an output report as Windows does; older kernels and nodes that are
    // not hidraw take a write, which sends it on the interrupt endpoint. The ioctl takes a
    // writable buffer: a copy on the stack, as nothing is allocated per report.
    std::uint8_t copy[kHidrawMaxOutputReport];
    std::memcpy(copy, report, length);
    if (ioctl(fd, HIDIOCSOUTPUT(length), copy) >= 0) return {true, 0};
    if (errno != ENOTTY && errno != EINVAL && errno != ENOSYS) return {false, WindowsError(errno)};
    const ssize_t written = write(fd, report, length);
    if (written == static_cast<ssize_t>(length)) return {true, 0};
    return {false, WindowsError(written < 0 ? errno : EIO)};
  }

  bool CanWaitForInput() override { return true; }

  bool WatchInterfaces(InterfaceListener* listener) override {
    return watch_.Watch(Roots().devices, listener);
  }

  // Polls copies of the nodes' descriptors, so that a node the host closes meanwhile (without
  // the poll thread's slot lock) cannot hand its number to another file under the wait. A node
  // that fails or is gone leaves the wait; the cycle's read meets its error.
  std::uint32_t WaitForInput(const HidHandle* handles, int count, std::uint32_t ms) override {
    pollfd fds[kMaxOpen];
    int handleOf[kMaxOpen];
    int watched = 0;
    {
      std::lock_guard guard(mutex_);
      for (int k = 0; k < count && k < kMaxOpen; ++k) {
        const Node* node = Find(handles[k]);
        const int fd = node == nullptr ? -1 : fcntl(node->fd, F_DUPFD_CLOEXEC, 0);
        if (fd < 0) continue;
        fds[watched] = {fd, POLLIN, 0};
        handleOf[watched++] = k;
      }
    }
    // The OS clock, not the active one: poll waits in real time.
    System& clock = OsSystem();
    const std::uint32_t start = clock.TickMs();
    std::uint32_t ready = 0;
    for (;;) {
      const std::uint32_t waited = clock.TickMs() - start;
      const int left = waited >= ms ? 0 : static_cast<int>(ms - waited);
      const int events = poll(fds, static_cast<nfds_t>(watched), left);
      if (events < 0 && errno != EINTR) break;
      for (int n = 0; events > 0 && n < watched; ++n) {
        if ((fds[n].revents & POLLIN) != 0) {
          ready |= 1u << handleOf[n];
        } else if (fds[n].revents != 0) {
          close(fds[n].fd);
          fds[n].fd = -1;  // poll passes over it from now on
        }
      }
      if (ready != 0 || left == 0) break;
    }
    for (int n = 0; n < watched; ++n) {
      if (fds[n].fd >= 0) close(fds[n].fd);
    }
    return ready;
  }

 private:
  struct Node {
    int fd = -1;
    std::string device;  // the node's sysfs device folder
    hid::ReportLengths lengths;
  };

  // The sysfs device folder of the node at `path`.
  static std::string DeviceFolder(const char* path) {
    const char* slash = std::strrchr(path, '/');
    return Roots().sysfs + "/" + (slash != nullptr ? slash + 1 : path) + "/device";
  }

  // Vendor and product from the device's uevent: HID_ID=bus:vendor:product, each in hex.
  static bool IdOf(const std::string& device, HidAttributes& out) {
    unsigned bus = 0, vendor = 0, product = 0;
    const std::string id = UeventValue(ReadText(device + "/uevent"), "HID_ID");
    if (std::sscanf(id.c_str(), "%x:%x:%x", &bus, &vendor, &product) != 3) return false;
    out = {static_cast<std::uint16_t>(vendor), static_cast<std::uint16_t>(product), 0};
    return true;
  }

  // The lengths the device's report descriptor in sysfs gives; false when it cannot be read.
  static bool DescribedLengths(const std::string& device, hid::ReportLengths& out) {
    const std::string descriptor = ReadText(device + "/report_descriptor");
    if (descriptor.empty()) return false;
    out = hid::ParseReportDescriptor(reinterpret_cast<const std::uint8_t*>(descriptor.data()),
                                     descriptor.size());
    return true;
  }

  static hid::ReportLengths LengthsOf(int fd, const std::string& device) {
    hid::ReportLengths lengths;
    if (DescribedLengths(device, lengths)) return lengths;
    int size = 0;
    hidraw_report_descriptor raw{};
    if (ioctl(fd, HIDIOCGRDESCSIZE, &size) < 0 || size <= 0 ||
        size > static_cast<int>(sizeof raw.value)) {
      return {};
    }
    raw.size = static_cast<std::uint32_t>(size);
    if (ioctl(fd, HIDIOCGRDESC, &raw) < 0) return {};
    return hid::ParseReportDescriptor(raw.value, raw.size);
  }

  Node* Find(HidHandle handle) {
    if (handle < 1 || handle > kMaxOpen) return nullptr;
    Node& node = nodes_[handle - 1];
    return node.fd >= 0 ? &node : nullptr;
  }

  // The node's fd, or -1: for the per-report paths, which must not copy the device folder.
  int FdOf(HidHandle handle) {
    std::lock_guard guard(mutex_);
    const Node* node = Find(handle);
    return node != nullptr ? node->fd : -1;
  }

  // The fd and the sysfs device folder, for the identity queries.
  bool Lookup(HidHandle handle, int& fd, std::string& device) {
    std::lock_guard guard(mutex_);
    const Node* node = Find(handle);
    if (node == nullptr) return false;
    fd = node->fd;
    device = node->device;
    return true;
  }

  std::mutex mutex_;
  Node nodes_[kMaxOpen];
  HidrawWatch watch_;
};

}  // namespace

void SetHidrawRoots(const HidrawRoots& roots) {
  std::lock_guard guard(g_rootsMutex);
  *g_roots = roots;
}

HidPort& OsHidPort() {
  // Never destroyed: a host may still poll while the process exits.
  static HidrawPort* port = new HidrawPort;
  return *port;
}

}  // namespace zavn::platform
