#include "receiver_nodes.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <vector>

#if !defined(_WIN32)
#include "node_access.h"
#endif

namespace tools {
namespace {

#if defined(_WIN32)
constexpr const char* kHidStack = "Windows HID";
#else
constexpr const char* kHidStack = "hidraw";
constexpr const char* kReceiverId = "HID_ID=0003:0000FFFF:00000008";  // USB, vendor, product
constexpr const char* kRule = "70-zavn-receiver.rules";

// A folder that stands in for / where the receiver's nodes and rule are looked for: the tests'
// made-up sysfs, nodes and rule folders. Unset, the system's own.
std::string Root() {
  const char* root = std::getenv("ZAVN_MONITOR_TEST_ROOT");
  return root != nullptr ? root : "";
}

// The receiver's nodes, "/dev/hidraw3", ..., in order.
std::vector<std::string> ReceiverNodes(const std::string& root) {
  namespace fs = std::filesystem;
  std::vector<std::string> nodes;
  std::error_code error;
  for (const fs::directory_entry& entry :
       fs::directory_iterator(root + "/sys/class/hidraw", error)) {
    std::ifstream uevent(entry.path() / "device/uevent");
    std::stringstream contents;
    contents << uevent.rdbuf();
    if (contents.str().find(kReceiverId) != std::string::npos) {
      nodes.push_back("/dev/" + entry.path().filename().string());
    }
  }
  std::sort(nodes.begin(), nodes.end());
  return nodes;
}

#endif

}  // namespace

std::string RealReceiverSought() {
  return std::string("receiver (USB id FFFF:0008) among the ") + kHidStack + " devices";
}

#if defined(_WIN32)
std::string RealReceiverPlace() {
  return kHidStack;
}

std::string ReceiverRefusal() {
  return {};
}
#else
std::string RealReceiverPlace() {
  std::string text = kHidStack;
  for (const std::string& node : ReceiverNodes(Root())) text += " " + node;
  return text;
}

std::string ReceiverRefusal() {
  const std::string root = Root();
  std::string refused;
  for (const std::string& node : ReceiverNodes(root)) {
    const std::string why = NodeRefusal(root, node);
    if (!why.empty()) refused += "  " + why + "\n";
  }
  if (refused.empty()) return {};
  return "found a receiver (USB id FFFF:0008), but user " + CurrentUser() +
         "\nmay not read and write its nodes:\n" + refused +
         RuleAdvice(root, kRule, "zavn-monitor", "them");
}
#endif

}  // namespace tools
