#include "input/motion_profile.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <sstream>

namespace zavn::input {
namespace {

constexpr const char* kQuantities[] = {"accelx", "accely", "accelz", "gyrox", "gyroy", "gyroz"};

std::string Lower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

std::string Trim(const std::string& text) {
  const auto first = text.find_first_not_of(" \t\r");
  if (first == std::string::npos) return "";
  return text.substr(first, text.find_last_not_of(" \t\r") - first + 1);
}

// A number that is the whole word, finite.
bool Number(const std::string& word, float& out) {
  char* end = nullptr;
  const float value = std::strtof(word.c_str(), &end);
  if (word.empty() || *end != '\0' || !std::isfinite(value)) return false;
  out = value;
  return true;
}

// "+AccelX 32768 8192": false when the value breaks the rule.
bool ParseChannel(const std::string& value, ChannelRule& rule) {
  std::istringstream words(value);
  std::string quantity, zero, scale, extra;
  if (!(words >> quantity >> zero >> scale) || (words >> extra)) return false;
  if (quantity.size() < 2 || (quantity[0] != '+' && quantity[0] != '-')) return false;
  const std::string name = Lower(quantity.substr(1));
  int which = -1;
  for (int k = 0; k < 6; ++k) {
    if (name == kQuantities[k]) which = k;
  }
  ChannelRule parsed;
  if (which < 0 || !Number(zero, parsed.zero) || !Number(scale, parsed.countsPerUnit) ||
      parsed.countsPerUnit <= 0) {
    return false;
  }
  parsed.gyro = which >= 3;
  parsed.axis = which % 3;
  parsed.sign = quantity[0] == '-' ? -1.0f : 1.0f;
  rule = parsed;
  return true;
}

bool ParseFactors(const std::string& value, SensorProfile& profile) {
  std::istringstream words(value);
  float factors[kGSensitivityValues];
  std::string word;
  for (float& factor : factors) {
    if (!(words >> word) || !Number(word, factor) || factor <= 0) return false;
  }
  if (words >> word) return false;
  std::copy(std::begin(factors), std::end(factors), profile.gSensitivityFactor);
  return true;
}

// The profile a section header names, made from the fallback; null for an unknown header.
SensorProfile* Section(ProfileSet& set, const std::string& header) {
  const std::string name = Lower(header);
  if (name == "default") return &set.fallback;
  if (name.size() == 8 && name.compare(0, 7, "player ") == 0 && name[7] >= '1' && name[7] <= '4') {
    const int player = name[7] - '1';
    set.hasPlayer[player] = true;
    return &set.player[player];
  }
  if (name.compare(0, 7, "serial ") == 0 && Trim(header.substr(7)) != "") {
    set.serials.emplace_back(Trim(header.substr(7)), SensorProfile{});
    return &set.serials.back().second;
  }
  return nullptr;
}

bool Distinct(const SensorProfile& profile) {
  bool seen[6] = {};
  for (const ChannelRule& rule : profile.channels) {
    bool& quantity = seen[(rule.gyro ? 3 : 0) + rule.axis];
    if (quantity) return false;
    quantity = true;
  }
  return true;
}

}  // namespace

SensorProfile DefaultProfile() {
  SensorProfile profile;
  for (int k = 0; k < ZAVN_MOTION_CHANNELS; ++k) {
    ChannelRule& rule = profile.channels[k];
    rule.gyro = k >= 3;
    rule.axis = k % 3;
    rule.countsPerUnit = rule.gyro ? static_cast<float>(ZAVN_MOTION_DEFAULT_COUNTS_PER_DPS)
                                   : static_cast<float>(ZAVN_MOTION_DEFAULT_COUNTS_PER_G);
  }
  return profile;
}

const SensorProfile& ProfileSet::For(std::int32_t playerIndex, const std::string& serial) const {
  if (!serial.empty()) {
    for (const auto& [name, profile] : serials) {
      if (name == serial) return profile;
    }
  }
  if (playerIndex >= 1 && playerIndex <= 4 && hasPlayer[playerIndex - 1])
    return player[playerIndex - 1];
  return fallback;
}

std::shared_ptr<const ProfileSet> ReadProfileFile(const char* path, std::string& error) {
  std::ifstream file(path);
  if (!file) {
    error = std::string(path) + ": cannot be read";
    return nullptr;
  }
  // Lines of the sections after [default]: applied once the fallback is complete.
  struct Line {
    int number;
    SensorProfile* section;
    std::string key, value;
  };
  auto set = std::make_shared<ProfileSet>();
  std::vector<Line> lines;
  SensorProfile* section = &set->fallback;
  bool controls = false;  // in a section of the controls, which zavn-bridge reads
  std::string text;
  for (int number = 1; std::getline(file, text); ++number) {
    const std::string line = Trim(text.substr(0, text.find_first_of(";#")));
    const std::string where = std::string(path) + ":" + std::to_string(number) + ": ";
    if (line.empty()) continue;
    if (line.front() == '[') {
      const std::string header = line.back() == ']' ? line.substr(1, line.size() - 2) : "";
      controls = Lower(Trim(header)).rfind("controls", 0) == 0;
      if (controls) continue;
      section = Section(*set, header);
      if (section == nullptr) {
        error = where + line +
                ": not a section of a motion profile ([default], [player 1..4], "
                "[serial TEXT])";
        return nullptr;
      }
      continue;
    }
    if (controls) continue;
    const auto equals = line.find('=');
    const std::string key = Trim(line.substr(0, equals));
    if (equals == std::string::npos) {
      error = where + key + ": not a key = value line";
      return nullptr;
    }
    lines.push_back({number, section, key, Trim(line.substr(equals + 1))});
  }
  // [default] first, wherever it stands, then the others over it.
  for (const bool defaults : {true, false}) {
    if (!defaults) {
      for (int p = 0; p < 4; ++p) set->player[p] = set->fallback;
      for (auto& serial : set->serials) serial.second = set->fallback;
    }
    for (const Line& line : lines) {
      if ((line.section == &set->fallback) != defaults) continue;
      const std::string key = Lower(line.key);
      bool ok = false;
      const char* rule = "";
      if (key.size() == 7 && key.compare(0, 6, "motion") == 0 && key[6] >= '0' && key[6] <= '5') {
        ok = ParseChannel(line.value, line.section->channels[key[6] - '0']);
        rule =
            "wants a signed quantity (AccelX..GyroZ), a zero and counts per unit above 0, "
            "e.g. +AccelX 32768 8192";
      } else if (key == "gsensitivity") {
        ok = ParseFactors(line.value, *line.section);
        rule = "wants four factors above 0, for values 0 to 3, e.g. 2 1 0.5 0.25";
      } else {
        rule = "not a key of a motion profile (Motion0..Motion5, GSensitivity)";
      }
      if (!ok) {
        error =
            std::string(path) + ":" + std::to_string(line.number) + ": " + line.key + ": " + rule;
        return nullptr;
      }
    }
  }
  // Each profile measures every quantity once: the last Motion key of a section that breaks
  // that is named.
  for (auto line = lines.rbegin(); line != lines.rend(); ++line) {
    if (Lower(line->key).compare(0, 6, "motion") == 0 && !Distinct(*line->section)) {
      error = std::string(path) + ":" + std::to_string(line->number) + ": " + line->key +
              ": names a quantity another Motion key of its profile names too";
      return nullptr;
    }
  }
  return set;
}

std::string PrintableSerial(const std::uint8_t (&block)[16]) {
  std::string serial;
  for (const std::uint8_t byte : block) {
    if (byte == 0) break;
    serial += byte >= 0x20 && byte < 0x7F ? static_cast<char>(byte) : '.';
  }
  return serial;
}

}  // namespace zavn::input
