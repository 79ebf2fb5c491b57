// What zavn-monitor's SVG plots are drawn with: a document, charts with ticked axes, gridlines
// and legends, and writing the file.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace monitor::svg {

// An axis from `low` to `high` with ticks every `step` (1, 2 or 5 times a power of ten), shown
// with `decimals` digits after the point.
struct Axis {
  double low = 0, high = 1, step = 1;
  int decimals = 0;
  std::vector<double> Ticks() const;
  std::string Label(double value) const;
};

// About `wanted` ticks (at most that many) over exactly `low` to `high`.
Axis NiceAxis(double low, double high, int wanted);
// An axis fitted to data from `min` to `max` with a margin on both sides; one that starts at or
// above zero stays there.
Axis FittedAxis(double min, double max, int wanted);

// "1.5" with one decimal: coordinates and seconds.
std::string Number(double value);
// `text` with the characters XML reserves escaped.
std::string Escaped(std::string_view text);

// A chart's plot area on the page and the axes it maps.
struct Frame {
  double left, top, width, height;
  Axis x, y;
  double X(double value) const { return left + width * (value - x.low) / (x.high - x.low); }
  double Y(double value) const { return top + height * (1 - (value - y.low) / (y.high - y.low)); }
  double Right() const { return left + width; }
  double Bottom() const { return top + height; }
};

struct LegendEntry {
  std::string colour, name;
};

// The height a document's title and subtitle take at the top.
inline constexpr double kHeaderHeight = 74;

class Document {
 public:
  // A white page with `title` (also the document's) and a line under it at the top left.
  Document(int width, int height, std::string_view title, std::string_view subtitle);

  // Raw SVG elements.
  Document& operator+=(std::string_view element);
  void Text(double x, double y, std::string_view text, std::string_view attributes = "");
  void Line(double x1, double y1, double x2, double y2, std::string_view attributes);

  // Gridlines, the axes with their ticks and labels, and the axis names: the x axis's name
  // `xNameDrop` below the plot area, to leave room for what a chart shows under its tick labels.
  void Axes(const Frame& frame, std::string_view xName, std::string_view yName, double xNameDrop);
  // The entries one under another, from (x, y).
  void Legend(double x, double y, const std::vector<LegendEntry>& entries);

  // The finished document.
  std::string Finished() const;

 private:
  std::string body_;
};

// Writes `text` to `path`; false with the system's reason when it cannot.
bool WriteFile(const std::string& path, const std::string& text, std::string& reason);

}  // namespace monitor::svg
