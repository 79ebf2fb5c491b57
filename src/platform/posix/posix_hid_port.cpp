// OS HID backend on POSIX. This build has no OS HID stack yet: it enumerates no interface, so
// discovery finds nothing and every slot reports LINK_NO_DEVICE. The virtual receiver works as
// on every OS.
#include "platform/hid_port.h"

namespace zavn::platform {
namespace {

class NoHidStack final : public HidPort {
 public:
  PathResult InterfacePath(std::uint32_t, char (&)[kDevicePathSize]) override {
    return PathResult::kEnd;
  }
  HidHandle Open(const char*) override { return kInvalidHidHandle; }
  void Close(HidHandle) override {}
  bool Attributes(HidHandle, HidAttributes&) override { return false; }
  bool Capabilities(HidHandle, HidCaps&) override { return false; }
  bool NumInputBuffers(HidHandle, std::uint32_t&) override { return false; }
  bool ProductString(HidHandle, void*, std::uint32_t) override { return false; }
  ReadOutcome Read(HidHandle, std::uint8_t*, std::uint32_t) override {
    return {ReadOutcome::kError, 0};
  }
  WriteOutcome SetOutputReport(HidHandle, const std::uint8_t*, std::uint32_t) override {
    return {false, kErrorInvalidHandle};
  }
};

}  // namespace

HidPort& OsHidPort() {
  static NoHidStack port;
  return port;
}

}  // namespace zavn::platform
