// The terminal a tool draws on: whether there is one, Ctrl-C, and the few drawing
// operations of the live view and the update's progress bar, with the screen modes that must be
// restored however the program ends.
#pragma once

#include <atomic>
#include <cstdio>
#include <memory>
#include <string_view>

namespace tools {

bool StandardOutputIsTerminal();

struct TerminalSize {
  int columns = 80;
  int rows = 24;
  bool operator==(const TerminalSize&) const = default;
};

// Ctrl-C (and termination requests) set the flag instead of ending the program.
void CatchInterrupts(std::atomic<bool>& interrupted);

// What the live view and the progress bar draw with. Rows count from 0 at the top of the screen;
// text is UTF-8, one line at a time. A terminal that interprets escape sequences gets them; a
// Windows console that does not is drawn through the console API.
class Terminal {
 public:
  virtual ~Terminal() = default;
  // The size of the screen now (80x24 when it cannot be told).
  virtual TerminalSize Size() = 0;
  // The alternate screen without a cursor, until LeaveScreen() or the program's exit.
  void EnterScreen();
  // The main screen back with its cursor; nothing when the alternate screen is not entered.
  void LeaveScreen();
  // The cursor to the start of `row`.
  virtual void MoveToRow(int row) = 0;
  // Blanks the cursor's row, or every row from the cursor's to the bottom.
  virtual void ClearLine() = 0;
  virtual void ClearBelow() = 0;
  // At the cursor; on the main screen, '\n' starts a new line. '\r' goes back to the line's start.
  virtual void Write(std::string_view text) = 0;
  // What was drawn reaches the screen.
  virtual void Flush() = 0;

 protected:
  virtual void Enter() = 0;
  virtual void Leave() = 0;

 private:
  bool entered_ = false;
};

// The terminal on `out`, which must be a terminal (StandardOutputIsTerminal() for stdout).
std::unique_ptr<Terminal> OpenTerminal(std::FILE* out);

}  // namespace tools
