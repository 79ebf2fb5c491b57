// The settings seam on POSIX: the whole file is read and searched by the INI rules of ini_text.
#include <cstring>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>

#include "platform/posix/ini_text.h"
#include "platform/profile.h"

namespace zavn::platform {
namespace {

std::optional<std::string> ReadFile(const char* path) {
  if (path == nullptr) return std::nullopt;
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::optional<std::string_view> Lookup(const std::optional<std::string>& text, const char* section,
                                       const char* key) {
  if (!text || section == nullptr || key == nullptr) return std::nullopt;
  return ini::FindValue(*text, section, key);
}

}  // namespace

std::uint32_t ReadProfileString(const char* section, const char* key, const char* fallback,
                                char* buffer, std::uint32_t size, const char* file) {
  if (buffer == nullptr || size == 0) return 0;
  const std::optional<std::string> text = ReadFile(file);
  const std::string_view value =
      Lookup(text, section, key).value_or(ini::CleanDefault(fallback ? fallback : ""));
  const std::size_t copied = std::min<std::size_t>(value.size(), size - 1);
  std::memcpy(buffer, value.data(), copied);
  buffer[copied] = '\0';
  return static_cast<std::uint32_t>(copied);
}

std::int32_t ReadProfileInt(const char* section, const char* key, std::int32_t fallback,
                            const char* file) {
  const std::optional<std::string> text = ReadFile(file);
  const std::optional<std::string_view> value = Lookup(text, section, key);
  if (!value || value->empty()) return fallback;
  return static_cast<std::int32_t>(ini::ParseInteger(*value));
}

}  // namespace zavn::platform
