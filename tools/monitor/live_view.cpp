#include "live_view.h"

#include <algorithm>
#include <cmath>
#include <string_view>

namespace monitor {
namespace {

constexpr int kIndent = 2;  // channel lines and identity lines under the player's line
// A channel's text: its label, its value and its unit, as "accel x   +0.12 g     " or, short,
// "ax  +0.12 g     "; the gyro's have "deg/s" for "g    ".
constexpr int kValueWidth = 7;       // -2000.0 deg/s, +16.00 g
constexpr int kUnitWidth = 6;        // " deg/s"
constexpr int kLongLabelWidth = 8;   // "accel x "
constexpr int kShortLabelWidth = 2;  // "ax"
// Where each channel's bar is full: the accelerometer's and gyro's usual ranges when held.
constexpr double kBarScale[2] = {2, 250};  // +-g, +-deg/s
// A cell's label, value and unit, with the space before the next cell.
constexpr int kMinCellWidth = kShortLabelWidth + kValueWidth + kUnitWidth + 1;
constexpr int kMinBarCells = 6;
constexpr int kMaxBarCells = 24;
constexpr int kMinTraceCells = 8;
// Channels side by side on one line, from the richest layout to the most compact.
constexpr int kChannelsPerLine[] = {1, 2, 3, kUnitChannels};
// The channels' order on the screen: two a line pair each axis's acceleration and rotation.
constexpr int kInOrder[kUnitChannels] = {0, 1, 2, 3, 4, 5};
constexpr int kPaired[kUnitChannels] = {0, 3, 1, 4, 2, 5};
// Eighths of a cell, for the trace.
const char* const kLevels[] = {"\u2581", "\u2582", "\u2583", "\u2584",
                               "\u2585", "\u2586", "\u2587", "\u2588"};
constexpr int kLevelCount = static_cast<int>(std::size(kLevels));
const char* const kEllipsis = "\u2026";
// Rows left under the frame printed at the end: the shell's prompt, and a line before it.
constexpr int kRowsBelowLastFrame = 2;

// One line of a frame, clipped at the terminal's width. It counts columns, not bytes: a trace
// level or the ellipsis is one column of several bytes.
class Line {
 public:
  explicit Line(int width) : width_(width) {}
  void Add(std::string_view text) {
    for (std::size_t i = 0; i < text.size(); ++i) Glyph(text.substr(i, 1));
  }
  void Glyph(std::string_view glyph) {
    if (used_ >= width_) return;
    text_ += glyph;
    ++used_;
  }
  // Adds `text` only when the whole of it fits: a field is shown complete or not at all.
  void AddWhole(std::string_view text) {
    if (used_ + static_cast<int>(text.size()) <= width_) Add(text);
  }
  void PadTo(int column) {
    while (used_ < std::min(column, width_)) Glyph(" ");
  }
  int used() const { return used_; }
  std::string Take() { return std::move(text_); }

