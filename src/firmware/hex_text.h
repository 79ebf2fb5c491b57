// Hexadecimal text to bytes, as the image writers convert it: no validation, so characters that
// are not hex digits give meaningless values rather than errors.
#pragma once

#include <cctype>
#include <cstdint>

namespace zavn::firmware {

// Upper-cased; below 'A' counts from '0', from 'A' on 'A' is 10.
constexpr int HexDigitValue(char c) {
  const int upper = std::toupper(static_cast<unsigned char>(c));
  return upper < 'A' ? upper - '0' : upper - 'A' + 10;
}

inline std::uint8_t HexPair(char high, char low) {
  return static_cast<std::uint8_t>(16 * HexDigitValue(high) + HexDigitValue(low));
}

}  // namespace zavn::firmware
