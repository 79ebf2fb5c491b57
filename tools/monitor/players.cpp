#include "players.h"

#include <algorithm>

namespace monitor {
namespace {

std::string Printable(const std::uint8_t* bytes, std::size_t count) {
  std::string text;
  for (std::size_t i = 0; i < count && bytes[i] != 0; ++i) {
    text += bytes[i] >= 0x20 && bytes[i] < 0x7F ? static_cast<char>(bytes[i]) : '.';
  }
  return text;
}

}  // namespace

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

Players::Players(bool keepAll) : keepAll_(keepAll) {}

void Players::Capture(double seconds) {
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
    // The trace: the latest value of each look that brought samples, while the link is up.
    for (int k = 0; k < kChannels; ++k) {
      std::deque<std::int32_t>& trace = traces_[player - 1][k];
      if (!view.linked()) trace.clear();
      if (count == 0) continue;
      trace.push_back(view.motion[k]);
      if (trace.size() > kTraceLength) trace.pop_front();
    }
  }
  lastSeconds_ = seconds;
}

}  // namespace monitor
