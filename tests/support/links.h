// The players' links as one value to compare and print, and the reports the poll thread sends on
// its own: raw data and game mode to player 1 each period, the link check to a silent open slot.
#pragma once

#include <array>
#include <string>
#include <vector>

#include "support/output_log.h"
#include "zavn/zavn.h"

namespace zavn::testing {

using Links = std::array<std::int32_t, 4>;
inline Links RxStatus() {
  return {ZAVNGetRxStatus(1), ZAVNGetRxStatus(2), ZAVNGetRxStatus(3), ZAVNGetRxStatus(4)};
}
inline std::string Text(const Links& links) {
  std::string text;
  for (std::int32_t link : links) text += (text.empty() ? "" : " ") + std::to_string(link);
  return text;
}

inline const std::vector<Bytes> kPeriodicReports = {{0x04, 0xFF}, {0x05, 0x00}};
inline const Bytes kLinkCheck = {0x04, 0x64, 0x00, 0x00};

}  // namespace zavn::testing