 private:
  int width_;
  int used_ = 0;
  std::string text_;
};

// How one channel's cell is drawn when `perLine` cells share a line `columns` wide: the label,
// the value, then a bar and a trace as far as they fit (the trace goes first, then the bar).
struct CellLayout {
  int width = 0;
  bool longLabel = false;
  int barCells = 0;
  int traceCells = 0;
};

CellLayout LayoutCell(int columns, int perLine) {
  CellLayout cell;
  cell.width = std::max(0, columns - kIndent) / perLine;
  // A space after the unit and between cells.
  int room = cell.width - kValueWidth - kUnitWidth - 2;
  cell.longLabel = room - kLongLabelWidth >= kMinBarCells;
  room -= cell.longLabel ? kLongLabelWidth : kShortLabelWidth;
  if (room >= kMinBarCells + 1 + kMinTraceCells) {
    cell.barCells = std::clamp(room / 3, kMinBarCells, kMaxBarCells);
    cell.traceCells = std::min(room - cell.barCells - 1, static_cast<int>(Players::kTraceLength));
  } else if (room >= kMinBarCells) {
    cell.barCells = std::min(room, kMaxBarCells);
  }
  return cell;
}

// Centred on zero: half full at 0, full at +scale, empty at -scale.
void AddBar(Line& line, double value, double scale, int cells) {
  const double share = std::clamp((value + scale) / (2 * scale), 0.0, 1.0);
  const auto filled = static_cast<int>(std::lround(share * cells));
  for (int i = 0; i < cells; ++i) line.Glyph(i < filled ? "#" : ".");
}

// The newest `cells` looks of a channel, scaled to their own range so that movement shows.
void AddTrace(Line& line, const std::deque<float>& trace, int cells) {
  const auto first = trace.end() - std::min<std::ptrdiff_t>(cells, std::ssize(trace));
  const auto [low, high] = std::minmax_element(first, trace.end());
  for (auto it = first; it != trace.end(); ++it) {
    const double span = *high - *low;
    const int level =
        span <= 0 ? kLevelCount / 2 - 1 : static_cast<int>((*it - *low) * (kLevelCount - 1) / span);
    line.Glyph(kLevels[std::clamp(level, 0, kLevelCount - 1)]);
  }
}

void AddChannel(Line& line, const Players& players, int player, int channel,
                const CellLayout& cell) {
  const bool gyro = channel >= 3;
  const char axis = static_cast<char>('x' + channel % 3);
  const float value = players.View(player).units[channel];
  char text[48];
  if (cell.longLabel) {
    std::snprintf(text, sizeof text, "%-5s %c ", gyro ? "gyro" : "accel", axis);
  } else {
    std::snprintf(text, sizeof text, "%c%c", gyro ? 'g' : 'a', axis);
  }
  line.Add(text);
  std::snprintf(text, sizeof text, gyro ? "%+*.1f deg/s " : "%+*.2f g     ", kValueWidth,
                static_cast<double>(value));
  line.Add(text);
  if (cell.barCells > 0) AddBar(line, value, kBarScale[gyro ? 1 : 0], cell.barCells);
  if (cell.traceCells > 0) {
    line.Add(" ");
    AddTrace(line, players.Trace(player, channel), cell.traceCells);
  }
}

// "roll R pitch P yaw Y" in whole degrees.
std::string AttitudeText(const Attitude& a) {
  char text[64];
  std::snprintf(text, sizeof text, "roll %+ld pitch %+ld yaw %+ld", std::lround(a.roll),
                std::lround(a.pitch), std::lround(a.yaw));
  return text;
}

// The attitude ends the line when it fits; else it begins the identity line.
std::string PlayerLine(const PlayerView& v, int columns, bool& attitudeShown) {
  Line line(columns);
  char text[96];
  std::snprintf(text, sizeof text, "player %d  Rx %s  Tx %s", v.player, LinkName(v.rx),
                LinkName(v.tx));
  line.Add(text);
  attitudeShown = !v.linked();
  if (v.linked()) {
    std::snprintf(text, sizeof text, "  %u records/s", v.rate);
    line.AddWhole(text);
    const std::string attitude = "  " + AttitudeText(v.attitude);
    attitudeShown = line.used() + std::ssize(attitude) <= columns;
    line.AddWhole(attitude);
  }
  return line.Take();
}

// Buttons and extension first: they change; the serial number and version do not.
std::string IdentityLine(const PlayerView& v, int columns, bool withAttitude) {
  Line line(columns);
  line.PadTo(kIndent);
  if (withAttitude) line.Add(AttitudeText(v.attitude) + "  ");
  line.Add("buttons");
  if (v.buttons.empty()) line.Add(" -");
  for (int b : v.buttons) line.Add(" " + std::to_string(b));
  char text[64];
  std::snprintf(text, sizeof text, "  extension %d %d %d", v.extension[0], v.extension[1],
                v.extension[2]);
  line.AddWhole(text);
  line.AddWhole("  serial " + (v.serial.empty() ? std::string("-") : v.serial));
  line.AddWhole("  version " + (v.version.empty() ? std::string("-") : v.version));
  return line.Take();
}

// The receiver on the left, clipped with an ellipsis; the time and how to stop on the right.
std::string TitleLine(const std::string& receiver, double seconds, int columns) {
  char right[48];
  std::snprintf(right, sizeof right, "  %.1f s  Ctrl-C to stop", seconds);
  const std::string left = "zavn-monitor  " + receiver;
  const int leftRoom = columns - static_cast<int>(std::string_view(right).size());
  Line line(columns);
  if (static_cast<int>(left.size()) <= leftRoom) {
    line.Add(left);
  } else if (leftRoom > 1) {
    line.Add(std::string_view(left).substr(0, static_cast<std::size_t>(leftRoom - 1)));
    line.Glyph(kEllipsis);
  }
  line.PadTo(leftRoom);
  line.Add(right);
  return line.Take();
}

struct Layout {
  int perLine;
  bool blankLines;
  bool identity;
};

int RowsNeeded(const Players& players, const Layout& layout) {
  int rows = 1 + (layout.blankLines ? kPlayers : 0);
  for (int player = 1; player <= kPlayers; ++player) {
    rows += 1;
    if (!players.View(player).linked()) continue;
    rows += (layout.identity ? 1 : 0) + (kUnitChannels + layout.perLine - 1) / layout.perLine;
  }
  return rows;
}

// The richest layout that fits the terminal's height, among those whose values fit its width.
Layout ChooseLayout(const Players& players, TerminalSize size) {
  int narrowest = 1;
  for (int perLine : kChannelsPerLine) {
    if (LayoutCell(size.columns, perLine).width < kMinCellWidth) break;
    narrowest = perLine;
    for (bool blankLines : {true, false}) {
      const Layout layout{perLine, blankLines, true};
      if (RowsNeeded(players, layout) <= size.rows) return layout;
    }
  }
  return {narrowest, false, false};  // and clipped at the bottom if even that is too tall
}

}  // namespace

std::vector<std::string> ComposeLiveView(const Players& players, const std::string& receiver,
                                         double seconds, TerminalSize size) {
  const Layout layout = ChooseLayout(players, size);
  const CellLayout cell = LayoutCell(size.columns, layout.perLine);
  std::vector<std::string> frame{TitleLine(receiver, seconds, size.columns)};
  for (int player = 1; player <= kPlayers; ++player) {
    if (layout.blankLines) frame.emplace_back();
    const PlayerView& v = players.View(player);
    bool attitudeShown = false;
    frame.push_back(PlayerLine(v, size.columns, attitudeShown));
    if (!v.linked()) continue;
    if (layout.identity) frame.push_back(IdentityLine(v, size.columns, !attitudeShown));
    const int* order = layout.perLine == 2 ? kPaired : kInOrder;
    for (int first = 0; first < kUnitChannels; first += layout.perLine) {
      Line line(size.columns);
      line.PadTo(kIndent);
      for (int i = first; i < std::min(first + layout.perLine, kUnitChannels); ++i) {
        line.PadTo(kIndent + (i - first) * cell.width);  // not after the last: no trailing space
        AddChannel(line, players, player, order[i], cell);
      }
      frame.push_back(line.Take());
    }
  }
  if (std::ssize(frame) > size.rows) frame.resize(static_cast<std::size_t>(size.rows));
  return frame;
}

LiveView::LiveView(std::FILE* out) : terminal_(OpenTerminal(out)) {
  terminal_->EnterScreen();
}

void LiveView::Draw(const Players& players, const std::string& receiver, double seconds) {
  Terminal& terminal = *terminal_;
  const TerminalSize size = terminal.Size();
  if (size != size_) {  // resized: nothing of the old layout stays
    terminal.MoveToRow(0);
    terminal.ClearBelow();
  }
  size_ = size;
  const std::vector<std::string> frame = ComposeLiveView(players, receiver, seconds, size);
  // Each line placed by the cursor, never by a line feed: a full last row never scrolls.
  for (std::size_t row = 0; row < frame.size(); ++row) {
    terminal.MoveToRow(static_cast<int>(row));
    terminal.ClearLine();
    terminal.Write(frame[row]);
  }
  if (std::ssize(frame) < size.rows) {
    terminal.MoveToRow(static_cast<int>(frame.size()));
    terminal.ClearBelow();
  }
  lastFrame_ = ComposeLiveView(players, receiver, seconds,
                               {size.columns, std::max(1, size.rows - kRowsBelowLastFrame)});
  terminal.Flush();
}

LiveView::~LiveView() {
  terminal_->LeaveScreen();
  for (const std::string& line : lastFrame_) {
    terminal_->Write(line);
    terminal_->Write("\n");
  }
  terminal_->Flush();
}

}  // namespace monitor
