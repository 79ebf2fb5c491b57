// OS HID backend on Windows: SetupAPI enumerates the HID interfaces, the HID class driver does
// the rest. Handles are opened overlapped, and each open interface keeps one read of one report
// outstanding in a buffer of its own: the poll thread waits on the reads' events between cycles
// and collects what they completed, and no read is ever issued only to be cancelled.
//
// Lock: lock_ guards the table of open interfaces (their reads included). It is taken last,
// under whatever lock the caller holds, and nothing outside this file is called while it is held.

#if !defined(_WIN32_WINNT) || _WIN32_WINNT < 0x0600
#undef _WIN32_WINNT
#define _WIN32_WINNT 0x0600  // CancelIoEx and slim locks: Vista and later
#endif
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
#include <string>
#include <vector>

#include "platform/hid_port.h"
#include "platform/win32/srw_guard.h"
#include "platform/win32/win32_hid_watch.h"

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

  // The n-th interface of the list; false when there is none.
  bool Interface(std::uint32_t n, SP_DEVICE_INTERFACE_DATA& data) {
    data = SP_DEVICE_INTERFACE_DATA{};
    data.cbSize = sizeof(data);
    return SetupDiEnumDeviceInterfaces(set_, nullptr, &guid_, n, &data) != FALSE;
  }

  // Copies the device path of an interface of the list; kEnd when its record cannot be read.
  PathResult PathOf(SP_DEVICE_INTERFACE_DATA& data, char (&path)[kDevicePathSize]) {
    // The first call only reports the size the detail record needs.
    DWORD required = 0;
    SetupDiGetDeviceInterfaceDetailA(set_, &data, nullptr, 0, &required, nullptr);
    if (required <= offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_A, DevicePath)) {
      return PathResult::kEnd;
    }
    auto* detail = static_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_A*>(std::malloc(required));
    if (detail == nullptr) return PathResult::kEnd;
    detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A);

    PathResult result = PathResult::kEnd;
    if (SetupDiGetDeviceInterfaceDetailA(set_, &data, detail, required, nullptr, nullptr)) {
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

 private:
  GUID guid_;
  HDEVINFO set_;
};

constexpr int kMaxOpen = 64;

// An open interface and its outstanding read. `issued` holds from ReadFile until the result is
// collected: while it holds, the driver may write `report` and `overlapped`.
struct OpenInterface {
  HANDLE file = nullptr;
  HANDLE completed = nullptr;  // manual-reset: set when the read completes, reset by ReadFile
  OVERLAPPED overlapped{};
  bool issued = false;
  DWORD reportLength = 0;  // InputReportByteLength, learnt at the first read
  std::uint8_t* report = nullptr;
};

enum class Collected { kReport, kPending, kFailed };

class Win32HidPort final : public HidPort {
 public:
  PathResult InterfacePath(std::uint32_t n, char (&path)[kDevicePathSize]) override {
    InterfaceList list;
    SP_DEVICE_INTERFACE_DATA data;
    if (!list.Valid() || !list.Interface(n, data)) return PathResult::kEnd;
    return list.PathOf(data, path);
  }

  std::vector<std::string> InterfacePaths(std::uint32_t maxInterfaces) override {
    std::vector<std::string> paths;
    InterfaceList list;
    if (!list.Valid()) return paths;
    SP_DEVICE_INTERFACE_DATA data;
    char path[kDevicePathSize];
    for (std::uint32_t n = 0; n < maxInterfaces && list.Interface(n, data); ++n) {
      if (list.PathOf(data, path) == PathResult::kFound) paths.emplace_back(path);
    }
    return paths;
  }

