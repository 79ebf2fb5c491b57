// The DSU server as one of the bridge's outputs: players 1..4 are its slots 0..3, connected
// while the feed serves them, and each motion sample becomes one data packet.
#pragma once

#include <cstdint>
#include <string>

#include "dsu_mapping.h"
#include "dsu_server.h"
#include "player_feed.h"

namespace bridge {

class DsuOutput : public Output {
 public:
  bool Open(const std::string& host, std::uint16_t port, std::string& error) {
    return server_.Open(host, port, error);
  }
  std::uint16_t Port() const { return server_.Port(); }
  DsuServer::Counters Counters() const { return server_.Read(); }

  void PlayerChanged(int player, const PlayerState& state) override {
    server_.SetController(player - 1, {state.connected, state.mac});
  }
  void Sample(int player, const ZAVNMotionSample& sample, const PlayerControls& controls) override {
    server_.SendData(player - 1, dsu::MapSample(sample, *controls.mapping, controls.sticks));
  }

 private:
  DsuServer server_;
};

}  // namespace bridge
