#include "console.h"

#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <iterator>
#include <string>

#if defined(_WIN32)
#include <io.h>
#include <windows.h>
#else
#include <sys/ioctl.h>
#include <unistd.h>
#endif

namespace tools {
namespace {

std::atomic<bool>* g_interrupted = nullptr;
Terminal* g_onAlternateScreen = nullptr;

extern "C" void OnInterrupt(int) {
  if (g_interrupted != nullptr) g_interrupted->store(true);
}

void RestoreAtExit() {
  if (g_onAlternateScreen != nullptr) g_onAlternateScreen->LeaveScreen();
}

#if defined(_WIN32)
HANDLE HandleOf(std::FILE* out) {
  return reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(out)));
}

// The part of the console's buffer shown.
TerminalSize WindowSize(HANDLE console) {
  TerminalSize size;
  CONSOLE_SCREEN_BUFFER_INFO info;
  if (GetConsoleScreenBufferInfo(console, &info)) {
    size.columns = info.srWindow.Right - info.srWindow.Left + 1;
    size.rows = info.srWindow.Bottom - info.srWindow.Top + 1;
  }
  return size;
}
#endif

TerminalSize SizeOf(std::FILE* out) {
#if defined(_WIN32)
  return WindowSize(HandleOf(out));
#else
  TerminalSize size;
  winsize window{};
  if (ioctl(fileno(out), TIOCGWINSZ, &window) == 0 && window.ws_col > 0 && window.ws_row > 0) {
    size.columns = window.ws_col;
    size.rows = window.ws_row;
  }
  return size;
#endif
}

// Escape sequences, gathered and sent in one piece when flushed.
class VtTerminal : public Terminal {
 public:
  explicit VtTerminal(std::FILE* out) : out_(out) {}
  ~VtTerminal() override { LeaveScreen(); }
  TerminalSize Size() override { return SizeOf(out_); }
  void MoveToRow(int row) override { pending_ += "\x1b[" + std::to_string(row + 1) + ";1H"; }
  void ClearLine() override { pending_ += "\x1b[2K"; }
  void ClearBelow() override { pending_ += "\x1b[J"; }
  void Write(std::string_view text) override { pending_ += text; }
  void Flush() override {
    Send(pending_);
    pending_.clear();
  }

 protected:
  void Enter() override { pending_ += "\x1b[?1049h\x1b[?25l"; }
  void Leave() override { pending_ += "\x1b[?25h\x1b[?1049l"; }
  virtual void Send(std::string_view bytes) {
    std::fwrite(bytes.data(), 1, bytes.size(), out_);
    std::fflush(out_);
  }
  std::FILE* out_;

 private:
  std::string pending_;
};

#if defined(_WIN32)
std::wstring Widen(std::string_view utf8) {
  std::wstring wide(utf8.size(), L'\0');  // never more UTF-16 units than UTF-8 bytes
  const int length = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()),
                                         wide.data(), static_cast<int>(wide.size()));
  wide.resize(static_cast<std::size_t>(length > 0 ? length : 0));
  return wide;
}

void WriteWide(HANDLE console, std::string_view utf8) {
  const std::wstring wide = Widen(utf8);
  DWORD written = 0;
  WriteConsoleW(console, wide.data(), static_cast<DWORD>(wide.size()), &written, nullptr);
}

// Blanks `cells` cells from `from` on, in the buffer's current colours.
void Blank(HANDLE console, COORD from, DWORD cells) {
  CONSOLE_SCREEN_BUFFER_INFO info;
  if (!GetConsoleScreenBufferInfo(console, &info)) return;
  DWORD done = 0;
  FillConsoleOutputCharacterW(console, L' ', cells, from, &done);
  FillConsoleOutputAttribute(console, info.wAttributes, cells, from, &done);
}

// A Windows console that interprets escape sequences. The text goes as UTF-16, so that the
// console's code page does not matter (and is left as it is); the console's mode is restored at
// the end.
class VtConsole final : public VtTerminal {
 public:
  VtConsole(std::FILE* out, HANDLE console, DWORD mode)
      : VtTerminal(out), console_(console), mode_(mode) {}
  ~VtConsole() override {
    LeaveScreen();
    SetConsoleMode(console_, mode_);
  }

 private:
  void Send(std::string_view bytes) override {
    std::fflush(out_);
    WriteWide(console_, bytes);
  }
  HANDLE console_;
  DWORD mode_;
};

