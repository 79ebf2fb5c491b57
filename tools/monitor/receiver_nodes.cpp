#include "receiver_nodes.h"

#include <filesystem>
#include <fstream>
#include <sstream>

namespace monitor {
namespace {

#if defined(_WIN32)
constexpr const char* kHidStack = "Windows HID";
#else
constexpr const char* kHidStack = "hidraw";
constexpr const char* kReceiverId = "HID_ID=0003:0000FFFF:00000008";  // USB, vendor, product
#endif

}  // namespace

std::string RealReceiverSought() {
  return std::string("receiver (USB id FFFF:0008) among the ") + kHidStack + " devices";
}

#if defined(_WIN32)
std::string RealReceiverPlace() {
  return kHidStack;
}
#else
std::string RealReceiverPlace() {
  namespace fs = std::filesystem;
  std::string text = kHidStack;
  std::error_code error;
  for (const fs::directory_entry& entry : fs::directory_iterator("/sys/class/hidraw", error)) {
    std::ifstream uevent(entry.path() / "device/uevent");
    std::stringstream contents;
    contents << uevent.rdbuf();
    if (contents.str().find(kReceiverId) != std::string::npos) {
      text += " /dev/" + entry.path().filename().string();
    }
  }
  return text;
}
#endif

}  // namespace monitor
