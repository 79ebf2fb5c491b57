// Finding the receiver's data interfaces among the present HID interfaces and opening them
// into the device slots.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/hid_port.h"
#include "zavn/zavn.h"

namespace zavn::transport {

inline constexpr std::uint16_t kReceiverVendorId = 0xFFFF;
inline constexpr std::uint16_t kReceiverProductId = 0x0008;
// The receiver's other interfaces, which the library does not use, have these input lengths.
inline constexpr std::uint16_t kUnusedInputLengths[] = {4, 14};
// Enumeration stops at this interface index.
inline constexpr std::uint32_t kMaxInterfaceIndex = 64;

using DevicePath = char[platform::kDevicePathSize];

// Path key: the device path from its first lower-case 'h' on (interface paths are a short
// prefix and then the part that begins with "hid"), or the whole path when it has none. Keys
// match the same interface whatever prefix the system gives its path.
using PathKey = std::array<char, platform::kDevicePathSize>;
PathKey PathKeyOf(const char* devicePath);

// The path keys of the interfaces the slots have taken; an entry is empty when its first byte
// is 0.
using KnownPaths = std::array<PathKey, 4>;

// The n-th present interface's path (n from 0). kEnd for n >= kMaxInterfaceIndex.
platform::PathResult GetHIDDevicePath(platform::HidPort& port, std::uint32_t n, DevicePath& path);

// A receiver data interface that a search found: its identity and report lengths say so. It
// has not been opened for reading and writing yet.
struct RxCandidate {
  std::string path;
  PathKey key;
};
// Whether an interface of this identity is a receiver data interface. One whose capabilities
// could not be read is taken without the length test.
bool IsRxCandidate(const platform::HidIdentity& identity);
// One search: the present interfaces listed once, each identified without being opened for
// reading and writing; the candidates in enumeration order.
std::vector<RxCandidate> FindRxCandidates(platform::HidPort& port);

// Opens the interface; the handle when it is a receiver data interface (a candidate), else
// kInvalidHidHandle with anything opened closed again.
platform::HidHandle OpenRxCandidate(platform::HidPort& port, const char* path);

// Opens the n-th candidate of `found` that opens as one (n from 0), pointing `which` at it;
// kInvalidHidHandle when there is none.
platform::HidHandle OpenNthCandidate(platform::HidPort& port, const std::vector<RxCandidate>& found,
                                     int n, const RxCandidate*& which);
// Opens the first candidate of `found` that opens as one and whose key is not in `known`,
// entering its key in the first empty entry; kInvalidHidHandle when there is none or no entry
// is empty.
platform::HidHandle OpenUnknownCandidate(platform::HidPort& port,
                                         const std::vector<RxCandidate>& found, KnownPaths& known,
                                         const RxCandidate*& which);

int CountRxCandidates();  // the candidates FindRxCandidates finds
// Opens the n-th candidate (n from 0, in enumeration order) into the slot: LINK_OK when it
// did, LINK_NO_DEVICE when there is none.
ZAVNLinkState OpenRxByIndex(int slot, int n);
// Opens into the slot the first candidate whose key is not in `known`, entering its key in the
// first empty entry: LINK_OK when it did, LINK_NO_DEVICE otherwise.
ZAVNLinkState OpenRxByPath(KnownPaths& known, int slot);

}  // namespace zavn::transport
