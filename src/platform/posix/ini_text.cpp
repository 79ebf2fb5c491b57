#include "platform/posix/ini_text.h"

namespace zavn::platform::ini {
namespace {

constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";

bool IsBlank(char c) {
  return c == ' ' || c == '\t';
}

std::string_view Trim(std::string_view s) {
  while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
  while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
  return s;
}

char Lower(char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool SameName(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (Lower(a[i]) != Lower(b[i])) return false;
  }
  return true;
}

std::string_view Unquote(std::string_view s) {
  if (s.size() >= 2 && (s.front() == '"' || s.front() == '\'') && s.back() == s.front()) {
    return s.substr(1, s.size() - 2);
  }
  return s;
}

// The next line of `text` from `at`, without its LF or CRLF; moves `at` past it.
std::string_view NextLine(std::string_view text, std::size_t& at) {
  const std::size_t end = text.find('\n', at);
  std::string_view line = text.substr(at, end == std::string_view::npos ? text.npos : end - at);
  at = end == std::string_view::npos ? text.size() : end + 1;
  if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
  return line;
}

}  // namespace

std::optional<std::string_view> FindValue(std::string_view text, std::string_view section,
                                          std::string_view key) {
  if (text.substr(0, kByteOrderMark.size()) == kByteOrderMark) {
    text.remove_prefix(kByteOrderMark.size());
  }
  section = Trim(section);
  key = Trim(key);
  bool inSection = false;
  std::size_t at = 0;
  while (at < text.size()) {
    const std::string_view line = Trim(NextLine(text, at));
    if (!line.empty() && line.front() == '[') {
      // Only the first section of the name is searched.
      if (inSection) return std::nullopt;
      std::string_view name = line.substr(1);
      if (const std::size_t close = name.rfind(']'); close != name.npos)
        name = name.substr(0, close);
      inSection = SameName(Trim(name), section);
      continue;
    }
    if (!inSection) continue;
    const std::size_t equals = line.find('=');
    if (equals == line.npos) continue;
    if (SameName(Trim(line.substr(0, equals)), key)) {
      return Unquote(Trim(line.substr(equals + 1)));
    }
  }
  return std::nullopt;
}

std::string_view CleanDefault(std::string_view fallback) {
  while (!fallback.empty() && fallback.back() == ' ') fallback.remove_suffix(1);
  return Unquote(fallback);
}

std::uint32_t ParseInteger(std::string_view value) {
  std::size_t i = 0;
  while (i < value.size() && IsBlank(value[i])) ++i;
  bool negative = false;
  if (i < value.size() && (value[i] == '-' || value[i] == '+')) negative = value[i++] == '-';
  std::uint32_t number = 0;
  for (; i < value.size() && value[i] >= '0' && value[i] <= '9'; ++i) {
    number = number * 10u + static_cast<std::uint32_t>(value[i] - '0');
  }
  return negative ? 0u - number : number;
}

}  // namespace zavn::platform::ini
