// The receiver's side of a firmware update, as its product string tells which firmware runs:
//   "nRFUSBDongle"    takes the table image's rows, answers each with a boot-loader record, and
//                     after the check frame comes back as "NOLTADongle";
//   "NOLTADongle"     on the erase report drops off and comes back as "NOLTABootloader";
//   "NOLTABootloader" answers the boot commands and each HEX line with boot-loader records, sums
//                     the data bytes it received since the first step command, confirms a matching
//                     checksum report with 0x79 0x85, and after the finish command comes back as
//                     "NOLTAZ";
//   "NOLTAZ"          after the end of the serial write-back comes back as "NOLTADongle".
#pragma once

#include <cstdint>

#include "platform/virtual/transmitter_model.h"

namespace zavn::platform::virt {

inline constexpr const char* kDongleProduct = "NOLTADongle";
inline constexpr const char* kNrfDongleProduct = "nRFUSBDongle";
inline constexpr const char* kBootloaderProduct = "NOLTABootloader";
inline constexpr const char* kZProduct = "NOLTAZ";

// A change of firmware: the receiver drops off and comes back under another product string,
// `afterMs` after the report that caused it.
struct Reenumeration {
  const char* product = nullptr;  // null: the receiver stays as it is
  std::uint32_t afterMs = 0;
};

// How long a receiver that has taken its serial number back stays before it restarts.
inline constexpr std::uint32_t kRestartAfterSerialMs = 500;

class UpdateModel {
 public:
  // Starts the model of a receiver that has just come up under `product`.
  void Start(const char* product);

  // Takes one output report; writes the answers into `replies` (at most kMaxReplies) and
  // returns their number; sets `next` when the receiver is to re-enumerate.
  int Accept(const char* product, const std::uint8_t* report, std::uint32_t length,
             TransmitterModel::Reply* replies, Reenumeration& next);

 private:
  int AcceptBootloader(const std::uint8_t* report, std::uint32_t length,
                       TransmitterModel::Reply& reply, Reenumeration& next);

  // Data bytes of the HEX lines since the boot loader came up or the last first step command.
  std::uint32_t receivedSum_ = 0;
};

}  // namespace zavn::platform::virt
