// The OS HID backend on Linux: the kernel's hidraw nodes, with identity and report lengths from
// sysfs (or the hidraw ioctls).
#pragma once

#include <string>

#include "platform/hid_port.h"

namespace zavn::platform {

// Where the backend looks: the hidraw class folder of sysfs and the folder of the device nodes.
// Tests point them at a fake tree.
struct HidrawRoots {
  std::string sysfs = "/sys/class/hidraw";
  std::string devices = "/dev";
};
void SetHidrawRoots(const HidrawRoots& roots);

// hidraw keeps up to 64 reports per open node.
inline constexpr std::uint32_t kHidrawQueueReports = 64;

// The longest output report the backend sends; longer ones are refused, not cut. The library's
// reports are at most 33 bytes; this is a full-speed interrupt packet, with room to spare.
inline constexpr std::uint32_t kHidrawMaxOutputReport = 64;

}  // namespace zavn::platform
