// Identity blocks (serial number, version) as text.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace tools {

// Up to the block's first NUL, each byte that is not printable ASCII as '.'.
std::string Printable(const std::uint8_t* bytes, std::size_t count);

}  // namespace tools
