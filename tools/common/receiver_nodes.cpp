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
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace tools {
namespace {

#if defined(_WIN32)
constexpr const char* kHidStack = "Windows HID";
#else
constexpr const char* kHidStack = "hidraw";
constexpr const char* kReceiverId = "HID_ID=0003:0000FFFF:00000008";  // USB, vendor, product
constexpr const char* kRule = "70-zavn-receiver.rules";
// Where udev reads rules from.
constexpr const char* kRuleFolders[] = {"/etc/udev/rules.d", "/run/udev/rules.d",
                                        "/usr/lib/udev/rules.d", "/lib/udev/rules.d"};

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

std::string UserName(uid_t user) {
  const passwd* entry = getpwuid(user);
  return entry != nullptr ? entry->pw_name : "uid " + std::to_string(user);
}

std::string GroupName(gid_t group) {
  const struct group* entry = getgrgid(group);
  return entry != nullptr ? entry->gr_name : "gid " + std::to_string(group);
}

// "/dev/hidraw3 (owner root, group root, mode 0600)" when this user may not open it for reading
// and writing, as the library opens it; else empty (a node that is missing is another matter).
std::string Refused(const std::string& root, const std::string& node) {
  const std::string path = root + node;
  struct stat status {};
  if (access(path.c_str(), R_OK | W_OK) == 0 || errno != EACCES ||
      stat(path.c_str(), &status) != 0) {
    return {};
  }
  char mode[8];
  std::snprintf(mode, sizeof mode, "%04o", static_cast<unsigned>(status.st_mode & 07777));
  return path + " (owner " + UserName(status.st_uid) + ", group " + GroupName(status.st_gid) +
         ", mode " + mode + ")";
}

// Where udev finds the receiver's rule, or empty.
std::string InstalledRule(const std::string& root) {
  std::error_code error;
  for (const char* folder : kRuleFolders) {
    const std::string path = std::string(folder) + "/" + kRule;
    if (std::filesystem::exists(root + path, error)) return path;
  }
  return {};
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
    const std::string why = Refused(root, node);
    if (!why.empty()) refused += "  " + why + "\n";
  }
  if (refused.empty()) return {};
  std::string text = "found a receiver (USB id FFFF:0008), but user " + UserName(getuid()) +
                     " may not read and write its nodes:\n" + refused;
  const std::string rule = InstalledRule(root);
  if (rule.empty()) {
    text += "The udev rule packaging/udev/" + std::string(kRule) +
            " gives them to the user at the seat:\n"
            "the zavn-monitor package puts it in /usr/lib/udev/rules.d, as does cmake --install\n"
            "with prefix /usr (or copy it into /etc/udev/rules.d); then run\n";
  } else {
    text += "The udev rule " + rule + " gives them to the user at the seat\n" +
            "(a local login) once applied: plug the receiver in again, or run\n";
  }
  return text + "  sudo udevadm control --reload-rules && sudo udevadm trigger";
}
#endif

}  // namespace tools
