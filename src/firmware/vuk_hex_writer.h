// The Intel HEX image writer as the update machine uses it.
#pragma once

#include <cstdint>

namespace zavn::firmware {

// Writes one image line as ZAVNWriteVUKHex does (into VUKChecksum too) and returns the sum it
// added for the line: 0 for a refused line.
std::uint32_t WriteVUKLine(std::int32_t playerIndex, char* scratch, const char* line);

}  // namespace zavn::firmware
