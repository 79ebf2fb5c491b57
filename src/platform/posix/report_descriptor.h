// The report lengths of an HID interface, from its report descriptor, as the Windows HID
// capabilities give them: per kind (input, output, feature) the largest report in bytes, plus
// one byte for the report ID when the interface numbers its reports.
#pragma once

#include <cstddef>
#include <cstdint>

namespace zavn::platform::hid {

struct ReportLengths {
  std::uint16_t input = 0;
  std::uint16_t output = 0;
  std::uint16_t feature = 0;
  bool numbered = false;  // some main item carries a report ID
};

// Walks the items of the descriptor (short and long; Push and Pop of the global state). A
// descriptor that ends inside an item, or nests Push deeper than the stack, counts up to there.
ReportLengths ParseReportDescriptor(const std::uint8_t* descriptor, std::size_t size);

}  // namespace zavn::platform::hid