  // Opened with no access rights, which the HID class driver answers identity and capability
  // queries on: the device is not opened for reading or writing, and devices that the system
  // keeps for itself (keyboards, mice) answer too.
  bool Identify(const char* path, HidIdentity& out) override {
    if (path == nullptr) return false;
    const HANDLE file = CreateFileA(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                    OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    const auto handle = reinterpret_cast<HidHandle>(file);
    const bool identified = Attributes(handle, out.attributes);
    out.capsKnown = identified && Capabilities(handle, out.caps);
    CloseHandle(file);
    return identified;
  }

  HidHandle Open(const char* path) override {
    HANDLE handle =
        CreateFileA(path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                    OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return kInvalidHidHandle;
    HANDLE completed = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    if (completed != nullptr) {
      SrwGuard locked(lock_);
      for (OpenInterface& open : open_) {
        if (open.file != nullptr) continue;
        open = OpenInterface{};
        open.file = handle;
        open.completed = completed;
        return reinterpret_cast<HidHandle>(handle);
      }
      CloseHandle(completed);
    }
    CloseHandle(handle);
    return kInvalidHidHandle;
  }

  // Cancels the outstanding read and waits for the driver to let go of its buffer.
  void Close(HidHandle handle) override {
    const HANDLE file = ToHandle(handle);
    {
      SrwGuard locked(lock_);
      if (OpenInterface* open = Find(file)) {
        if (open->issued) {
          CancelIoEx(file, &open->overlapped);
          DWORD count = 0;
          GetOverlappedResult(file, &open->overlapped, &count, TRUE);
        }
        CloseHandle(open->completed);
        std::free(open->report);
        *open = OpenInterface{};
      }
    }
    CloseHandle(file);
  }

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

  // Takes every report already queued: the outstanding read's, if it has completed, then one
  // read after another while each completes at once and the room left holds another report. The
  // read still pending at the end stays outstanding for the next call. An error after some
  // data delivers the data; the next call meets the error again.
  ReadOutcome Read(HidHandle handle, std::uint8_t* buffer, std::uint32_t bytes) override {
    SrwGuard locked(lock_);
    OpenInterface* open = Find(ToHandle(handle));
    if (open == nullptr || buffer == nullptr || !Prepared(*open) || bytes < open->reportLength) {
      return {ReadOutcome::kError, 0};
    }
    std::uint32_t taken = 0;
    while (bytes - taken >= open->reportLength) {
      DWORD count = 0;
      const Collected step = Collect(*open, count);
      if (step == Collected::kFailed) {
        if (taken == 0) return {ReadOutcome::kError, 0};
        break;
      }
      if (step == Collected::kPending) break;
      std::memcpy(buffer + taken, open->report, count);
      taken += count;
    }
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

  bool CanWaitForInput() override { return true; }

  bool WatchInterfaces(InterfaceListener* listener) override {
    return WatchHidInterfaces(listener);
  }

  // Waits on copies of the reads' events, so that an interface the host closes meanwhile
  // (without the poll thread's slot lock) cannot free an event under the wait. An interface
  // whose read has completed, or cannot be issued, counts as ready: the read collects it.
  std::uint32_t WaitForInput(const HidHandle* handles, int count, std::uint32_t ms) override {
    HANDLE events[MAXIMUM_WAIT_OBJECTS];
    int handleOf[MAXIMUM_WAIT_OBJECTS];
    int watched = 0;
    std::uint32_t ready = 0;
    const HANDLE process = GetCurrentProcess();
    {
      SrwGuard locked(lock_);
      for (int k = 0; k < count && k < 32; ++k) {
        OpenInterface* open = Find(ToHandle(handles[k]));
        if (open == nullptr) continue;
        if (!Prepared(*open) || (!open->issued && !Issue(*open)) ||
            WaitForSingleObject(open->completed, 0) == WAIT_OBJECT_0) {
          ready |= 1u << k;
        } else if (watched < MAXIMUM_WAIT_OBJECTS &&
                   DuplicateHandle(process, open->completed, process, &events[watched], SYNCHRONIZE,
                                   FALSE, 0)) {
          handleOf[watched++] = k;
        }
      }
    }
    if (ready == 0 && watched == 0) {
      Sleep(ms);
    } else if (ready == 0) {
      const DWORD woke = WaitForMultipleObjects(static_cast<DWORD>(watched), events, FALSE, ms);
      if (woke < WAIT_OBJECT_0 + static_cast<DWORD>(watched)) {
        for (int n = static_cast<int>(woke - WAIT_OBJECT_0); n < watched; ++n) {
          if (WaitForSingleObject(events[n], 0) == WAIT_OBJECT_0) ready |= 1u << handleOf[n];
        }
      }
    }
    for (int n = 0; n < watched; ++n) CloseHandle(events[n]);
    return ready;
  }

 private:
  OpenInterface* Find(HANDLE file) {
    if (file == nullptr || file == INVALID_HANDLE_VALUE) return nullptr;
    for (OpenInterface& open : open_) {
      if (open.file == file) return &open;
    }
    return nullptr;
  }

  // Gives the interface its read buffer of one input report, once.
  bool Prepared(OpenInterface& open) {
    if (open.report != nullptr) return true;
    HidCaps caps;
    if (!Capabilities(reinterpret_cast<HidHandle>(open.file), caps) ||
        caps.inputReportLength == 0) {
      return false;
    }
    open.report = static_cast<std::uint8_t*>(std::malloc(caps.inputReportLength));
    open.reportLength = caps.inputReportLength;
    return open.report != nullptr;
  }

  // Issues the interface's read; false when the driver refuses it.
  static bool Issue(OpenInterface& open) {
    open.overlapped = OVERLAPPED{};
    open.overlapped.hEvent = open.completed;
    // Windows advises a null count pointer for overlapped reads; the count comes from
    // GetOverlappedResult.
    open.issued = ReadFile(open.file, open.report, open.reportLength, nullptr, &open.overlapped) ||
                  GetLastError() == ERROR_IO_PENDING;
    return open.issued;
  }

  // Takes the outstanding read's report, issuing the read first when none is outstanding. A
  // read that Windows cancelled because the thread that issued it ended is issued again.
  static Collected Collect(OpenInterface& open, DWORD& count) {
    for (int attempt = 0; attempt < 2; ++attempt) {
      if (!open.issued && !Issue(open)) return Collected::kFailed;
      if (GetOverlappedResult(open.file, &open.overlapped, &count, FALSE)) {
        open.issued = false;
        return count == 0 ? Collected::kPending : Collected::kReport;
      }
      const DWORD error = GetLastError();
      if (error == ERROR_IO_INCOMPLETE) return Collected::kPending;
      open.issued = false;
      if (error != ERROR_OPERATION_ABORTED) return Collected::kFailed;
    }
    return Collected::kPending;
  }

  SRWLOCK lock_ = SRWLOCK_INIT;
  OpenInterface open_[kMaxOpen];
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
