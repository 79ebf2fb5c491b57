// The report descriptor parser on arbitrary bytes: never out of bounds, lengths always bounded.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "platform/posix/report_descriptor.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const zavn::platform::hid::ReportLengths lengths =
      zavn::platform::hid::ParseReportDescriptor(data, size);
  // A report needs at least one field bit per byte of the descriptor that declared it.
  if (size < 4 && (lengths.input != 0 || lengths.output != 0 || lengths.feature != 0)) {
    std::abort();
  }
  return 0;
}
