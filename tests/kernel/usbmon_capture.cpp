#include "kernel/usbmon_capture.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace zavn::testing::usb {
namespace {

// The child's exit status when dumpcap could not be run.
constexpr int kNotRun = 127;
// dumpcap starts in under a second under emulation and stops at once.
constexpr auto kLimit = std::chrono::seconds(10);
// dumpcap's line once it captures into the file (after it has opened the interface).
constexpr const char* kCapturing = "File: ";
constexpr const char* kDroppedLine = "received/dropped on interface";

}  // namespace

UsbmonCapture::UsbmonCapture(int bus, const std::string& file) {
  int pipeFds[2];
  if (pipe2(pipeFds, O_CLOEXEC) != 0) {
    output_ = std::string("pipe: ") + std::strerror(errno);
    return;
  }
  const std::string interface = "usbmon" + std::to_string(bus);
  pid_ = fork();
  if (pid_ == 0) {
    dup2(pipeFds[1], STDERR_FILENO);
    dup2(pipeFds[1], STDOUT_FILENO);
    execlp("dumpcap", "dumpcap", "-q", "-i", interface.c_str(), "-w", file.c_str(),
           static_cast<char*>(nullptr));
    std::fprintf(stderr, "dumpcap: %s\n", std::strerror(errno));
    _exit(kNotRun);
  }
  close(pipeFds[1]);
  fd_ = pipeFds[0];
  if (pid_ < 0) {
    output_ = std::string("fork: ") + std::strerror(errno);
    return;
  }
  if (Read(kCapturing)) return;
  kill(pid_, SIGKILL);
  int status = 0;
  waitpid(pid_, &status, 0);
  missing_ = WIFEXITED(status) && WEXITSTATUS(status) == kNotRun;
  pid_ = -1;
}

UsbmonCapture::~UsbmonCapture() {
  Stop();
  if (fd_ >= 0) close(fd_);
}

bool UsbmonCapture::Read(const char* until) {
  const auto deadline = std::chrono::steady_clock::now() + kLimit;
  for (;;) {
    if (until != nullptr && output_.find(until) != std::string::npos) return true;
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    pollfd wait{fd_, POLLIN, 0};
    if (left.count() <= 0 || poll(&wait, 1, static_cast<int>(left.count())) <= 0) return false;
    char buffer[512];
    const ssize_t got = read(fd_, buffer, sizeof buffer);
    if (got <= 0) return got == 0 && until == nullptr;
    output_.append(buffer, static_cast<std::size_t>(got));
  }
}

bool UsbmonCapture::Stop() {
  if (pid_ <= 0) return false;
  kill(pid_, SIGINT);
  // Till dumpcap closes its end: it has written its last figures.
  if (!Read(nullptr)) kill(pid_, SIGKILL);
  int status = 0;
  waitpid(pid_, &status, 0);
  pid_ = -1;
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

long UsbmonCapture::Figure(const char* label) const {
  const std::size_t at = output_.find(label);
  return at == std::string::npos ? -1 : std::atol(output_.c_str() + at + std::strlen(label));
}

long UsbmonCapture::Dropped() const {
  // "Packets received/dropped on interface 'usbmonB': R/D (...)"
  std::size_t at = output_.find(kDroppedLine);
  if (at != std::string::npos) at = output_.find("': ", at);
  if (at != std::string::npos) at = output_.find('/', at);
  return at == std::string::npos ? -1 : std::atol(output_.c_str() + at + 1);
}

}  // namespace zavn::testing::usb
