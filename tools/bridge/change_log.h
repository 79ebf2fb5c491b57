// What zavn-bridge says on standard output: where it serves, the receiver, each player's change
// and the counts at its end; a line each, as text or as JSON.
#pragma once

#include <cstdio>
#include <string>

#include "player_feed.h"

namespace bridge {

class DsuOutput;

class ChangeLog : public Output {
 public:
  ChangeLog(std::FILE* out, bool json) : out_(out), json_(json) {}

  void Serving(const std::string& output, const std::string& place);
  void Receiver(const std::string& description);
  void PlayerChanged(int player, const PlayerState& state) override;
  void Sample(int, const ZAVNMotionSample&, const PlayerControls&) override {}
  // At the end: how long it served and, with `dsu`, what the DSU server counted.
  void Stopped(double seconds, const DsuOutput* dsu);

 private:
  void Line(const std::string& text);

  std::FILE* out_;
  bool json_;
};

}  // namespace bridge
