#include <cstdio>
#include <string>

#include "views.h"

namespace monitor {

namespace {

// (Built by appending: chains of operator+ set off a false -Wrestrict in some GCC 12 builds.)
template <typename Values>
std::string Array(const Values& values) {
  std::string json = "[";
  for (const auto& value : values) {
    if (json.size() > 1) json += ',';
    json += std::to_string(value);
  }
  json += ']';
  return json;
}

// Three values in units with `decimals` places: finer than the sensors resolve.
std::string Number3(const float* values, int decimals) {
  char json[128];
  std::snprintf(json, sizeof json, "[%.*f,%.*f,%.*f]", decimals, static_cast<double>(values[0]),
                decimals, static_cast<double>(values[1]), decimals, static_cast<double>(values[2]));
  return json;
}

void Field(std::string& json, const char* name, const std::string& value) {
  json += ",\"";
  json += name;
  json += "\":";
  json += value;
}

}  // namespace

void WriteJsonLine(std::FILE* out, const Players& players, const std::string& receiver,
                   double seconds) {
  char time[32];
  std::snprintf(time, sizeof time, "%.2f", seconds);
  std::string json = "{\"seconds\":";
  json += time;
  Field(json, "receiver", Quoted(receiver));
  json += ",\"players\":[";
  for (int player = 1; player <= kPlayers; ++player) {
    const PlayerView& v = players.View(player);
    if (player > 1) json += ',';
    json += "{\"player\":";
    json += std::to_string(player);
    Field(json, "rx", Quoted(LinkName(v.rx)));
    Field(json, "tx", Quoted(LinkName(v.tx)));
    Field(json, "rate", std::to_string(v.rate));
    Field(json, "samples", std::to_string(v.newSamples));
    Field(json, "motion", Array(v.motion));
    Field(json, "accel_g", Number3(v.units, 4));
    Field(json, "gyro_dps", Number3(v.units + 3, 2));
    char attitude[96];
    std::snprintf(attitude, sizeof attitude, "{\"roll\":%.1f,\"pitch\":%.1f,\"yaw\":%.1f}",
                  v.attitude.roll, v.attitude.pitch, v.attitude.yaw);
    Field(json, "attitude_deg", attitude);
    Field(json, "buttons", Array(v.buttons));
    Field(json, "extension", Array(v.extension));
    Field(json, "serial", Quoted(v.serial));
    Field(json, "version", Quoted(v.version));
    json += '}';
  }
  json += "]}\n";
  std::fputs(json.c_str(), out);
  std::fflush(out);
}

}  // namespace monitor
