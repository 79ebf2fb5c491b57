// The HID seam: every call the library makes on an HID interface goes through a HidPort.
// Backends: the OS HID stack (win32/ or posix/) and the virtual receiver (virtual/).
#pragma once

#include <cstddef>
#include <cstdint>

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

class HidPort {
 public:
  virtual ~HidPort() = default;

  // Copies the NUL-terminated device path of the n-th present interface (n from 0).
  virtual PathResult InterfacePath(std::uint32_t n, char (&path)[kDevicePathSize]) = 0;
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
};

// The port that discovery uses now: a port installed by a test, else the virtual receiver when
// it is selected, else the OS backend.
HidPort& ActiveHidPort();
// The OS backend of this build.
HidPort& OsHidPort();
// Tests install their own port; nullptr goes back to the selection.
void InstallHidPort(HidPort* port);

}  // namespace zavn::platform
