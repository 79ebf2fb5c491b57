// The settings seam on Windows: the system's private-profile functions.
#include <windows.h>

#include "platform/profile.h"

namespace zavn::platform {

std::uint32_t ReadProfileString(const char* section, const char* key, const char* fallback,
                                char* buffer, std::uint32_t size, const char* file) {
  return GetPrivateProfileStringA(section, key, fallback, buffer, size, file);
}

std::int32_t ReadProfileInt(const char* section, const char* key, std::int32_t fallback,
                            const char* file) {
  return static_cast<std::int32_t>(GetPrivateProfileIntA(section, key, fallback, file));
}

}  // namespace zavn::platform
