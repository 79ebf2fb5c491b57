// One USB bus's traffic captured through the kernel's usbmon by dumpcap (of Debian's tshark
// package, which tests/kernel/run puts into the guest when the machine has it): a pcapng file
// of Linux usbmon packets (link type 220), as a user would make one with Wireshark or tshark.
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <thread>

namespace zavn::testing::usb {

class UsbmonCapture {
 public:
  // Starts dumpcap on bus `bus` (usbmonB) writing `file`, and returns once it captures: Running(),
  // else Output() says why.
  UsbmonCapture(int bus, const std::string& file) {
    const std::string interface = "usbmon" + std::to_string(bus);
    const int log = open(kLog, O_WRONLY | O_CREAT | O_TRUNC, 0644);
    pid_ = fork();
    if (pid_ == 0) {
      dup2(log, STDOUT_FILENO);
      dup2(log, STDERR_FILENO);
      execlp("dumpcap", "dumpcap", "-q", "-i", interface.c_str(), "-w", file.c_str(),
             static_cast<char*>(nullptr));
      _exit(kNotRun);
    }
    if (log >= 0) close(log);
    // dumpcap's line once it captures into the file (after it has opened the interface).
    if (pid_ < 0 || Await([this] { return Output().find("File: ") != std::string::npos; })) return;
    if (Running()) kill(pid_, SIGKILL);
    Await();
  }
  ~UsbmonCapture() { Stop(); }
  UsbmonCapture(const UsbmonCapture&) = delete;
  UsbmonCapture& operator=(const UsbmonCapture&) = delete;

  bool Running() const { return pid_ > 0 && exit_ < 0; }
  // True when dumpcap could not be started at all (not in the guest).
  bool Missing() const { return exit_ == kNotRun; }
  // Stops the capture as Ctrl-C does and waits until dumpcap has finished the file; true when it
  // exited normally.
  bool Stop() {
    if (!Running()) return false;
    kill(pid_, SIGINT);
    if (!Await()) kill(pid_, SIGKILL);
    return Await() && exit_ == 0;
  }
  // The packets dumpcap captured and dropped, as it reports them when it stops (-1 unsaid):
  // "Packets received/dropped on interface 'usbmonB': R/D (...)".
  long Captured() const { return After(Output(), Output().find("Packets captured"), ':'); }
  long Dropped() const {
    const std::string output = Output();
    return After(output, output.find("': ", output.find("received/dropped on interface")), '/');
  }
  // What dumpcap wrote on its standard error.
  std::string Output() const {
    std::ifstream in(kLog);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  }

 private:
  static constexpr const char* kLog = "/tmp/dumpcap.log";
  static constexpr int kNotRun = 127;  // the exit status when dumpcap could not be run

  // True once `done` holds, or, with none, once dumpcap has exited (reaped); false when it
  // exited first or after 10 s, in which dumpcap starts under emulation and stops at once.
  bool Await(const std::function<bool()>& done = nullptr) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    for (int status = 0; Running(); std::this_thread::sleep_for(std::chrono::milliseconds(5))) {
      if (done != nullptr && done()) return true;
      if (waitpid(pid_, &status, WNOHANG) == pid_)
        exit_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128;
      else if (std::chrono::steady_clock::now() > end)
        return false;
    }
    return done == nullptr;
  }
  // The number after the first `mark` from `at` on; -1 when there is none.
  static long After(const std::string& text, std::size_t at, char mark) {
    if (at != std::string::npos) at = text.find(mark, at);
    return at == std::string::npos ? -1 : std::atol(text.c_str() + at + 1);
  }

  pid_t pid_ = -1;
  int exit_ = -1;  // dumpcap's exit status once it has ended
};

}  // namespace zavn::testing::usb
