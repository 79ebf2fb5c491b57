// The terminal zavn-monitor draws on: whether there is one, Ctrl-C, and the screen modes that
// must be restored however the program ends.
#pragma once

#include <atomic>

namespace monitor {

bool StandardOutputIsTerminal();

struct TerminalSize {
  int columns = 80;
  int rows = 24;
  bool operator==(const TerminalSize&) const = default;
};
// The size of the terminal on standard output now (80x24 when it cannot be told).
TerminalSize CurrentTerminalSize();

// Ctrl-C (and termination requests) set the flag instead of ending the program.
void CatchInterrupts(std::atomic<bool>& interrupted);

// The alternate screen without a cursor, until Leave(), the object's end or the program's exit.
class LiveScreen {
 public:
  LiveScreen();
  ~LiveScreen();
  void Leave();
  LiveScreen(const LiveScreen&) = delete;
  LiveScreen& operator=(const LiveScreen&) = delete;
};

}  // namespace monitor
