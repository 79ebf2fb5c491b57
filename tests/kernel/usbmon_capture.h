// One USB bus's traffic captured through the kernel's usbmon by dumpcap (of Debian's tshark
// package, which tests/kernel/run puts into the guest when the machine has it): a pcapng file
// of Linux usbmon packets (link type 220), as a user would make one with Wireshark or tshark.
#pragma once

#include <sys/types.h>

#include <string>

namespace zavn::testing::usb {

class UsbmonCapture {
 public:
  // Starts dumpcap on bus `bus` (usbmonB) writing `file`, and returns once it captures: Running(),
  // else Output() says why.
  UsbmonCapture(int bus, const std::string& file);
  ~UsbmonCapture();  // stops a capture still running
  UsbmonCapture(const UsbmonCapture&) = delete;
  UsbmonCapture& operator=(const UsbmonCapture&) = delete;

  bool Running() const { return pid_ > 0; }
  // True when dumpcap could not be started at all (not in the guest).
  bool Missing() const { return missing_; }
  // Stops the capture as Ctrl-C does and waits until dumpcap has finished the file; true when it
  // exited normally.
  bool Stop();
  // The packets dumpcap captured and dropped, as it reports them when it stops (-1 unsaid).
  long Captured() const { return Figure("Packets captured: "); }
  long Dropped() const;
  // What dumpcap wrote on its standard error.
  const std::string& Output() const { return output_; }

 private:
  // Reads dumpcap's standard error into output_ until `until` appears (null: until dumpcap
  // closes it); false when it closes before or the time limit passes.
  bool Read(const char* until);
  long Figure(const char* label) const;

  pid_t pid_ = -1;
  int fd_ = -1;
  bool missing_ = false;
  std::string output_;
};

}  // namespace zavn::testing::usb
