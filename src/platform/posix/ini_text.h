// An INI reader that follows the Windows private-profile rules, for systems without them.
//
// The rules, as Microsoft's documentation and Wine's conformance tests (which pass on Windows)
// give them:
//   - section and key names match without regard to (ASCII) case; spaces and tabs around names
//     and values are ignored, and so are those around the names the caller passes;
//   - a value wrapped in a matching pair of '"' or '\'' (two characters or more) loses both;
//   - there is no comment syntax: "; note=1" is a key named "; note";
//   - a line without '=' is no key; "Key=" is an empty value, not a missing one;
//   - of duplicate keys the first wins, and only the first of duplicate sections is searched;
//   - the integer is the value's leading decimal number: blanks, an optional sign, then digits
//     up to the first non-digit, wrapping modulo 2^32 ("12abc" is 12, "0x10" is 0, "B1" is 0);
//     an empty value gives the default.
// Lines end in LF or CRLF; a UTF-8 byte-order mark at the start, a missing final newline and
// lines of any length are read without harm.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace zavn::platform::ini {

// The value of `key` in `section` of `text`, with its blanks and quotes removed; nothing when
// the section or the key is missing.
std::optional<std::string_view> FindValue(std::string_view text, std::string_view section,
                                          std::string_view key);

// A default string as the Windows functions take it: trailing spaces cut, one pair of quotes
// removed.
std::string_view CleanDefault(std::string_view fallback);

// The leading decimal integer of a value, modulo 2^32.
std::uint32_t ParseInteger(std::string_view value);

}  // namespace zavn::platform::ini
