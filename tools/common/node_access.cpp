#include "node_access.h"

#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <filesystem>

namespace tools {
namespace {

// Where udev reads rules from.
constexpr const char* kRuleFolders[] = {"/etc/udev/rules.d", "/run/udev/rules.d",
                                        "/usr/lib/udev/rules.d", "/lib/udev/rules.d"};

std::string UserName(uid_t user) {
  const passwd* entry = getpwuid(user);
  return entry != nullptr ? entry->pw_name : "uid " + std::to_string(user);
}

std::string GroupName(gid_t group) {
  const struct group* entry = getgrgid(group);
  return entry != nullptr ? entry->gr_name : "gid " + std::to_string(group);
}

}  // namespace

std::string CurrentUser() {
  return UserName(geteuid());
}

std::string NodeRefusal(const std::string& root, const std::string& node) {
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

std::string RuleAdvice(const std::string& root, const std::string& rule, const std::string& package,
                       const std::string& what) {
  std::string installed;
  std::error_code error;
  for (const char* folder : kRuleFolders) {
    const std::string path = std::string(folder) + "/" + rule;
    if (std::filesystem::exists(root + path, error)) {
      installed = path;
      break;
    }
  }
  std::string text;
  // Lines within 80 columns.
  if (installed.empty()) {
    text = "The udev rule packaging/udev/" + rule + " gives " + what +
           "\nto the user at the seat: the " + package +
           " package puts it in\n/usr/lib/udev/rules.d, as does cmake --install with prefix /usr "
           "(or copy it\ninto /etc/udev/rules.d); then run\n";
  } else {
    text = "The udev rule " + installed + " gives " + what +
           "\nto the user at the seat (a local login, not over ssh) once applied: run\n";
  }
  return text + "  sudo udevadm control --reload-rules && sudo udevadm trigger";
}

}  // namespace tools
