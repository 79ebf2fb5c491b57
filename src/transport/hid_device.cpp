#include "transport/hid_device.h"

#include <array>
#include <cstring>

#include "platform/never_destroyed.h"
#include "platform/virtual/virtual_receiver.h"

namespace zavn::transport {

using platform::HidHandle;
using platform::kInvalidHidHandle;
using platform::LockGuard;

CHIDDevice::OpenInterface::~OpenInterface() {
  port.Close(handle);
}

CHIDDevice::CHIDDevice() {
  Init();
}

CHIDDevice::~CHIDDevice() {
  Borrowed closed;
  LockGuard guard(lock_);
  if (isOpen_ != 0) closed = CloseLocked();
}

void CHIDDevice::Init() {
  Borrowed dropped;
  LockGuard guard(lock_);
  dropped = std::move(open_);
  InitLocked();
}

void CHIDDevice::InitLocked() {
  open_.reset();
  port_ = nullptr;
  handle_ = kInvalidHidHandle;
  isOpen_ = 0;
  lengths_ = {};
  std::memset(devicePath_, 0, sizeof devicePath_);
  // Until the driver is asked, the slot holds the largest count the OS's HID driver allows.
  numInputBuffers_ = platform::ActiveSystem().MaxInputBuffers();
}

CHIDDevice::Borrowed CHIDDevice::CloseLocked() {
  Borrowed closed = std::move(open_);
  InitLocked();
  return closed;
}

bool CHIDDevice::IsOpen() {
  LockGuard guard(lock_);
  if (isOpen_ == 0) return false;
  if (UsableLocked()) return true;
  InitLocked();
  return false;
}

void CHIDDevice::Close() {
  Borrowed closed;  // declared first: let go of after the lock
  LockGuard guard(lock_);
  if (isOpen_ != 0) closed = CloseLocked();
}

OpenedInterface PrepareInterface(platform::HidPort& port, HidHandle handle,
                                 const char* devicePath) {
  OpenedInterface opened;
  opened.port = &port;
  opened.handle = handle;
  if (devicePath != nullptr) opened.path = devicePath;
  opened.capsKnown = port.Capabilities(handle, opened.caps);
  if (opened.capsKnown) {
    // A deep queue holds the reports that arrive while the poll thread is busy elsewhere; a
    // backend whose queue is fixed refuses the request and keeps its own.
    port.SetNumInputBuffers(handle, platform::kMaxInputQueueReports);
    opened.inputBuffersKnown = port.NumInputBuffers(handle, opened.inputBuffers);
  }
  return opened;
}

void CHIDDevice::Take(const OpenedInterface& opened) {
  Borrowed taken;
  if (platform::IsUsable(opened.handle))
    taken.reset(new OpenInterface{*opened.port, opened.handle});

  Borrowed replaced;  // declared before the guard: closed after the lock is let go of
  LockGuard guard(lock_);
  replaced = std::move(open_);
  open_ = std::move(taken);
  port_ = opened.port;
  handle_ = opened.handle;
  isOpen_ = 1;
  ++takes_;
  std::strncpy(devicePath_, opened.path.c_str(), sizeof devicePath_ - 1);
  devicePath_[sizeof devicePath_ - 1] = '\0';
  if (!opened.capsKnown) return;
  const platform::HidCaps& caps = opened.caps;
  if (caps.inputReportLength != 0) lengths_.inputReportLength = caps.inputReportLength;
  if (caps.outputReportLength != 0) lengths_.outputReportLength = caps.outputReportLength;
  if (caps.featureReportLength != 0) lengths_.featureReportLength = caps.featureReportLength;
  if (opened.inputBuffersKnown) numInputBuffers_ = opened.inputBuffers;
}

CHIDDevice::Borrowed CHIDDevice::Borrow() {
  LockGuard guard(lock_);
  if (isOpen_ == 0) return nullptr;
  if (!UsableLocked() || open_ == nullptr) {
    InitLocked();
    return nullptr;
  }
  return open_;
}

ZAVNLinkState CHIDDevice::ReadReports(InputBuffer& buffer, std::uint32_t& count) {
  std::uint32_t requested = 0;
  {
    LockGuard guard(lock_);
    requested = ReadRequestBytes(lengths_.inputReportLength);
  }
  const Borrowed open = Borrow();
  if (open == nullptr) return LINK_NO_DEVICE;
  const platform::ReadOutcome outcome = open->port.Read(open->handle, buffer.data(), requested);
  switch (outcome.kind) {
    case platform::ReadOutcome::kDone:
      count = outcome.bytes;
      return LINK_OK;
    case platform::ReadOutcome::kNothingYet:
      return LINK_TIMEOUT;
    case platform::ReadOutcome::kError:
      break;
  }
  // A failed read delivers nothing: whatever it wrote must not be decoded after a reconnect.
  std::memset(buffer.data(), 0, requested);
  return LINK_READ_ERROR;
}

platform::WriteOutcome CHIDDevice::WriteOutputReport(const std::uint8_t* report,
                                                     std::uint32_t length) {
  const Borrowed open = Borrow();
  if (open == nullptr) return {};
  return open->port.SetOutputReport(open->handle, report, length);
}

bool CHIDDevice::ProductString(void* buffer, std::uint32_t bytes) {
  Borrowed open;
  {
    LockGuard guard(lock_);
    if (isOpen_ == 0 || !UsableLocked()) return false;
    open = open_;
  }
  return open != nullptr && open->port.ProductString(open->handle, buffer, bytes);
}

bool CHIDDevice::MarkedOpen() {
  LockGuard guard(lock_);
  return isOpen_ != 0;
}

HidHandle CHIDDevice::Handle() {
  LockGuard guard(lock_);
  return handle_;
}

platform::HidPort* CHIDDevice::Port() {
  LockGuard guard(lock_);
  return port_;
}

platform::HidCaps CHIDDevice::ReportLengths() {
  LockGuard guard(lock_);
  return lengths_;
}

std::uint32_t CHIDDevice::NumInputBuffers() {
  LockGuard guard(lock_);
  return numInputBuffers_;
}

void CHIDDevice::DevicePath(char (&path)[platform::kDevicePathSize]) {
  LockGuard guard(lock_);
  std::memcpy(path, devicePath_, sizeof path);
}

bool CHIDDevice::OpenOutsideVirtualReceiver() {
  LockGuard guard(lock_);
  return isOpen_ != 0 && port_ != nullptr && port_ != &platform::virt::Receiver();
}

std::uint32_t CHIDDevice::Takes() {
  LockGuard guard(lock_);
  return takes_;
}

namespace {
platform::NeverDestroyed<std::array<CHIDDevice, kSlotCount>> g_slots;
}

CHIDDevice& Slot(int index) {
  return (*g_slots)[index];
}

}  // namespace zavn::transport
