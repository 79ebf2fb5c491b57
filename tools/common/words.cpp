#include "words.h"

#include <algorithm>
#include <cctype>

#include "zavn/zavn.h"

namespace tools {

std::string Printable(const std::uint8_t* bytes, std::size_t count) {
  std::string text;
  for (std::size_t i = 0; i < count && bytes[i] != 0; ++i) {
    text += bytes[i] >= 0x20 && bytes[i] < 0x7F ? static_cast<char>(bytes[i]) : '.';
  }
  return text;
}

const char* LinkName(std::int32_t state) {
  switch (state) {
    case LINK_RESET_DONE:
      return "LINK_RESET_DONE";
    case LINK_NOT_RESET:
      return "LINK_NOT_RESET";
    case LINK_OK:
      return "LINK_OK";
    case LINK_NO_DEVICE:
      return "LINK_NO_DEVICE";
    case LINK_READ_ERROR:
      return "LINK_READ_ERROR";
    case LINK_TIMEOUT:
      return "LINK_TIMEOUT";
    default:
      return "LINK_UNKNOWN";
  }
}

std::string Quoted(const std::string& text) {
  std::string json = "\"";
  for (char c : text) {
    if (c == '"' || c == '\\') json += '\\';
    json += c;  // the texts hold printable ASCII only
  }
  json += '"';
  return json;
}

std::string Trimmed(const std::string& text) {
  const auto first = text.find_first_not_of(" \t\r");
  if (first == std::string::npos) return "";
  return text.substr(first, text.find_last_not_of(" \t\r") - first + 1);
}

std::string Lowered(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return text;
}

}  // namespace tools