// A console that takes no escape sequences, drawn through the console API: on a screen buffer of
// its own where the console offers one, else on the visible part of the main one, blanked when
// entered and when left.
class ApiConsole final : public Terminal {
 public:
  explicit ApiConsole(HANDLE console) : main_(console), screen_(console) {
    // The buffer shown now, by a handle of its own: under Wine the standard output's handle
    // follows whichever buffer is shown, and could not bring the main one back.
    HANDLE shown =
        CreateFileW(L"CONOUT$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                    nullptr, OPEN_EXISTING, 0, nullptr);
    if (shown != INVALID_HANDLE_VALUE) main_ = screen_ = ownMain_ = shown;
  }
  ~ApiConsole() override {
    LeaveScreen();
    if (ownMain_ != INVALID_HANDLE_VALUE) CloseHandle(ownMain_);
  }
  TerminalSize Size() override { return WindowSize(screen_); }
  void MoveToRow(int row) override {
    CONSOLE_SCREEN_BUFFER_INFO info;
    if (!GetConsoleScreenBufferInfo(screen_, &info)) return;
    SetConsoleCursorPosition(screen_,
                             {info.srWindow.Left, static_cast<SHORT>(info.srWindow.Top + row)});
  }
  void ClearLine() override { BlankRows(false); }
  void ClearBelow() override { BlankRows(true); }
  // Without wrapping at the line's end: a full last row must not scroll, and a line as wide as
  // the screen followed by '\n' must not take two rows.
  void Write(std::string_view text) override {
    DWORD mode = 0;
    const bool known = GetConsoleMode(screen_, &mode);
    if (known) SetConsoleMode(screen_, mode & ~static_cast<DWORD>(ENABLE_WRAP_AT_EOL_OUTPUT));
    WriteWide(screen_, text);
    if (known) SetConsoleMode(screen_, mode);
  }
  void Flush() override {}

 private:
  void Enter() override {
    HANDLE own =
        CreateConsoleScreenBuffer(GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                  nullptr, CONSOLE_TEXTMODE_BUFFER, nullptr);
    if (own != INVALID_HANDLE_VALUE && SetConsoleActiveScreenBuffer(own)) {
      screen_ = own;
    } else if (own != INVALID_HANDLE_VALUE) {
      CloseHandle(own);
    }
    GetConsoleCursorInfo(screen_, &cursor_);
    CONSOLE_CURSOR_INFO hidden = cursor_;
    hidden.bVisible = FALSE;
    SetConsoleCursorInfo(screen_, &hidden);
    MoveToRow(0);
    ClearBelow();
  }
  void Leave() override {
    if (screen_ != main_) {
      SetConsoleActiveScreenBuffer(main_);
      CloseHandle(screen_);
      screen_ = main_;
      return;
    }
    MoveToRow(0);
    ClearBelow();
    SetConsoleCursorInfo(screen_, &cursor_);
  }
  // The cursor's row, or (`below`) every row from it to the window's bottom.
  void BlankRows(bool below) {
    CONSOLE_SCREEN_BUFFER_INFO info;
    if (!GetConsoleScreenBufferInfo(screen_, &info)) return;
    const int rows = below ? info.srWindow.Bottom - info.dwCursorPosition.Y + 1 : 1;
    Blank(screen_, {0, info.dwCursorPosition.Y},
          static_cast<DWORD>(std::max(rows, 0) * info.dwSize.X));
  }

  HANDLE main_;
  HANDLE screen_;
  HANDLE ownMain_ = INVALID_HANDLE_VALUE;
  CONSOLE_CURSOR_INFO cursor_{};
};

// Whether the console interprets escape sequences: it must take and keep the mode, and a sequence
// that prints nothing must not move the cursor. Wine's console takes and keeps the mode but
// stores the sequences as text; in a terminal it passes them on as they are, and the terminal
// then no longer shows what the console holds. A probe printed as text is blanked again.
bool InterpretsEscapes(HANDLE console, DWORD mode) {
  DWORD taken = 0;
  if (!SetConsoleMode(console, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING) ||
      !GetConsoleMode(console, &taken) || (taken & ENABLE_VIRTUAL_TERMINAL_PROCESSING) == 0) {
    SetConsoleMode(console, mode);
    return false;
  }
  static const wchar_t kProbe[] = L"\x1b[?25h";  // shows the cursor, which is shown
  CONSOLE_SCREEN_BUFFER_INFO before;
  CONSOLE_SCREEN_BUFFER_INFO after;
  DWORD written = 0;
  if (!GetConsoleScreenBufferInfo(console, &before) ||
      !WriteConsoleW(console, kProbe, static_cast<DWORD>(std::size(kProbe) - 1), &written,
                     nullptr) ||
      !GetConsoleScreenBufferInfo(console, &after)) {
    return true;
  }
  const COORD at = before.dwCursorPosition;
  const int moved =
      (after.dwCursorPosition.Y - at.Y) * before.dwSize.X + (after.dwCursorPosition.X - at.X);
  if (moved == 0) return true;
  if (moved > 0) Blank(console, at, static_cast<DWORD>(moved));
  SetConsoleCursorPosition(console, at);
  SetConsoleMode(console, mode);
  return false;
}
#endif

}  // namespace

bool StandardOutputIsTerminal() {
#if defined(_WIN32)
  return _isatty(_fileno(stdout)) != 0;
#else
  return isatty(fileno(stdout)) != 0;
#endif
}

void CatchInterrupts(std::atomic<bool>& interrupted) {
  g_interrupted = &interrupted;
  std::signal(SIGINT, OnInterrupt);
  std::signal(SIGTERM, OnInterrupt);
}

void Terminal::EnterScreen() {
  if (entered_) return;
  static const bool registered = std::atexit(RestoreAtExit) == 0;
  (void)registered;
  Enter();
  Flush();
  entered_ = true;
  g_onAlternateScreen = this;
}

void Terminal::LeaveScreen() {
  if (!entered_) return;
  entered_ = false;
  if (g_onAlternateScreen == this) g_onAlternateScreen = nullptr;
  Leave();
  Flush();
}

std::unique_ptr<Terminal> OpenTerminal(std::FILE* out) {
#if defined(_WIN32)
  HANDLE console = HandleOf(out);
  DWORD mode = 0;
  if (GetConsoleMode(console, &mode)) {
    if (!InterpretsEscapes(console, mode)) return std::make_unique<ApiConsole>(console);
    return std::make_unique<VtConsole>(out, console, mode);
  }
#endif
  return std::make_unique<VtTerminal>(out);
}

}  // namespace tools
