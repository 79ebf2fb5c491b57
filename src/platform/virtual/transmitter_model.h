// What a virtual transmitter does with the host's output reports: it keeps what they set and
// answers the identity commands with input reports, as the receiver would.
#pragma once

#include <cstdint>

#include "zavn/zavn_virtual.h"

namespace zavn::platform::virt {

inline constexpr int kReplyReportLength = 32;
inline constexpr int kMaxReplies = 1;

class TransmitterModel {
 public:
  using Reply = std::uint8_t[kReplyReportLength];

  // A fresh transmitter of player 0..3, with a serial number and version of its own.
  void Start(int player);

  // Takes one output report; writes the input reports that answer it into `replies` (at most
  // kMaxReplies) and returns their number.
  int Accept(const std::uint8_t* report, std::uint32_t length, Reply* replies);

  const ZAVNVirtualTransmitterState& State() const { return state_; }

 private:
  void ReplyWith(std::uint8_t letter, const std::uint8_t* payload, int bytes, Reply& reply) const;
  int AcceptAccount(const std::uint8_t* report, Reply& reply);

  ZAVNVirtualTransmitterState state_ = {};
};

}  // namespace zavn::platform::virt
