// A host may return from main while the library's threads run (the poll thread is left running
// at exit on purpose, as a host may still poll): exit must destroy nothing they use. Each exit
// is a child process of its own, four transmitters streaming 1000 records a second into a
// capture with the hotplug on; under AddressSanitizer a use of freed memory fails the child.
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "zavn/zavn.h"
#include "zavn/zavn_virtual.h"

namespace {

constexpr int kExits = 200;

[[noreturn]] void StreamAndExit(const std::string& capture) {
  ZAVNVirtualSelect(1);
  ZAVNInit();
  ZAVNReset();
  if (ZAVNVirtualPlugReceiver(4, 1000) <= 0 || ZAVNStartCapture(capture.c_str()) != 1) _exit(2);
  ZAVNConnectRx();
  ZAVNRoutineFunc();
  ZAVNSwitchHotplug(1);
  if (ZAVNGetRxStatus(1) != LINK_OK) _exit(3);
  // Exit meets the threads at any point of their cycles: the reports stream from the plug on.
  std::this_thread::sleep_for(std::chrono::microseconds(::getpid() % 20000));
  std::exit(0);
}

TEST(ExitTest, ExitingWhileCapturingAtFullRateFaultsNever) {
  const std::string capture = (std::filesystem::temp_directory_path() /
                               ("zavn-exit-" + std::to_string(::getpid()) + ".pcapng"))
                                  .string();
  for (int k = 0; k < kExits; ++k) {
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) StreamAndExit(capture);
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0)
        << "exit " << k + 1 << " of " << kExits << " failed: "
        << (WIFEXITED(status) ? "status " + std::to_string(WEXITSTATUS(status))
                              : "signal " + std::to_string(WTERMSIG(status)));
  }
  std::filesystem::remove(capture);
}

}  // namespace
