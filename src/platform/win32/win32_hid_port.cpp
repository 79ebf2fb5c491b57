// OS HID backend on Windows: SetupAPI enumerates the HID interfaces, the HID class driver does
// the rest. Handles are opened overlapped so a read can be issued and abandoned without waiting.

// windows.h comes first: the other system headers depend on it.
#include <windows.h>

#include <setupapi.h>
extern "C" {
#include <hidsdi.h>
}

#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <new>

#include "platform/hid_port.h"

namespace zavn::platform {

static_assert(kErrorInvalidHandle == ERROR_INVALID_HANDLE);
static_assert(kErrorInvalidParameter == ERROR_INVALID_PARAMETER);
static_assert(kErrorDeviceNotConnected == ERROR_DEVICE_NOT_CONNECTED);
static_assert(kErrorInvalidUserBuffer == ERROR_INVALID_USER_BUFFER);
static_assert(sizeof(HidHandle) == sizeof(HANDLE));
static_assert(kDevicePathSize == MAX_PATH);
#if defined(_WIN64)
static_assert(sizeof(SP_DEVICE_INTERFACE_DATA) == 32);
static_assert(sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A) == 8);
#else
static_assert(sizeof(SP_DEVICE_INTERFACE_DATA) == 28);
static_assert(sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A) == 5);
#endif

namespace {

HANDLE ToHandle(HidHandle handle) {
  return reinterpret_cast<HANDLE>(handle);
}

// The device information list of the present HID interfaces, destroyed on every path.
class InterfaceList {
 public:
  InterfaceList() {
    HidD_GetHidGuid(&guid_);
    set_ = SetupDiGetClassDevsA(&guid_, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
  }
  ~InterfaceList() {
    if (Valid()) SetupDiDestroyDeviceInfoList(set_);
  }
  InterfaceList(const InterfaceList&) = delete;
  InterfaceList& operator=(const InterfaceList&) = delete;

  bool Valid() const { return set_ != nullptr && set_ != INVALID_HANDLE_VALUE; }
  HDEVINFO Get() const { return set_; }
  const GUID& Guid() const { return guid_; }

 private:
  GUID guid_;
  HDEVINFO set_;
};

enum class ReadStep {
  kTaken,      // completed at once with `count` bytes
  kCancelled,  // was still pending; `count` bytes if it completed just before the cancel
  kFailed,
};

// Issues one overlapped read and takes its result only if it is already there. A read still
// pending is cancelled and waited for, so that the driver never writes `at` or the OVERLAPPED
// on this stack frame after the call has returned.
ReadStep ReadQueued(HANDLE file, HANDLE event, std::uint8_t* at, DWORD room, DWORD& count) {
  OVERLAPPED overlapped{};
  overlapped.hEvent = event;
  count = 0;
  // Windows advises a null count pointer for overlapped reads; the count comes from
  // GetOverlappedResult.
  if (ReadFile(file, at, room, nullptr, &overlapped)) {
    return GetOverlappedResult(file, &overlapped, &count, FALSE) ? ReadStep::kTaken
                                                                 : ReadStep::kFailed;
  }
  if (GetLastError() != ERROR_IO_PENDING) return ReadStep::kFailed;
  const DWORD wait = WaitForSingleObject(event, 0);
  if (wait == WAIT_OBJECT_0) {
    return GetOverlappedResult(file, &overlapped, &count, FALSE) ? ReadStep::kTaken
                                                                 : ReadStep::kFailed;
  }
  CancelIo(file);
  // A read that completed just before the cancel keeps its data.
  if (!GetOverlappedResult(file, &overlapped, &count, TRUE)) count = 0;
  return wait == WAIT_TIMEOUT ? ReadStep::kCancelled : ReadStep::kFailed;
}

class Win32HidPort final : public HidPort {
 public:
  PathResult InterfacePath(std::uint32_t n, char (&path)[kDevicePathSize]) override {
    InterfaceList list;
    if (!list.Valid()) return PathResult::kEnd;

    SP_DEVICE_INTERFACE_DATA data{};
    data.cbSize = sizeof(data);
    if (!SetupDiEnumDeviceInterfaces(list.Get(), nullptr, &list.Guid(), n, &data)) {
      return PathResult::kEnd;
    }

    // The first call only reports the size the detail record needs.
    DWORD required = 0;
    SetupDiGetDeviceInterfaceDetailA(list.Get(), &data, nullptr, 0, &required, nullptr);
    if (required <= offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_A, DevicePath)) {
      return PathResult::kEnd;
    }
    auto* detail = static_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_A*>(std::malloc(required));
    if (detail == nullptr) return PathResult::kEnd;
    detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A);

