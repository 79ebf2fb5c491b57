#include "receiver_nodes.h"

#include <filesystem>
#include <fstream>
#include <sstream>

namespace monitor {

#if defined(_WIN32)
std::string OsBackendDescription() {
  return "Windows HID";
}
#else
namespace {
constexpr const char* kReceiverId = "HID_ID=0003:0000FFFF:00000008";
}

// The hidraw nodes whose HID device is the receiver, as the library's backend finds them.
std::string OsBackendDescription() {
  namespace fs = std::filesystem;
  std::string text = "hidraw:";
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
