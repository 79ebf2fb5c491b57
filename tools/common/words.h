// What the tools say in words: identity blocks, link states, JSON strings.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace tools {

// An identity block (serial number, version) up to its first NUL, each byte that is not
// printable ASCII as '.'.
std::string Printable(const std::uint8_t* bytes, std::size_t count);

// "LINK_OK", "LINK_NO_DEVICE", ...
const char* LinkName(std::int32_t state);

// Without the spaces, tabs and carriage returns at either end.
std::string Trimmed(const std::string& text);

// In lower case (ASCII), as INI names are compared.
std::string Lowered(std::string text);

// A JSON string of printable ASCII text.
std::string Quoted(const std::string& text);

}  // namespace tools
