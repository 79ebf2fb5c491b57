#include "change_log.h"

#include "dsu_output.h"
#include "words.h"

namespace bridge {
namespace {

std::string MacText(const std::array<std::uint8_t, 6>& mac) {
  char text[18];
  std::snprintf(text, sizeof text, "%02X:%02X:%02X:%02X:%02X:%02X", mac[0], mac[1], mac[2], mac[3],
                mac[4], mac[5]);
  return text;
}

}  // namespace

void ChangeLog::Line(const std::string& text) {
  std::fputs((text + '\n').c_str(), out_);
  std::fflush(out_);
}

void ChangeLog::Serving(const std::string& output, const std::string& place) {
  if (json_) {
    Line("{\"event\":" + tools::Quoted(output) + ",\"address\":" + tools::Quoted(place) + "}");
  } else {
    Line("serving " + std::string(output == "dsu" ? "DSU clients" : "gamepads") + " on " + place);
  }
}

void ChangeLog::Receiver(const std::string& description) {
  Line(json_ ? "{\"event\":\"receiver\",\"receiver\":" + tools::Quoted(description) + "}"
             : "using " + description);
}

void ChangeLog::PlayerChanged(int player, const PlayerState& state) {
  const std::string number = std::to_string(player);
  if (json_) {
    std::string line = "{\"event\":\"player\",\"player\":" + number;
    line += ",\"link\":" + tools::Quoted(tools::LinkName(state.link));
    line += std::string(",\"connected\":") + (state.connected ? "true" : "false");
    line += ",\"serial\":" + tools::Quoted(state.serial);
    line += ",\"mac\":" + tools::Quoted(state.connected ? MacText(state.mac) : "") + "}";
    Line(line);
  } else if (state.connected) {
    Line("player " + number + ": connected, transmitter " +
         (state.serial.empty() ? "without a serial number" : state.serial) + ", MAC " +
         MacText(state.mac));
  } else if (state.link == LINK_OK) {
    Line("player " + number + ": linked, waiting for its transmitter's serial number");
  } else {
    Line("player " + number + ": not connected (" + tools::LinkName(state.link) + ")");
  }
}

void ChangeLog::Stopped(double seconds, const DsuOutput* dsu) {
  char text[256];
  if (json_) {
    std::snprintf(text, sizeof text, "{\"event\":\"stop\",\"seconds\":%.1f", seconds);
    std::string line = text;
    if (dsu != nullptr) {
      const DsuServer::Counters c = dsu->Counters();
      std::snprintf(text, sizeof text,
                    ",\"dsu_requests\":%llu,\"dsu_bad_packets\":%llu,\"dsu_data_packets\":%llu,"
                    "\"dsu_clients\":%zu,\"dsu_clients_evicted\":%llu",
                    static_cast<unsigned long long>(c.requests),
                    static_cast<unsigned long long>(c.badPackets),
                    static_cast<unsigned long long>(c.dataPackets), c.clients,
                    static_cast<unsigned long long>(c.clientsEvicted));
      line += text;
    }
    Line(line + "}");
    return;
  }
  std::snprintf(text, sizeof text, "stopped after %.1f s", seconds);
  std::string line = text;
  if (dsu != nullptr) {
    const DsuServer::Counters c = dsu->Counters();
    std::snprintf(
        text, sizeof text, "; DSU: %llu requests, %llu bad packets ignored, %llu packets sent",
        static_cast<unsigned long long>(c.requests), static_cast<unsigned long long>(c.badPackets),
        static_cast<unsigned long long>(c.dataPackets));
    line += text;
  }
  Line(line);
}

}  // namespace bridge
