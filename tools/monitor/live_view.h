// The live view: the players drawn on the alternate screen, fitted to the terminal's size, each
// frame over the last; when it ends, the last frame is printed on the main screen (a little
// shorter, so that the shell's prompt below it does not push its top away), where it stays.
#pragma once

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "console.h"
#include "players.h"

namespace monitor {

using tools::OpenTerminal;
using tools::Terminal;
using tools::TerminalSize;

// The lines of one frame, none wider than `size.columns` and no more than `size.rows`. What does
// not fit goes first from the least useful end: blank lines, the channels' traces, their bars,
// then a player's identity line. A player's attitude ends its line, or where that is too narrow
// begins its identity line.
std::vector<std::string> ComposeLiveView(const Players& players, const std::string& receiver,
                                         double seconds, TerminalSize size);

class LiveView {
 public:
  explicit LiveView(std::FILE* out);
  ~LiveView();
  LiveView(const LiveView&) = delete;
  LiveView& operator=(const LiveView&) = delete;

  void Draw(const Players& players, const std::string& receiver, double seconds);

 private:
  std::unique_ptr<Terminal> terminal_;
  TerminalSize size_{0, 0};
  std::vector<std::string> lastFrame_;  // for the main screen: leaves room for the prompt
};

}  // namespace monitor
