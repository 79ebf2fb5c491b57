// CHIDDevice: one device slot, holding at most one opened HID interface of the receiver.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "platform/hid_port.h"
#include "platform/system.h"
#include "transport/input_buffer.h"
#include "zavn/zavn.h"

namespace zavn::transport {

// An interface opened for a slot, with what the slot keeps of it read from the backend
// beforehand: taking it into a slot then makes no call into the backend.
struct OpenedInterface {
  platform::HidPort* port = nullptr;
  platform::HidHandle handle = platform::kInvalidHidHandle;
  std::string path;
  platform::HidCaps caps;
  bool capsKnown = false;
  std::uint32_t inputBuffers = 0;
  bool inputBuffersKnown = false;
};
// Reads the report lengths, asks the driver for its deepest input queue and reads the
// input-buffer count it then has.
OpenedInterface PrepareInterface(platform::HidPort& port, platform::HidHandle handle,
                                 const char* devicePath);

// The slot's own lock guards its fields and is held only briefly, never across a call into the
// HID backend: a read or write borrows the open interface (a shared reference) and runs without
// it, so a slow write on one slot holds up nobody else's read, and a slot's observers never wait
// for its I/O. Closing a slot marks it closed at once; the handle itself is closed when the last
// read or write that borrowed it returns, so a handle is never used after its close (nor its
// number taken by a later open).
class CHIDDevice {
 public:
  CHIDDevice();
  virtual ~CHIDDevice();
  CHIDDevice(const CHIDDevice&) = delete;
  CHIDDevice& operator=(const CHIDDevice&) = delete;

  // Puts the slot in the closed state. Closes no handle: callers close a usable one first.
  void Init();
  // True when the slot is marked open and its handle is usable; a slot marked open without a
  // usable handle is put back to closed.
  bool IsOpen();
  // Closes the handle when usable and puts the slot in the closed state; nothing happens to a
  // slot that is not marked open.
  void Close();

  // Takes an opened interface into the slot: marks it open with the handle, keeps its device
  // path, and its report lengths (a zero length leaves the field as it was) and input-buffer
  // count where they are known. A handle the slot held before is closed.
  void Take(const OpenedInterface& opened);
  void Take(platform::HidPort& port, platform::HidHandle handle, const char* devicePath) {
    Take(PrepareInterface(port, handle, devicePath));
  }

  // One read of the queued input reports into the buffer, never waiting.
  ZAVNLinkState ReadReports(InputBuffer& buffer, std::uint32_t& count);
  // One output report under the write convention: a slot not open gets nothing, one marked
  // open without a usable handle is closed and gets nothing. `written` false with error 0
  // means nothing was sent.
  platform::WriteOutcome WriteOutputReport(const std::uint8_t* report, std::uint32_t length);
  // The interface's product string; false on a closed slot or a failed query.
  bool ProductString(void* buffer, std::uint32_t bytes);

  // Observers, each one consistent reading of the slot.
  bool MarkedOpen();
  platform::HidHandle Handle();
  platform::HidPort* Port();  // the backend of the handle; null while closed
  platform::HidCaps ReportLengths();
  std::uint32_t NumInputBuffers();
  void DevicePath(char (&path)[platform::kDevicePathSize]);
  // True while the slot holds an interface opened through a port other than the virtual
  // receiver: an OS backend, or a test's stand-in for one.
  bool OpenOutsideVirtualReceiver();
  // How many interfaces the slot has taken since the library was loaded: a change means that
  // the device behind the slot may have restarted.
  std::uint32_t Takes();

 private:
  // An opened interface; its destructor closes the handle.
  struct OpenInterface {
    platform::HidPort& port;
    const platform::HidHandle handle;
    ~OpenInterface();
  };
  using Borrowed = std::shared_ptr<OpenInterface>;
  // The open interface for one read or write, or null when there is none (a slot marked open
  // without a usable handle is put back to closed).
  Borrowed Borrow();

  void InitLocked();
  bool UsableLocked() const { return platform::IsUsable(handle_); }
  // Puts the slot in the closed state; returns the interface, to be let go of after the lock.
  Borrowed CloseLocked();

  platform::Lock lock_;
  Borrowed open_;                      // set while the slot holds a usable handle
  platform::HidPort* port_ = nullptr;  // the backend the handle belongs to
  platform::HidHandle handle_ = platform::kInvalidHidHandle;
  std::int32_t isOpen_ = 0;
  platform::HidCaps lengths_;
  std::uint32_t numInputBuffers_ = 0;
  std::uint32_t takes_ = 0;  // never reset
  char devicePath_[platform::kDevicePathSize] = {};
};

inline constexpr int kSlotCount = 4;

// The four device slots, index PlayerIndex - 1. They live as long as the library; unloading it
// closes any slot still open.
CHIDDevice& Slot(int index);

}  // namespace zavn::transport
