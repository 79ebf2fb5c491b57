#include <string>

#include "views.h"

namespace monitor {
namespace {

constexpr int kBarWidth = 24;
constexpr std::int32_t kFullScale = 65535;
// Eighths of a cell, for the trace.
const char* const kLevels[] = {"\u2581", "\u2582", "\u2583", "\u2584",
                               "\u2585", "\u2586", "\u2587", "\u2588"};

std::string Bar(std::int32_t value) {
  const int filled = static_cast<int>(static_cast<long long>(value) * kBarWidth / kFullScale);
  std::string bar(static_cast<std::size_t>(filled), '#');
  bar.append(static_cast<std::size_t>(kBarWidth - filled), '.');
  return bar;
}

std::string TraceOf(const std::deque<std::int32_t>& trace) {
  std::string text;
  for (std::int32_t value : trace) {
    text += kLevels[static_cast<long long>(value) * 7 / kFullScale];
  }
  return text;
}

}  // namespace

void DrawLiveView(std::FILE* out, const Players& players, const std::string& receiver,
                  double seconds) {
  std::string screen = "\x1b[H";  // from the top left, over the last view
  char line[256];
  std::snprintf(line, sizeof line, "zavn-monitor  %s  %.1f s  (Ctrl-C to stop)\x1b[K\n\x1b[K\n",
                receiver.c_str(), seconds);
  screen += line;
  for (int player = 1; player <= kPlayers; ++player) {
    const PlayerView& v = players.View(player);
    std::snprintf(line, sizeof line, "player %d  Rx %-15s Tx %-15s", player, LinkName(v.rx),
                  LinkName(v.tx));
    screen += line;
    if (!v.linked()) {
      screen += "\x1b[K\n\x1b[K\n";
      continue;
    }
    std::snprintf(line, sizeof line, "%4u records/s  serial %-16s  version %s\x1b[K\n", v.rate,
                  v.serial.c_str(), v.version.c_str());
    screen += line;
    for (int k = 0; k < kChannels; ++k) {
      std::snprintf(line, sizeof line, "  motion %d %5d %s ", k, v.motion[k],
                    Bar(v.motion[k]).c_str());
      screen += line;
      screen += TraceOf(players.Trace(player, k));
      screen += "\x1b[K\n";
    }
    screen += "  buttons";
    if (v.buttons.empty()) screen += " -";
    for (int b : v.buttons) {
      screen += ' ';
      screen += std::to_string(b);
    }
    std::snprintf(line, sizeof line, "   extension %d %d %d\x1b[K\n\x1b[K\n", v.extension[0],
                  v.extension[1], v.extension[2]);
    screen += line;
  }
  screen += "\x1b[J";  // nothing of a longer earlier view stays below
  std::fputs(screen.c_str(), out);
  std::fflush(out);
}

}  // namespace monitor
