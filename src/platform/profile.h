// The settings seam: one string or integer from an INI file, by the Windows private-profile
// rules. Section and key names match without regard to case; the file is given by full path.
#pragma once

#include <cstdint>

namespace zavn::platform {

// Copies the value (or `fallback` when the file, section or key is missing; null means "") into
// buffer, cut to size - 1 characters and NUL-terminated; returns the characters copied. A size
// of 0 leaves the buffer alone and returns 0.
std::uint32_t ReadProfileString(const char* section, const char* key, const char* fallback,
                                char* buffer, std::uint32_t size, const char* file);

// The value's leading decimal integer (optional sign, wrapping modulo 2^32), or `fallback` when
// the file, section or key is missing.
std::int32_t ReadProfileInt(const char* section, const char* key, std::int32_t fallback,
                            const char* file);

}  // namespace zavn::platform
