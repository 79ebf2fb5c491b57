#include "console.h"

#include <csignal>
#include <cstdio>
#include <cstdlib>

#if defined(_WIN32)
#include <io.h>
#include <windows.h>
#else
#include <sys/ioctl.h>
#include <unistd.h>
#endif

namespace monitor {
namespace {

std::atomic<bool>* g_interrupted = nullptr;
bool g_screenActive = false;

extern "C" void OnInterrupt(int) {
  if (g_interrupted != nullptr) g_interrupted->store(true);
}

void RestoreScreen() {
  if (!g_screenActive) return;
  g_screenActive = false;
  std::fputs("\x1b[?25h\x1b[?1049l", stdout);  // cursor back, main screen back
  std::fflush(stdout);
}

}  // namespace

bool StandardOutputIsTerminal() {
#if defined(_WIN32)
  return _isatty(_fileno(stdout)) != 0;
#else
  return isatty(fileno(stdout)) != 0;
#endif
}

TerminalSize CurrentTerminalSize() {
  TerminalSize size;
#if defined(_WIN32)
  CONSOLE_SCREEN_BUFFER_INFO info;
  if (GetConsoleScreenBufferInfo(GetStdHandle(STD_OUTPUT_HANDLE), &info)) {
    size.columns = info.srWindow.Right - info.srWindow.Left + 1;
    size.rows = info.srWindow.Bottom - info.srWindow.Top + 1;
  }
#else
  winsize window{};
  if (ioctl(fileno(stdout), TIOCGWINSZ, &window) == 0 && window.ws_col > 0 && window.ws_row > 0) {
    size.columns = window.ws_col;
    size.rows = window.ws_row;
  }
#endif
  return size;
}

void CatchInterrupts(std::atomic<bool>& interrupted) {
  g_interrupted = &interrupted;
  std::signal(SIGINT, OnInterrupt);
  std::signal(SIGTERM, OnInterrupt);
}

LiveScreen::LiveScreen() {
#if defined(_WIN32)
  HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
  DWORD mode = 0;
  if (GetConsoleMode(out, &mode)) SetConsoleMode(out, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING);
  SetConsoleOutputCP(CP_UTF8);  // the trace's block characters
#endif
  std::fputs("\x1b[?1049h\x1b[?25l", stdout);  // alternate screen, no cursor
  std::fflush(stdout);
  g_screenActive = true;
  std::atexit(RestoreScreen);
}

LiveScreen::~LiveScreen() {
  RestoreScreen();
}

void LiveScreen::Leave() {
  RestoreScreen();
}

}  // namespace monitor
