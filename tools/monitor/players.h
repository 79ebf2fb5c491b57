// What zavn-monitor knows of each player: the latest snapshot, its latest motion in physical
// units with a short trace of each unit channel, and (for the plot) every sample, raw and in
// units, and button press of the run.
#pragma once

#include <array>
#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "words.h"
#include "zavn/zavn.h"
#include "zavn/zavn_motion.h"

namespace monitor {

using tools::LinkName;
using tools::Printable;
using tools::Quoted;

inline constexpr int kPlayers = 4;
inline constexpr int kChannels = ZAVN_MOTION_CHANNELS;
// The channels in units: acceleration x, y, z in g, then rotation rate about x, y, z in deg/s.
inline constexpr int kUnitChannels = 6;

// The controller's attitude in degrees, from its orientation quaternion (controller to world,
// world z up). yaw: the heading of the controller's forward (y) axis about world z, positive
// counter-clockwise seen from above, -180..180; pitch: that axis's elevation above the
// horizontal, -90..90; roll: the rotation about the forward axis by the right-hand rule (right
// side down is positive), -180..180. Yaw, then pitch, then roll rebuild the orientation.
struct Attitude {
  double roll = 0, pitch = 0, yaw = 0;
};
Attitude AttitudeOf(const float (&orientation)[4]);

struct PlayerView {
  int player = 0;
  std::int32_t rx = 0, tx = 0;
  std::uint32_t rate = 0;  // records per second
  int newSamples = 0;      // samples since the last look
  std::int32_t motion[kChannels] = {};
  std::vector<int> buttons;  // the pressed ones
  std::int32_t extension[ZAVN_EXTENSION_CHANNELS] = {};
  std::string serial, version;  // printable characters only
  // The latest motion sample: accelG[0..2] then gyroDps[0..2], and the attitude.
  float units[kUnitChannels] = {};
  Attitude attitude;
  bool linked() const { return rx == LINK_OK; }
};

struct PlotSample {
  double seconds;
  std::int32_t motion[kChannels];
  std::int32_t extension[ZAVN_EXTENSION_CHANNELS];  // all 0 where no extension value came
};

// A motion sample in units (PlayerView::units), at its time into the run.
struct UnitSample {
  double seconds;
  float units[kUnitChannels];
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
  // A unit channel's mean over each of the last kTraceLength looks that brought samples, oldest
  // first.
  const std::deque<float>& Trace(int player, int channel) const {
    return traces_[player - 1][channel];
  }
  const std::vector<PlotSample>& AllSamples(int player) const { return all_[player - 1]; }
  const std::vector<UnitSample>& AllUnitSamples(int player) const { return allUnits_[player - 1]; }
  const std::vector<ButtonPress>& Presses(int player) const { return presses_[player - 1]; }
  // Seconds into the run of the latest look.
  double Seconds() const { return lastSeconds_; }

  static constexpr std::size_t kTraceLength = 40;

 private:
  bool keepAll_;
  double lastSeconds_ = 0;
  std::unique_ptr<PlayerStatus> status_ = std::make_unique<PlayerStatus>();
  std::array<PlayerView, kPlayers> views_;
  std::vector<ZAVNMotionSample> motion_ = std::vector<ZAVNMotionSample>(ZAVN_MOTION_RING);
  std::array<std::array<std::deque<float>, kUnitChannels>, kPlayers> traces_;
  std::array<std::vector<PlotSample>, kPlayers> all_;
  std::array<std::vector<UnitSample>, kPlayers> allUnits_;
  std::array<std::vector<ButtonPress>, kPlayers> presses_;
};

}  // namespace monitor
