// The threads the test process has now, as the kernel lists them.
#pragma once

#include <filesystem>
#include <iterator>

namespace zavn::testing {

inline int ProcessThreads() {
  const std::filesystem::directory_iterator tasks("/proc/self/task");
  return static_cast<int>(std::distance(begin(tasks), end(tasks)));
}

}  // namespace zavn::testing
