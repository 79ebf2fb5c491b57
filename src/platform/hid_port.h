// The HID seam: every call the library makes on an HID interface goes through a HidPort.
// Backends: the OS HID stack (win32/ or posix/) and the virtual receiver (virtual/).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace zavn::platform {

// An open interface. The invalid value has all bits set; a handle is usable when it is
// neither the invalid value nor null.
using HidHandle = std::uintptr_t;  // as declared in system.h
inline constexpr HidHandle kInvalidHidHandle = ~HidHandle{0};
constexpr bool IsUsable(HidHandle handle) {
  return handle != kInvalidHidHandle && handle != 0;
}

// Device paths are kept in buffers of this size, terminating NUL included.
inline constexpr std::size_t kDevicePathSize = 260;

// The deepest input queue the HID class driver takes (HidD_SetNumInputBuffers: 2 to 512).
inline constexpr std::uint32_t kMinInputQueueReports = 2;
inline constexpr std::uint32_t kMaxInputQueueReports = 512;

// Windows error codes that backends report for the failures the core distinguishes.
inline constexpr std::uint32_t kErrorInvalidHandle = 6;
inline constexpr std::uint32_t kErrorInvalidParameter = 87;
inline constexpr std::uint32_t kErrorDeviceNotConnected = 1167;
inline constexpr std::uint32_t kErrorInvalidUserBuffer = 1784;

enum class PathResult {
  kFound,    // the path was copied
  kTooLong,  // the n-th interface exists but its path does not fit kDevicePathSize
  kEnd,      // there is no n-th interface (or the set of interfaces cannot be obtained)
};

struct HidAttributes {
  std::uint16_t vendorId = 0;
  std::uint16_t productId = 0;
  std::uint16_t versionNumber = 0;
};

struct HidCaps {
  std::uint16_t inputReportLength = 0;
  std::uint16_t outputReportLength = 0;
  std::uint16_t featureReportLength = 0;
};

struct ReadOutcome {
  enum Kind { kDone, kNothingYet, kError };
  Kind kind = kError;
  std::uint32_t bytes = 0;  // bytes delivered, for kDone
};

struct WriteOutcome {
  bool written = false;
  std::uint32_t error = 0;  // the system's error code when not written
};

// What a search learns of an interface without opening it for reading and writing.
struct HidIdentity {
  HidAttributes attributes;
  HidCaps caps;
  bool capsKnown = false;  // false: the capabilities could not be read
};

// Arrivals and removals of interfaces, as a port learns of them. The calls come on a thread of
// the port's (or on whichever thread changed a virtual interface), possibly under the port's own
// lock: a listener only takes note and returns at once, never calls back into the port.
class InterfaceListener {
 public:
  // `path` is the interface's device path as InterfacePaths lists it, or empty when the port
  // cannot tell which interface changed.
  virtual void Arrived(const char* path) = 0;
  virtual void Removed(const char* path) = 0;

 protected:
  ~InterfaceListener() = default;
};

class HidPort {
 public:
  virtual ~HidPort() = default;

  // Copies the NUL-terminated device path of the n-th present interface (n from 0).
  virtual PathResult InterfacePath(std::uint32_t n, char (&path)[kDevicePathSize]) = 0;
  // The paths of every present interface in enumeration order, from one listing; paths that do
  // not fit kDevicePathSize are left out. The default asks InterfacePath for n = 0, 1, ...
  virtual std::vector<std::string> InterfacePaths(std::uint32_t maxInterfaces);
  // The identity and report lengths of the interface at `path`, read without opening it for
  // reading and writing where the system allows; false when it cannot be read (or is gone).
  // The default opens it, asks, and closes it again.
  virtual bool Identify(const char* path, HidIdentity& out);
  // Opens an interface for overlapped reading and writing; kInvalidHidHandle on failure.
  virtual HidHandle Open(const char* path) = 0;
  virtual void Close(HidHandle handle) = 0;
  virtual bool Attributes(HidHandle handle, HidAttributes& out) = 0;
  virtual bool Capabilities(HidHandle handle, HidCaps& out) = 0;
  virtual bool NumInputBuffers(HidHandle handle, std::uint32_t& out) = 0;
  // Asks for an input queue of `count` reports; false when the backend refuses (or its queue is
  // fixed).
  virtual bool SetNumInputBuffers(HidHandle handle, std::uint32_t count) = 0;
  // The product string as the HID driver gives it (UTF-16LE), into `bytes` bytes.
  virtual bool ProductString(HidHandle handle, void* buffer, std::uint32_t bytes) = 0;
  // Takes the input reports already queued for the handle, as many whole ones as fit `bytes`;
  // never waits. A request shorter than one input report is an error, as on Windows.
  virtual ReadOutcome Read(HidHandle handle, std::uint8_t* buffer, std::uint32_t bytes) = 0;
  // One set-output-report request of exactly `length` bytes, report ID first.
  virtual WriteOutcome SetOutputReport(HidHandle handle, const std::uint8_t* report,
                                       std::uint32_t length) = 0;

  // Whether WaitForInput waits; a port that cannot has the poll thread sleep between cycles.
  virtual bool CanWaitForInput() { return false; }
  // Waits up to `ms` until one of the handles has input queued; returns a bit set of those that
  // have, bit k for handles[k] (at most 32 handles), or 0 once the time has passed. A handle
  // closed meanwhile counts as having none. Never reads a report.
  virtual std::uint32_t WaitForInput(const HidHandle* handles, int count, std::uint32_t ms) {
    static_cast<void>(handles);
    static_cast<void>(count);
    static_cast<void>(ms);
    return 0;
  }

  // Starts telling `listener` of arrivals and removals (replacing any listener before); null
  // stops, and once that returns no call to the old listener is under way. Never called from
  // inside a listener's call. False when the port cannot follow them.
  virtual bool WatchInterfaces(InterfaceListener* listener) {
    static_cast<void>(listener);
    return false;
  }
};

// The port that discovery uses now: a port installed by a test, else the virtual receiver when
// it is selected, else the OS backend.
HidPort& ActiveHidPort();
// The OS backend of this build.
HidPort& OsHidPort();
// Tests install their own port; nullptr goes back to the selection.
void InstallHidPort(HidPort* port);

}  // namespace zavn::platform
