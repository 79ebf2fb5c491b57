#include "players.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace monitor {

namespace {

double Degrees(double radians) {
  return radians * 180 / std::numbers::pi;
}

}  // namespace

Attitude AttitudeOf(const float (&orientation)[4]) {
  const double w = orientation[0], x = orientation[1], y = orientation[2], z = orientation[3];
  // The world's view of the controller's axes: forward (y), and the z parts of right (x) and up
  // (z), the rotation matrix's columns.
  const double forwardX = 2 * (x * y - w * z), forwardY = 1 - 2 * (x * x + z * z);
  const double forwardZ = 2 * (y * z + w * x);
  const double rightZ = 2 * (x * z - w * y), upZ = 1 - 2 * (x * x + y * y);
  Attitude a;
  a.yaw = Degrees(std::atan2(-forwardX, forwardY));
  a.pitch = Degrees(std::asin(std::clamp(forwardZ, -1.0, 1.0)));
  a.roll = Degrees(std::atan2(-rightZ, upZ));
  return a;
}

Players::Players(bool keepAll) : keepAll_(keepAll) {}

void Players::Capture(double seconds) {
  const std::int64_t nowUs = ZAVNTimeUs();
  std::uint32_t rates[kPlayers][4] = {};
  std::uint32_t* rows[kPlayers] = {rates[0], rates[1], rates[2], rates[3]};
  ZAVNGetRawdataFPS(0, rows);
  for (int player = 1; player <= kPlayers; ++player) {
    PlayerStatus& s = *status_;
    ZAVNGetStatus(player, &s);
    PlayerView& view = views_[player - 1];
    view.player = player;
    view.rx = ZAVNGetRxStatus(player);
    view.tx = ZAVNGetTxStatus(player);
    view.rate = rates[player - 1][0];
    view.newSamples = s.MotionCount;
    for (int k = 0; k < kChannels; ++k) view.motion[k] = s.Motion[k];
    const std::vector<int> held = std::move(view.buttons);
    view.buttons.clear();
    for (int b = 0; b < ZAVN_BUTTON_COUNT; ++b) {
      if (s.Buttons[b] == 0) continue;
      view.buttons.push_back(b);
      if (keepAll_ && std::find(held.begin(), held.end(), b) == held.end()) {
        presses_[player - 1].push_back({seconds, b});
      }
    }
    for (int k = 0; k < ZAVN_EXTENSION_CHANNELS; ++k) view.extension[k] = s.Extension[k];
    view.serial = Printable(s.SerialBlock, sizeof s.SerialBlock);
    view.version = Printable(s.VersionBlock, sizeof s.VersionBlock);

    // The samples handed over since the last look, spread evenly over the interval.
    const int count = s.MotionCount < 0 || s.MotionCount > ZAVN_HISTORY_LENGTH ? 0 : s.MotionCount;
    for (int i = 0; i < count; ++i) {
      PlotSample sample{lastSeconds_ + (seconds - lastSeconds_) * (i + 1) / count, {}, {}};
      for (int k = 0; k < kChannels; ++k) sample.motion[k] = s.MotionHistory[k][i];
      for (int k = 0; k < ZAVN_EXTENSION_CHANNELS; ++k) {
        sample.extension[k] = s.ExtensionHistory[k][i];
      }
      if (keepAll_) all_[player - 1].push_back(sample);
    }
    // The motion in units: the latest sample's values, and per channel the mean of the samples
    // since the last look for the trace (so that it spans the same time at any record rate).
    const int read = ZAVNReadMotion(player, motion_.data(), ZAVN_MOTION_RING);
    double sums[kUnitChannels] = {};
    for (int i = 0; i < read; ++i) {
      const ZAVNMotionSample& m = motion_[static_cast<std::size_t>(i)];
      UnitSample sample{seconds - static_cast<double>(nowUs - m.timeUs) / 1e6, {}};
      std::copy(m.accelG, m.accelG + 3, sample.units);
      std::copy(m.gyroDps, m.gyroDps + 3, sample.units + 3);
      for (int k = 0; k < kUnitChannels; ++k) sums[k] += sample.units[k];
      if (keepAll_) allUnits_[player - 1].push_back(sample);
      if (i == read - 1) {
        std::copy(sample.units, sample.units + kUnitChannels, view.units);
        view.attitude = AttitudeOf(m.orientation);
      }
    }
    for (int k = 0; k < kUnitChannels; ++k) {
      std::deque<float>& trace = traces_[player - 1][k];
      if (!view.linked()) trace.clear();
      if (read <= 0) continue;
      trace.push_back(static_cast<float>(sums[k] / read));
      if (trace.size() > kTraceLength) trace.pop_front();
    }
  }
  lastSeconds_ = seconds;
}

}  // namespace monitor
