#include "control_profile.h"

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include "words.h"

namespace bridge {
namespace {

constexpr const char* kControlNames[kControls] = {
    "cross",   "circle", "square", "triangle", "l1",    "r1", "l2",   "r2",   "share",
    "options", "l3",     "r3",     "home",     "touch", "up", "down", "left", "right"};
constexpr const char* kAxisNames[] = {"none", "leftx", "lefty", "rightx", "righty", "l2", "r2"};

using tools::Lowered;
using tools::Trimmed;

// The index after `prefix` in `key` ("button12" -> 12) when it is below `count`; else -1.
int Numbered(const std::string& key, const std::string& prefix, int count) {
  if (key.rfind(prefix, 0) != 0 || key.size() == prefix.size()) return -1;
  const std::string digits = key.substr(prefix.size());
  if (digits.find_first_not_of("0123456789") != std::string::npos || digits.size() > 2) return -1;
  const int index = std::atoi(digits.c_str());
  return index < count ? index : -1;
}

bool Integer(const std::string& word, std::int32_t& value) {
  char* end = nullptr;
  const long parsed = std::strtol(word.c_str(), &end, 10);
  if (word.empty() || *end != '\0' || parsed < -65535 || parsed > 65535) return false;
  value = static_cast<std::int32_t>(parsed);
  return true;
}

bool ParseButton(const std::string& value, int& control) {
  const std::string name = Lowered(value);
  if (name == "none") {
    control = ControlMapping::kNoControl;
    return true;
  }
  const auto* found = std::find(std::begin(kControlNames), std::end(kControlNames), name);
  control = static_cast<int>(found - std::begin(kControlNames));
  return found != std::end(kControlNames);
}

bool ParseAxis(const std::string& value, ControlMapping::Axis& axis) {
  std::istringstream words(value);
  std::string target, kind, rest, full, extra;
  if (!(words >> target)) return false;
  const auto* found = std::find(std::begin(kAxisNames), std::end(kAxisNames), Lowered(target));
  if (found == std::end(kAxisNames)) return false;
  ControlMapping::Axis parsed;
  parsed.target = static_cast<StickAxis>(found - std::begin(kAxisNames));
  if (parsed.target == StickAxis::kNone) {
    axis = parsed;
    return !(words >> extra);
  }
  if (!(words >> kind >> rest >> full) || (words >> extra)) return false;
  kind = Lowered(kind);
  if ((kind != "signed" && kind != "unsigned") || !Integer(rest, parsed.rest) ||
      !Integer(full, parsed.full) || parsed.rest == parsed.full) {
    return false;
  }
  parsed.isSigned = kind == "signed";
  axis = parsed;
  return true;
}

}  // namespace

const ControlMapping& ControlProfiles::For(int playerIndex, const std::string& serial) const {
  for (const auto& [name, mapping] : serials) {
    if (!serial.empty() && Lowered(name) == Lowered(serial)) return mapping;
  }
  if (playerIndex >= 1 && playerIndex <= 4 && hasPlayer[playerIndex - 1]) {
    return player[playerIndex - 1];
  }
  return fallback;
}

std::unique_ptr<ControlProfiles> ReadControlProfiles(const std::string& path, std::string& error) {
  std::ifstream file(path);
  if (!file) {
    error = path + ": cannot be read";
    return nullptr;
  }
  struct Line {
    int number;
    int section;  // 0: [controls]; 1..4: [controls player N]; 5..: a serial's
    std::string key, value;
  };
  auto profiles = std::make_unique<ControlProfiles>();
  std::vector<Line> lines;
  int section = -1;  // -1: a section of the library's
  std::vector<std::string> serials;
  std::string text;
  for (int number = 1; std::getline(file, text); ++number) {
    const std::string line = Trimmed(text.substr(0, text.find_first_of(";#")));
    if (line.empty()) continue;
    const std::string where = path + ":" + std::to_string(number) + ": ";
    if (line.front() == '[') {
      const std::string header = Trimmed(line.substr(1, line.size() - 2));
      const std::string name = Lowered(header);
      section = -1;
      if (line.back() != ']' || name.rfind("controls", 0) != 0) continue;
      const std::string rest = Trimmed(header.substr(8));
      const std::string restName = Lowered(rest);
      if (rest.empty()) {
        section = 0;
      } else if (restName.size() == 8 && restName.rfind("player ", 0) == 0 && restName[7] >= '1' &&
                 restName[7] <= '4') {
        section = restName[7] - '0';
        profiles->hasPlayer[section - 1] = true;
      } else if (restName.rfind("serial ", 0) == 0 && !Trimmed(rest.substr(7)).empty()) {
        serials.push_back(Trimmed(rest.substr(7)));
        section = 4 + static_cast<int>(serials.size());
      } else {
        error = where + line +
                ": not a section of the controls ([controls], [controls player 1..4], "
                "[controls serial TEXT])";
        return nullptr;
      }
      continue;
    }
    if (section < 0) continue;
    const auto equals = line.find('=');
    if (equals == std::string::npos) {
      error = where + Trimmed(line) + ": not a key = value line";
      return nullptr;
    }
    lines.push_back(
        {number, section, Trimmed(line.substr(0, equals)), Trimmed(line.substr(equals + 1))});
  }
  // [controls] first, wherever it stands, then the others over it.
  for (const bool fallback : {true, false}) {
    if (!fallback) {
      for (ControlMapping& mapping : profiles->player) mapping = profiles->fallback;
      for (const std::string& serial : serials)
        profiles->serials.emplace_back(serial, profiles->fallback);
    }
    for (const Line& line : lines) {
      if ((line.section == 0) != fallback) continue;
      ControlMapping& mapping = line.section == 0   ? profiles->fallback
                                : line.section <= 4 ? profiles->player[line.section - 1]
                                                    : profiles->serials[line.section - 5].second;
      const std::string key = Lowered(line.key);
      const int button = Numbered(key, "button", ZAVN_BUTTON_COUNT);
      const int channel = Numbered(key, "extension", ZAVN_EXTENSION_CHANNELS);
      const char* rule = "not a key of the controls (Button0..Button22, Extension0..Extension2)";
      bool ok = false;
      if (button >= 0) {
        ok = ParseButton(line.value, mapping.buttons[static_cast<std::size_t>(button)]);
        rule =
            "wants a control: Cross, Circle, Square, Triangle, L1, R1, L2, R2, Share, Options, "
            "L3, R3, Home, Touch, Up, Down, Left, Right or None";
      } else if (channel >= 0) {
        ok = ParseAxis(line.value, mapping.extension[static_cast<std::size_t>(channel)]);
        rule =
            "wants LeftX, LeftY, RightX, RightY, L2, R2 or None, then signed or unsigned, the "
            "rest value and the full value, e.g. LeftX signed 0 32767";
      }
      if (!ok) {
        error = path + ":" + std::to_string(line.number) + ": " + line.key + ": " + rule;
        return nullptr;
      }
    }
  }
  return profiles;
}

}  // namespace bridge
