// Why this user may not open a device node, in words, and the udev rule that would let them
// (POSIX systems).
#pragma once

#include <string>

namespace tools {

// The user the program runs as, by name.
std::string CurrentUser();

// "/dev/hidraw3 (owner root, group root, mode 0600)" when this user may not read and write
// root + node for want of permission; else empty (a node that is missing is another matter).
std::string NodeRefusal(const std::string& root, const std::string& node);

// How the udev rule `rule` gives `what` ("them", "it") to the user at the seat: where the
// package `package` installs it, or where it is installed already (under `root`), then the
// commands that apply it.
std::string RuleAdvice(const std::string& root, const std::string& rule, const std::string& package,
                       const std::string& what);

}  // namespace tools
