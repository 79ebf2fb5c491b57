// The terminal zavn-monitor draws on: whether there is one, Ctrl-C, and the screen modes that
// must be restored however the program ends.
#pragma once

#include <atomic>

namespace monitor {

bool StandardOutputIsTerminal();

// Ctrl-C (and termination requests) set the flag instead of ending the program.
void CatchInterrupts(std::atomic<bool>& interrupted);

// The alternate screen without a cursor, until the object is destroyed (or the program exits).
class LiveScreen {
 public:
  LiveScreen();
  ~LiveScreen();
  LiveScreen(const LiveScreen&) = delete;
  LiveScreen& operator=(const LiveScreen&) = delete;
};

}  // namespace monitor
