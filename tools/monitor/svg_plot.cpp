#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <limits>
#include <string>

#include "svg_chart.h"
#include "views.h"

namespace monitor {
namespace {

constexpr int kWidth = 1000;
constexpr double kLeft = 84;          // the y axis's tick labels and name
constexpr double kLegendWidth = 150;  // right of each chart
constexpr double kPlotWidth = kWidth - kLeft - kLegendWidth;
constexpr double kLegendGap = 20;
constexpr double kHeadingHeight = 30;     // a chart's heading, above its plot area
constexpr double kHeadingAbovePlot = 10;  // from the heading's baseline
constexpr double kMotionHeight = 200;
constexpr double kExtensionHeight = 130;
constexpr double kUnitHeight = 150;
constexpr double kBelow = 54;              // tick labels and the axis name
constexpr double kBelowWithPresses = 76;   // the same with the button presses between them
constexpr double kAxisNameAboveNext = 14;  // from the time axis name's baseline to the next chart
constexpr int kTimeTicks = 10;
constexpr int kValueTicks = 6;
constexpr double kShortestRun = 0.1;      // seconds on the time axis at least
constexpr std::size_t kMaxPoints = 2000;  // per line; longer runs keep each stretch's low and high
constexpr double kGapSeconds = 0.5;       // a line is broken where no samples came for so long
constexpr double kPressTop = 23, kPressLabelDrop = 42;  // the marks' tips and labels, below
const char* const kPressColour = "#b03030";
constexpr double kDigitWidth = 7;
constexpr double kLabelGap = 8;
const char* const kMotionColours[kChannels] = {"#1f77b4", "#ff7f0e", "#2ca02c",
                                               "#d62728", "#9467bd", "#8c564b"};
const char* const kUnitColours[3] = {"#1f77b4", "#ff7f0e", "#2ca02c"};  // x, y, z
const char* const kExtensionColours[ZAVN_EXTENSION_CHANNELS] = {"#17becf", "#e377c2", "#7f7f7f"};

// A few channels of one player over the run, drawn with their own value axis.
struct Chart {
  std::string id, name, details;  // details: the heading's text after the name
  std::string valueName = "raw value";
  double plotHeight = kMotionHeight;
  std::vector<double> seconds;
  std::vector<std::vector<double>> channels;          // each channel's value at `seconds`
  std::vector<svg::LegendEntry> legend;               // one per channel, its line's colour
  const std::vector<ButtonPress>* presses = nullptr;  // marked under the time axis

