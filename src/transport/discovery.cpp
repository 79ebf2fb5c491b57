#include "transport/discovery.h"

#include <algorithm>
#include <cstring>

#include "transport/hid_device.h"

namespace zavn::transport {

using platform::HidHandle;
using platform::HidPort;
using platform::kInvalidHidHandle;
using platform::PathResult;

namespace {

// Calls visit(path) for every present interface in enumeration order, until it returns false.
// Interfaces whose path does not fit a path buffer are passed over: a cut path would name
// another device.
template <typename Visit>
void ForEachInterfacePath(HidPort& port, Visit visit) {
  DevicePath path;
  for (std::uint32_t n = 0;; ++n) {
    const PathResult result = GetHIDDevicePath(port, n, path);
    if (result == PathResult::kEnd) return;
    if (result == PathResult::kTooLong) continue;
    if (!visit(static_cast<const char*>(path))) return;
  }
}

bool IsReceiverIdentity(const platform::HidAttributes& attributes) {
  return attributes.vendorId == kReceiverVendorId && attributes.productId == kReceiverProductId;
}

bool IsUnusedInterface(std::uint16_t inputReportLength) {
  return std::find(std::begin(kUnusedInputLengths), std::end(kUnusedInputLengths),
                   inputReportLength) != std::end(kUnusedInputLengths);
}

bool IsEmpty(const PathKey& key) {
  return key[0] == '\0';
}

}  // namespace

PathKey PathKeyOf(const char* devicePath) {
  PathKey key{};
  const std::size_t length = strnlen(devicePath, key.size() - 1);
  const char* start = static_cast<const char*>(std::memchr(devicePath, 'h', length));
  if (start == nullptr) start = devicePath;
  std::memcpy(key.data(), start, length - static_cast<std::size_t>(start - devicePath));
  return key;
}

PathResult GetHIDDevicePath(HidPort& port, std::uint32_t n, DevicePath& path) {
  if (n >= kMaxInterfaceIndex) return PathResult::kEnd;
  return port.InterfacePath(n, path);
}

HidHandle OpenRxCandidate(HidPort& port, const char* path) {
  const HidHandle handle = port.Open(path);
  if (handle == kInvalidHidHandle) return kInvalidHidHandle;
  platform::HidAttributes attributes;
  if (!port.Attributes(handle, attributes) || !IsReceiverIdentity(attributes)) {
    port.Close(handle);
    return kInvalidHidHandle;
  }
  // An interface whose capabilities cannot be read is taken without the length test.
  platform::HidCaps caps;
  if (port.Capabilities(handle, caps) && IsUnusedInterface(caps.inputReportLength)) {
    port.Close(handle);
    return kInvalidHidHandle;
  }
  return handle;
}

int CountRxCandidates() {
  HidPort& port = platform::ActiveHidPort();
  int count = 0;
  ForEachInterfacePath(port, [&](const char* path) {
    const HidHandle handle = OpenRxCandidate(port, path);
    if (handle != kInvalidHidHandle) {
      ++count;
      port.Close(handle);
    }
    return true;
  });
  return count;
}

ZAVNLinkState OpenRxByIndex(int slot, int n) {
  HidPort& port = platform::ActiveHidPort();
  int met = 0;
  bool taken = false;
  ForEachInterfacePath(port, [&](const char* path) {
    const HidHandle handle = OpenRxCandidate(port, path);
    if (handle == kInvalidHidHandle) return true;
    if (met++ == n) {
      Slot(slot).Take(port, handle, path);
      taken = true;
      return false;  // later candidates would only be opened and closed again
    }
    port.Close(handle);
    return true;
  });
  return taken ? LINK_OK : LINK_NO_DEVICE;
}

ZAVNLinkState OpenRxByPath(KnownPaths& known, int slot) {
  HidPort& port = platform::ActiveHidPort();
  bool taken = false;
  ForEachInterfacePath(port, [&](const char* path) {
    const HidHandle handle = OpenRxCandidate(port, path);
    if (handle == kInvalidHidHandle) return true;
    const PathKey key = PathKeyOf(path);
    const bool isKnown = std::any_of(known.begin(), known.end(), [&](const PathKey& entry) {
      return !IsEmpty(entry) && entry == key;
    });
    const auto free = std::find_if(known.begin(), known.end(), IsEmpty);
    if (isKnown || free == known.end()) {
      port.Close(handle);
      return true;
    }
    *free = key;
    Slot(slot).Take(port, handle, nullptr);
    taken = true;
    return false;
  });
  return taken ? LINK_OK : LINK_NO_DEVICE;
}

}  // namespace zavn::transport
