// The receiver a tool (zavn-monitor, zavn-bridge) uses: a real one when present (unless told
// otherwise), else the virtual one. The library follows its arrivals and removals
// (ZAVNSwitchHotplug); where the system cannot report them, it is reconnected whenever every link,
// or the link it needs, is down.
#pragma once

#include <chrono>
#include <string>

#include "tool_options.h"

namespace tools {

using Clock = std::chrono::steady_clock;

class ReceiverLink {
 public:
  // `program` names the tool in what it says on standard error.
  explicit ReceiverLink(const char* program) : program_(program) {}
  // Connects as the options ask; false with `error` set when there is nothing to connect to,
  // or when a real receiver is there that this user may not open (not replaced by the virtual
  // one then).
  bool Open(const LinkOptions& options, std::string& error);
  // "a real receiver", "the virtual receiver with N transmitters" or "a replay of FILE".
  const std::string& Description() const { return description_; }
  // Why the receiver is not the one a user might expect (no real one found), or empty.
  const std::string& Notice() const { return notice_; }
  bool IsVirtual() const { return virtual_; }
  // Without the hotplug: connects again when no player's link is up, or when the given player's
  // is not (a receiver being updated drops off while the others stay), at most twice a second.
  // While following, the library does that itself and this does nothing.
  void Keep(int player = 0);
  void Close();

 private:
  bool Connect();
  void Follow();
  bool OpenReplay(const LinkOptions& options, std::string& error);

  const char* program_;
  std::string description_, notice_;
  bool virtual_ = false;
  bool following_ = false;
  Clock::time_point lastTry_{};
};

}  // namespace tools