  double Height() const {
    return kHeadingHeight + plotHeight + (presses != nullptr ? kBelowWithPresses : kBelow);
  }
};

// "player 1", "players 1 and 2", "players 1, 2 and 3".
std::string PlayersNamed(const std::vector<int>& numbers) {
  std::string text = numbers.size() == 1 ? "player " : "players ";
  for (std::size_t i = 0; i < numbers.size(); ++i) {
    if (i > 0) text += i + 1 == numbers.size() ? " and " : ", ";
    text += std::to_string(numbers[i]);
  }
  return text;
}

// "1 sample", "2 samples".
std::string Counted(std::size_t count, const std::string& one, const std::string& many) {
  return std::to_string(count) + " " + (count == 1 ? one : many);
}

Chart MotionChart(const Players& players, int player) {
  const PlayerView& view = players.View(player);
  const std::vector<PlotSample>& samples = players.AllSamples(player);
  Chart chart;
  chart.id = "player" + std::to_string(player);
  chart.name = "player " + std::to_string(player);
  if (!view.serial.empty()) chart.details += "serial " + view.serial + "  \u00b7  ";
  if (!view.version.empty()) chart.details += "version " + view.version + "  \u00b7  ";
  chart.details += Counted(samples.size(), "sample", "samples") + "  \u00b7  " +
                   Counted(players.Presses(player).size(), "button press", "button presses");
  chart.presses = &players.Presses(player);
  chart.channels.resize(kChannels);
  for (const PlotSample& sample : samples) {
    chart.seconds.push_back(sample.seconds);
    for (int k = 0; k < kChannels; ++k) chart.channels[k].push_back(sample.motion[k]);
  }
  for (int k = 0; k < kChannels; ++k) {
    chart.legend.push_back({kMotionColours[k], "motion " + std::to_string(k)});
  }
  return chart;
}

// The acceleration along (first = 0) or the rotation rate about (first = 3) x, y and z.
Chart UnitChart(const Players& players, int player, int first) {
  const bool gyro = first == 3;
  Chart chart;
  chart.id = "player" + std::to_string(player) + (gyro ? "-gyro" : "-accel");
  chart.name = "player " + std::to_string(player) + (gyro ? " rotation rate" : " acceleration");
  chart.valueName = gyro ? "rotation (deg/s)" : "acceleration (g)";
  chart.plotHeight = kUnitHeight;
  chart.details = Counted(players.AllUnitSamples(player).size(), "sample", "samples");
  chart.channels.resize(3);
  for (const UnitSample& sample : players.AllUnitSamples(player)) {
    chart.seconds.push_back(sample.seconds);
    for (int k = 0; k < 3; ++k) chart.channels[k].push_back(sample.units[first + k]);
  }
  for (int k = 0; k < 3; ++k) {
    chart.legend.push_back(
        {kUnitColours[k], std::string(gyro ? "gyro " : "accel ") + static_cast<char>('x' + k)});
  }
  return chart;
}

// The samples that carry an extension value (a zero triple is a position no extension record
// filled); none when the player has no extension.
Chart ExtensionChart(const Players& players, int player) {
  Chart chart;
  chart.id = "player" + std::to_string(player) + "-extension";
  chart.name = "player " + std::to_string(player) + " extension";
  chart.plotHeight = kExtensionHeight;
  chart.channels.resize(ZAVN_EXTENSION_CHANNELS);
  for (const PlotSample& sample : players.AllSamples(player)) {
    const std::int32_t* value = sample.extension;
    if (std::all_of(value, value + ZAVN_EXTENSION_CHANNELS,
                    [](std::int32_t v) { return v == 0; })) {
      continue;
    }
    chart.seconds.push_back(sample.seconds);
    for (int k = 0; k < ZAVN_EXTENSION_CHANNELS; ++k) chart.channels[k].push_back(value[k]);
  }
  chart.details = Counted(chart.seconds.size(), "sample", "samples") + " with an extension value";
  for (int k = 0; k < ZAVN_EXTENSION_CHANNELS; ++k) {
    chart.legend.push_back({kExtensionColours[k], "extension " + std::to_string(k)});
  }
  return chart;
}

// A line through the samples, broken where they stop for a while (a link that was down). Long
// runs keep the lowest and the highest value of each stretch, so that no spike is lost.
std::string LinePath(const svg::Frame& frame, const std::vector<double>& seconds,
                     const std::vector<double>& values) {
  const std::size_t count = seconds.size();
  const std::size_t stretch =
      count <= kMaxPoints ? 1 : (count + kMaxPoints / 2 - 1) / (kMaxPoints / 2);
  std::string path;
  std::size_t runStart = 0;
  for (std::size_t end = 1; end <= count; ++end) {
    if (end < count && seconds[end] - seconds[end - 1] <= kGapSeconds) continue;
    // Samples runStart to end - 1 came without a gap.
    char command = 'M';
    const auto add = [&](std::size_t i) {
      path += command + svg::Number(frame.X(seconds[i])) + "," + svg::Number(frame.Y(values[i]));
      path += ' ';
      command = 'L';
    };
    for (std::size_t start = runStart; start < end; start += stretch) {
      const auto first = values.begin() + static_cast<std::ptrdiff_t>(start);
      const auto [low, high] = std::minmax_element(
          first, first + static_cast<std::ptrdiff_t>(std::min(stretch, end - start)));
      const auto i = static_cast<std::size_t>(low - values.begin());
      const auto j = static_cast<std::size_t>(high - values.begin());
      add(std::min(i, j));
      if (i != j) add(std::max(i, j));
    }
    if (end - runStart == 1) add(runStart);  // a lone sample: a dot, by the round line caps
    runStart = end;
  }
  return path;
}

// A mark under the time axis at each press, with the button's number where there is room.
void DrawPresses(svg::Document& doc, const svg::Frame& frame,
                 const std::vector<ButtonPress>& presses) {
  const double top = frame.Bottom() + kPressTop;
  doc += "<g class=\"presses\" font-size=\"11\" text-anchor=\"middle\">\n";
  const double labelY = frame.Bottom() + kPressLabelDrop;
  doc.Text(frame.left - kLabelGap, labelY, "buttons", "text-anchor=\"end\" fill=\"#555\"");
  if (presses.empty()) {
    doc.Text(frame.left + kLabelGap, labelY, "none pressed", "text-anchor=\"start\" fill=\"#888\"");
  }
  double labelsEnd = -std::numeric_limits<double>::infinity();
  for (const ButtonPress& press : presses) {
    const double x = frame.X(press.seconds);
    doc += "<path class=\"press\" fill=\"" + std::string(kPressColour) + "\" d=\"M" +
           svg::Number(x) + "," + svg::Number(top) + " l4,7 h-8 z\"/>\n";
    const std::string label = std::to_string(press.button);
    const double half = static_cast<double>(label.size()) * kDigitWidth / 2 + 1;
    if (x - half <= labelsEnd) continue;
    doc.Text(x, labelY, label, "fill=\"" + std::string(kPressColour) + "\"");
    labelsEnd = x + half;
  }
  doc += "</g>\n";
}

void DrawChart(svg::Document& doc, const Chart& chart, double top, const svg::Axis& time) {
  doc += "<g class=\"chart\" id=\"" + chart.id + "\">\n<text x=\"" + svg::Number(kLeft) +
         "\" y=\"" + svg::Number(top + kHeadingHeight - kHeadingAbovePlot) +
         "\" font-size=\"13\"><tspan font-weight=\"bold\">" + svg::Escaped(chart.name) +
         "</tspan><tspan fill=\"#555\">   " + svg::Escaped(chart.details) + "</tspan></text>\n";
  double min = std::numeric_limits<double>::infinity(), max = -min;
  for (const std::vector<double>& channel : chart.channels) {
    const auto [low, high] = std::minmax_element(channel.begin(), channel.end());
    if (low == channel.end()) continue;
    min = std::min(min, *low);
    max = std::max(max, *high);
  }
  const svg::Frame frame{kLeft,      top + kHeadingHeight,
                         kPlotWidth, chart.plotHeight,
                         time,       svg::FittedAxis(min, max, kValueTicks)};
  const double below = chart.presses != nullptr ? kBelowWithPresses : kBelow;
  doc.Axes(frame, "time (s)", chart.valueName, below - kAxisNameAboveNext);
  for (std::size_t k = 0; k < chart.channels.size(); ++k) {
    doc += "<path class=\"line\" fill=\"none\" stroke=\"" + chart.legend[k].colour +
           "\" stroke-width=\"1.3\" stroke-linejoin=\"round\" stroke-linecap=\"round\" d=\"" +
           LinePath(frame, chart.seconds, chart.channels[k]) + "\"/>\n";
  }
  doc.Legend(frame.Right() + kLegendGap, frame.top + 12, chart.legend);
  if (chart.presses != nullptr) DrawPresses(doc, frame, *chart.presses);
  doc += "</g>\n";
}

}  // namespace

bool CanWriteFile(const std::string& path, std::string& reason) {
  std::FILE* existing = std::fopen(path.c_str(), "rb");
  if (existing != nullptr) std::fclose(existing);
  std::FILE* file = std::fopen(path.c_str(), "ab");
  if (file == nullptr) {
    reason = std::strerror(errno);
    return false;
  }
  std::fclose(file);
  if (existing == nullptr) std::remove(path.c_str());
  return true;
}

bool WritePlot(const std::string& path, const Players& players, const std::string& receiver,
               std::string& reason) {
  std::vector<Chart> charts;
  std::vector<int> with, without;
  for (int player = 1; player <= kPlayers; ++player) {
    if (players.AllSamples(player).empty()) {
      without.push_back(player);
      continue;
    }
    with.push_back(player);
    charts.push_back(MotionChart(players, player));
    if (!players.AllUnitSamples(player).empty()) {
      charts.push_back(UnitChart(players, player, 0));
      charts.push_back(UnitChart(players, player, 3));
    }
    Chart extension = ExtensionChart(players, player);
    if (!extension.seconds.empty()) charts.push_back(std::move(extension));
  }
  double height = svg::kHeaderHeight;
  for (const Chart& chart : charts) height += chart.Height();

  const double run = players.Seconds();
  const std::string title =
      "zavn-monitor: motion on " + receiver + " over " + svg::Number(run) + " s";
  const std::string who =
      with.empty() ? "No player sent data."
                   : "Data from " + PlayersNamed(with) +
                         (without.empty() ? "." : "; none from " + PlayersNamed(without) + ".");
  svg::Document doc(kWidth, static_cast<int>(height), title, who);

  const svg::Axis time = svg::NiceAxis(0, std::max(run, kShortestRun), kTimeTicks);
  double top = svg::kHeaderHeight;
  for (const Chart& chart : charts) {
    DrawChart(doc, chart, top, time);
    top += chart.Height();
  }
  return svg::WriteFile(path, doc.Finished(), reason);
}

}  // namespace monitor
