#include "transport/hid_device.h"

#include <cstring>

#include "platform/virtual/virtual_receiver.h"

namespace zavn::transport {

using platform::HidHandle;
using platform::kInvalidHidHandle;
using platform::LockGuard;

CHIDDevice::CHIDDevice() {
  Init();
}

CHIDDevice::~CHIDDevice() {
  LockGuard guard(lock_);
  if (isOpen_ != 0) CloseLocked();
}

void CHIDDevice::Init() {
  LockGuard guard(lock_);
  InitLocked();
}

void CHIDDevice::InitLocked() {
  port_ = nullptr;
  handle_ = kInvalidHidHandle;
  isOpen_ = 0;
  lengths_ = {};
  std::memset(devicePath_, 0, sizeof devicePath_);
  // Until the driver is asked, the slot holds the largest count the OS's HID driver allows.
  numInputBuffers_ = platform::ActiveSystem().MaxInputBuffers();
}

void CHIDDevice::CloseLocked() {
  if (UsableLocked() && port_ != nullptr) port_->Close(handle_);
  InitLocked();
}

bool CHIDDevice::IsOpen() {
  LockGuard guard(lock_);
  if (isOpen_ == 0) return false;
  if (UsableLocked()) return true;
  InitLocked();
  return false;
}

void CHIDDevice::Close() {
  LockGuard guard(lock_);
  if (isOpen_ != 0) CloseLocked();
}

void CHIDDevice::Take(platform::HidPort& port, HidHandle handle, const char* devicePath) {
  LockGuard guard(lock_);
  port_ = &port;
  handle_ = handle;
  isOpen_ = 1;
  ++takes_;
  if (devicePath != nullptr) {
    std::strncpy(devicePath_, devicePath, sizeof devicePath_ - 1);
    devicePath_[sizeof devicePath_ - 1] = '\0';
  }
  platform::HidCaps caps;
  if (!port.Capabilities(handle, caps)) return;
  // A zero length leaves the field as it was.
  if (caps.inputReportLength != 0) lengths_.inputReportLength = caps.inputReportLength;
  if (caps.outputReportLength != 0) lengths_.outputReportLength = caps.outputReportLength;
  if (caps.featureReportLength != 0) lengths_.featureReportLength = caps.featureReportLength;
  // A deep queue holds the reports that arrive while the poll thread is busy elsewhere; a
  // backend whose queue is fixed refuses the request and keeps its own.
  port.SetNumInputBuffers(handle, platform::kMaxInputQueueReports);
  std::uint32_t buffers = 0;
  if (port.NumInputBuffers(handle, buffers)) numInputBuffers_ = buffers;
}

ZAVNLinkState CHIDDevice::ReadReports(InputBuffer& buffer, std::uint32_t& count) {
  LockGuard guard(lock_);
  if (isOpen_ == 0) return LINK_NO_DEVICE;
  if (!UsableLocked() || port_ == nullptr) {
    InitLocked();
    return LINK_NO_DEVICE;
  }
  const std::uint32_t requested = ReadRequestBytes(lengths_.inputReportLength);
  const platform::ReadOutcome outcome = port_->Read(handle_, buffer.data(), requested);
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
  LockGuard guard(lock_);
  if (isOpen_ == 0) return {};
  if (!UsableLocked() || port_ == nullptr) {
    InitLocked();
    return {};
  }
  return port_->SetOutputReport(handle_, report, length);
}

bool CHIDDevice::ProductString(void* buffer, std::uint32_t bytes) {
  LockGuard guard(lock_);
  if (isOpen_ == 0 || !UsableLocked() || port_ == nullptr) return false;
  return port_->ProductString(handle_, buffer, bytes);
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
CHIDDevice g_slots[kSlotCount];
}

CHIDDevice& Slot(int index) {
  return g_slots[index];
}

}  // namespace zavn::transport
