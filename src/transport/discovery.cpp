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

// Calls visit(path) for every present interface in enumeration order, from one listing, until
// it returns false. Interfaces whose path does not fit a path buffer are left out of the
// listing: a cut path would name another device.
template <typename Visit>
void ForEachInterfacePath(HidPort& port, Visit visit) {
  for (const std::string& path : port.InterfacePaths(kMaxInterfaceIndex)) {
    if (!visit(path.c_str())) return;
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

bool IsRxCandidate(const platform::HidIdentity& identity) {
  return IsReceiverIdentity(identity.attributes) &&
         !(identity.capsKnown && IsUnusedInterface(identity.caps.inputReportLength));
}

std::vector<RxCandidate> FindRxCandidates(HidPort& port) {
  std::vector<RxCandidate> found;
  ForEachInterfacePath(port, [&](const char* path) {
    platform::HidIdentity identity;
    if (port.Identify(path, identity) && IsRxCandidate(identity)) {
      found.push_back({path, PathKeyOf(path)});
    }
    return true;
  });
  return found;
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
  return static_cast<int>(FindRxCandidates(platform::ActiveHidPort()).size());
}

HidHandle OpenNthCandidate(HidPort& port, const std::vector<RxCandidate>& found, int n,
                           const RxCandidate*& which) {
  int met = 0;
  for (const RxCandidate& candidate : found) {
    // One that no longer opens, or is no longer a receiver, does not count.
    const HidHandle handle = OpenRxCandidate(port, candidate.path.c_str());
    if (handle == kInvalidHidHandle) continue;
    if (met++ == n) {
      which = &candidate;
      return handle;
    }
    port.Close(handle);
  }
  return kInvalidHidHandle;
}

HidHandle OpenUnknownCandidate(HidPort& port, const std::vector<RxCandidate>& found,
                               KnownPaths& known, const RxCandidate*& which) {
  const auto free = std::find_if(known.begin(), known.end(), IsEmpty);
  if (free == known.end()) return kInvalidHidHandle;
  for (const RxCandidate& candidate : found) {
    const bool isKnown = std::any_of(known.begin(), known.end(), [&](const PathKey& entry) {
      return !IsEmpty(entry) && entry == candidate.key;
    });
    if (isKnown) continue;
    const HidHandle handle = OpenRxCandidate(port, candidate.path.c_str());
    if (handle == kInvalidHidHandle) continue;
    *free = candidate.key;
    which = &candidate;
    return handle;
  }
  return kInvalidHidHandle;
}

namespace {

// One search, then `open` picks a candidate and opens it; the slot takes what it opened.
template <typename Open>
ZAVNLinkState SearchAndTake(int slot, Open open) {
  HidPort& port = platform::ActiveHidPort();
  const std::vector<RxCandidate> found = FindRxCandidates(port);
  const RxCandidate* which = nullptr;
  const HidHandle handle = open(port, found, which);
  if (handle == kInvalidHidHandle) return LINK_NO_DEVICE;
  Slot(slot).Take(port, handle, which->path.c_str());
  return LINK_OK;
}

}  // namespace

ZAVNLinkState OpenRxByIndex(int slot, int n) {
  return SearchAndTake(slot, [n](HidPort& port, const auto& found, const RxCandidate*& which) {
    return OpenNthCandidate(port, found, n, which);
  });
}

ZAVNLinkState OpenRxByPath(KnownPaths& known, int slot) {
  return SearchAndTake(slot, [&known](HidPort& port, const auto& found, const RxCandidate*& which) {
    return OpenUnknownCandidate(port, found, known, which);
  });
}

}  // namespace zavn::transport
