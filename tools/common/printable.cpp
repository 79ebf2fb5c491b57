#include "printable.h"

namespace tools {

std::string Printable(const std::uint8_t* bytes, std::size_t count) {
  std::string text;
  for (std::size_t i = 0; i < count && bytes[i] != 0; ++i) {
    text += bytes[i] >= 0x20 && bytes[i] < 0x7F ? static_cast<char>(bytes[i]) : '.';
  }
  return text;
}

}  // namespace tools
