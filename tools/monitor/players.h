// What zavn-monitor knows of each player: the latest snapshot, a short trace of each motion
// channel, and (for the plot) every sample and button press of the run.
#pragma once

#include <array>
#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "zavn/zavn.h"

namespace monitor {

inline constexpr int kPlayers = 4;
inline constexpr int kChannels = ZAVN_MOTION_CHANNELS;

struct PlayerView {
  int player = 0;
  std::int32_t rx = 0, tx = 0;
  std::uint32_t rate = 0;  // records per second
  int newSamples = 0;      // samples since the last look
  std::int32_t motion[kChannels] = {};
  std::vector<int> buttons;  // the pressed ones
  std::int32_t extension[ZAVN_EXTENSION_CHANNELS] = {};
  std::string serial, version;  // printable characters only
  bool linked() const { return rx == LINK_OK; }
};

struct PlotSample {
  double seconds;
  std::int32_t motion[kChannels];
  std::int32_t extension[ZAVN_EXTENSION_CHANNELS];  // all 0 where no extension value came
};

// A button that was released at the previous look and is held at this one.
struct ButtonPress {
  double seconds;  // of the look that saw it held
  int button;
};

class Players {
 public:
  explicit Players(bool keepAll);

  // Takes every player's snapshot at `seconds` into the run.
  void Capture(double seconds);

  const PlayerView& View(int player) const { return views_[player - 1]; }
  // A channel's latest values of the last kTraceLength looks, oldest first.
  const std::deque<std::int32_t>& Trace(int player, int channel) const {
    return traces_[player - 1][channel];
  }
  const std::vector<PlotSample>& AllSamples(int player) const { return all_[player - 1]; }
  const std::vector<ButtonPress>& Presses(int player) const { return presses_[player - 1]; }
  // Seconds into the run of the latest look.
  double Seconds() const { return lastSeconds_; }

  static constexpr std::size_t kTraceLength = 40;

 private:
  bool keepAll_;
  double lastSeconds_ = 0;
  std::unique_ptr<PlayerStatus> status_ = std::make_unique<PlayerStatus>();
  std::array<PlayerView, kPlayers> views_;
  std::array<std::array<std::deque<std::int32_t>, kChannels>, kPlayers> traces_;
  std::array<std::vector<PlotSample>, kPlayers> all_;
  std::array<std::vector<ButtonPress>, kPlayers> presses_;
};

// LINK_OK, LINK_TIMEOUT, ... for a link state.
const char* LinkName(std::int32_t state);

}  // namespace monitor
