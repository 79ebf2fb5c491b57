// Reads back the output reports the library wrote to a virtual interface.
#pragma once

#include <cstdint>
#include <vector>

#include "zavn/zavn_virtual.h"

namespace zavn::testing {

using Bytes = std::vector<std::uint8_t>;

// The oldest report not yet taken, exactly as long as it was written; empty when none is left.
inline Bytes TakeOutput(std::int32_t id) {
  Bytes report(ZAVN_VIRTUAL_MAX_REPORT_LENGTH);
  const std::int32_t length =
      ZAVNVirtualTakeOutput(id, report.data(), ZAVN_VIRTUAL_MAX_REPORT_LENGTH);
  report.resize(length > 0 ? static_cast<std::size_t>(length) : 0);
  return report;
}

// Every report not yet taken, oldest first.
inline std::vector<Bytes> TakeAllOutput(std::int32_t id) {
  std::vector<Bytes> reports;
  for (Bytes report = TakeOutput(id); !report.empty(); report = TakeOutput(id)) {
    reports.push_back(report);
  }
  return reports;
}

// `head` followed by `zeros` zero bytes.
inline Bytes WithZeros(Bytes head, std::size_t zeros) {
  head.insert(head.end(), zeros, 0);
  return head;
}

}  // namespace zavn::testing
