// Selection of the HidPort and System in use.
#include <atomic>

#include "platform/hid_port.h"
#include "platform/system.h"
#include "platform/virtual/virtual_receiver.h"

namespace zavn::platform {
namespace {
std::atomic<HidPort*> g_installedPort{nullptr};
std::atomic<System*> g_installedSystem{nullptr};
}  // namespace

HidPort& ActiveHidPort() {
  if (HidPort* port = g_installedPort.load(std::memory_order_acquire)) return *port;
  if (virt::IsSelected()) return virt::Receiver();
  return OsHidPort();
}

void InstallHidPort(HidPort* port) {
  g_installedPort.store(port, std::memory_order_release);
}

System& ActiveSystem() {
  if (System* system = g_installedSystem.load(std::memory_order_acquire)) return *system;
  return OsSystem();
}

void InstallSystem(System* system) {
  g_installedSystem.store(system, std::memory_order_release);
}

}  // namespace zavn::platform

namespace zavn::platform {

std::uint32_t System::WaitForInput(HidPort* port, const HidHandle* handles, int count,
                                   std::uint32_t ms) {
  if (port != nullptr && count > 0 && port->CanWaitForInput()) {
    return port->WaitForInput(handles, count, ms);
  }
  SleepMs(ms);
  return 0;
}

}  // namespace zavn::platform

namespace zavn::platform {

std::vector<std::string> HidPort::InterfacePaths(std::uint32_t maxInterfaces) {
  std::vector<std::string> paths;
  char path[kDevicePathSize];
  for (std::uint32_t n = 0; n < maxInterfaces; ++n) {
    const PathResult result = InterfacePath(n, path);
    if (result == PathResult::kEnd) break;
    if (result == PathResult::kFound) paths.emplace_back(path);
  }
  return paths;
}

bool HidPort::Identify(const char* path, HidIdentity& out) {
  const HidHandle handle = Open(path);
  if (handle == kInvalidHidHandle) return false;
  const bool identified = Attributes(handle, out.attributes);
  out.capsKnown = identified && Capabilities(handle, out.caps);
  if (IsUsable(handle)) Close(handle);
  return identified;
}

}  // namespace zavn::platform