    PathResult result = PathResult::kEnd;
    if (SetupDiGetDeviceInterfaceDetailA(list.Get(), &data, detail, required, nullptr, nullptr)) {
      // Bound the length by the record so a path without its NUL is never overrun.
      const std::size_t room = required - offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_A, DevicePath);
      const void* nul = std::memchr(detail->DevicePath, '\0', room);
      const std::size_t length =
          nul == nullptr
              ? room
              : static_cast<std::size_t>(static_cast<const char*>(nul) - detail->DevicePath);
      if (nul != nullptr && length < kDevicePathSize) {
        std::memcpy(path, detail->DevicePath, length + 1);
        result = PathResult::kFound;
      } else {
        result = PathResult::kTooLong;
      }
    }
    std::free(detail);
    return result;
  }

  HidHandle Open(const char* path) override {
    HANDLE handle =
        CreateFileA(path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                    OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return kInvalidHidHandle;
    return reinterpret_cast<HidHandle>(handle);
  }

  void Close(HidHandle handle) override { CloseHandle(ToHandle(handle)); }

  bool Attributes(HidHandle handle, HidAttributes& out) override {
    HIDD_ATTRIBUTES attributes{};
    attributes.Size = sizeof(attributes);
    if (!HidD_GetAttributes(ToHandle(handle), &attributes)) return false;
    out.vendorId = attributes.VendorID;
    out.productId = attributes.ProductID;
    out.versionNumber = attributes.VersionNumber;
    return true;
  }

  bool Capabilities(HidHandle handle, HidCaps& out) override {
    PHIDP_PREPARSED_DATA preparsed = nullptr;
    if (!HidD_GetPreparsedData(ToHandle(handle), &preparsed)) return false;
    HIDP_CAPS caps{};
    const bool got = HidP_GetCaps(preparsed, &caps) == HIDP_STATUS_SUCCESS;
    HidD_FreePreparsedData(preparsed);
    if (!got) return false;
    out.inputReportLength = caps.InputReportByteLength;
    out.outputReportLength = caps.OutputReportByteLength;
    out.featureReportLength = caps.FeatureReportByteLength;
    return true;
  }

  bool NumInputBuffers(HidHandle handle, std::uint32_t& out) override {
    ULONG count = 0;
    if (!HidD_GetNumInputBuffers(ToHandle(handle), &count)) return false;
    out = count;
    return true;
  }

  bool SetNumInputBuffers(HidHandle handle, std::uint32_t count) override {
    return HidD_SetNumInputBuffers(ToHandle(handle), count) != FALSE;
  }

  bool ProductString(HidHandle handle, void* buffer, std::uint32_t bytes) override {
    return HidD_GetProductString(ToHandle(handle), buffer, bytes) != FALSE;
  }

  // Takes every report already queued. A driver may return one report per read (Wine does) or
  // several, so reads are issued one after another while each completes at once and the room
  // left holds another: a completed read's count is a whole number of reports, so the smallest
  // count seen is at least one report and never asks for less than InputReportByteLength. The
  // first read still pending ends the pass. An error after some data delivers the data; the
  // next call meets the error again.
  ReadOutcome Read(HidHandle handle, std::uint8_t* buffer, std::uint32_t bytes) override {
    const HANDLE file = ToHandle(handle);
    const HANDLE event = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    if (event == nullptr) return {ReadOutcome::kError, 0};
    std::uint32_t taken = 0;
    std::uint32_t smallest = 0;
    bool failed = false;
    for (;;) {
      DWORD count = 0;
      const ReadStep step = ReadQueued(file, event, buffer + taken, bytes - taken, count);
      if (step == ReadStep::kFailed) {
        failed = taken == 0;
        break;
      }
      taken += count;
      if (step != ReadStep::kTaken || count == 0) break;
      if (smallest == 0 || count < smallest) smallest = count;
      if (bytes - taken < smallest) break;
    }
    CloseHandle(event);
    if (failed) return {ReadOutcome::kError, 0};
    return taken == 0 ? ReadOutcome{ReadOutcome::kNothingYet, 0}
                      : ReadOutcome{ReadOutcome::kDone, taken};
  }

  WriteOutcome SetOutputReport(HidHandle handle, const std::uint8_t* report,
                               std::uint32_t length) override {
    // The driver only reads the buffer; the prototype just lacks the const.
    if (!HidD_SetOutputReport(ToHandle(handle), const_cast<std::uint8_t*>(report), length)) {
      return {false, GetLastError()};
    }
    return {true, 0};
  }
};

}  // namespace

HidPort& OsHidPort() {
  // Never destroyed (the device slots' destructors close their handles through it at unload),
  // and in the DLL's own storage, so that nothing is left on the heap once it is unloaded.
  alignas(Win32HidPort) static unsigned char storage[sizeof(Win32HidPort)];
  static Win32HidPort* port = new (storage) Win32HidPort;
  return *port;
}

}  // namespace zavn::platform
