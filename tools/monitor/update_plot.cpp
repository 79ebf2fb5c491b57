#include <algorithm>
#include <string_view>

#include "svg_chart.h"
#include "update_run.h"
#include "zavn/zavn.h"

namespace monitor {
namespace {

constexpr int kWidth = 1100;
constexpr double kLeft = 84;          // the y axis's tick labels and name
constexpr double kPhasesWidth = 370;  // the list of phases, right of the chart
constexpr double kPlotWidth = kWidth - kLeft - kPhasesWidth;
constexpr double kTop = svg::kHeaderHeight + 16;  // the plot area's, room for the list's head
constexpr double kPlotHeight = 300;
constexpr double kBelow = 50;  // tick labels and the axis name
constexpr double kAxisNameAboveBottom = 14;
constexpr int kTimeTicks = 10;
constexpr int kProgressTicks = 5;
constexpr double kShortestRun = 0.1;  // seconds on the time axis at least
constexpr double kListGap = 24;
constexpr double kRowHeight = 21;
constexpr double kMarkRadius = 8;
constexpr double kMarkTextDrop = 3.5;  // the number's baseline below the circle's centre
// The list's columns from its left: the right edge of the start times, where the names start, and
// the right edge of the lengths.
constexpr double kStartColumn = 70, kNameColumn = 80, kLengthColumn = 340;
const char* const kLineColour = "#1f77b4";

// A phase as the update went through it: from the look that first showed it to the next phase.
struct Phase {
  std::string_view name;
  double start, end;
  int progress;  // at its start
};

std::vector<Phase> PhasesOf(const std::vector<UpdateLook>& looks) {
  std::vector<Phase> phases;
  for (const UpdateLook& look : looks) {
    const std::string_view name = UpdatePhase(look.progress);
    if (!phases.empty()) phases.back().end = look.seconds;
    if (phases.empty() || phases.back().name != name) {
      phases.push_back({name, look.seconds, look.seconds, look.progress});
    }
  }
  return phases;
}

double ProgressY(const svg::Frame& frame, int progress) {
  return frame.Y(std::clamp(progress, 0, ZAVN_UPDATE_DONE));
}

// A numbered circle: where a phase starts on the line, and the same number in the list.
void Mark(svg::Document& doc, double x, double y, std::size_t number) {
  doc += "<circle cx=\"" + svg::Number(x) + "\" cy=\"" + svg::Number(y) + "\" r=\"" +
         svg::Number(kMarkRadius) + "\" fill=\"white\" stroke=\"" + kLineColour + "\"/>\n";
  doc.Text(x, y + kMarkTextDrop, std::to_string(number), "font-size=\"10\" text-anchor=\"middle\"");
}

}  // namespace

bool WriteUpdatePlot(const std::string& path, const std::vector<UpdateLook>& looks,
                     const std::string& receiver, const std::string& outcome, std::string& reason) {
  const double run = looks.empty() ? 0 : looks.back().seconds;
  const std::string title = "zavn-monitor: firmware update of player 1's receiver, " +
                            svg::Number(run) + " s, " + outcome;
  svg::Document doc(kWidth, static_cast<int>(kTop + kPlotHeight + kBelow), title, "on " + receiver);

  const svg::Frame frame{kLeft,
                         kTop,
                         kPlotWidth,
                         kPlotHeight,
                         svg::NiceAxis(0, std::max(run, kShortestRun), kTimeTicks),
                         svg::NiceAxis(0, ZAVN_UPDATE_DONE, kProgressTicks)};
  doc.Axes(frame, "time (s)", "progress (%)", kBelow - kAxisNameAboveBottom);

  // The progress holds from one look to the next: a step line.
  std::string line;
  for (std::size_t i = 0; i < looks.size(); ++i) {
    const std::string x = svg::Number(frame.X(looks[i].seconds));
    const std::string y = svg::Number(ProgressY(frame, looks[i].progress));
    if (i == 0) {
      line = "M" + x + "," + y;
    } else if (looks[i].progress != looks[i - 1].progress || i + 1 == looks.size()) {
      line += " H" + x + " V" + y;
    }
  }
  doc += "<path class=\"line\" fill=\"none\" stroke=\"" + std::string(kLineColour) +
         "\" stroke-width=\"2\" stroke-linejoin=\"round\" d=\"" + line + "\"/>\n";

  // The phases: numbered where they start, listed with their start and length on the right.
  const std::vector<Phase> phases = PhasesOf(looks);
  const double listLeft = frame.Right() + kListGap;
  doc += "<g class=\"phases\">\n";
  const double headY = frame.top + 4;
  doc.Text(listLeft + kStartColumn, headY, "start", "text-anchor=\"end\" fill=\"#555\"");
  doc.Text(listLeft + kNameColumn, headY, "phase", "font-weight=\"bold\"");
  doc.Text(listLeft + kLengthColumn, headY, "length", "text-anchor=\"end\" fill=\"#555\"");
  if (phases.empty()) doc.Text(listLeft + kNameColumn, headY + kRowHeight, "no progress seen");
  const auto rows = static_cast<std::size_t>(kPlotHeight / kRowHeight) - 1;
  for (std::size_t i = 0; i < phases.size(); ++i) {
    const Phase& phase = phases[i];
    Mark(doc, frame.X(phase.start), ProgressY(frame, phase.progress), i + 1);
    if (i >= rows) continue;  // the marks stay, the list ends with the room
    const double y = headY + kRowHeight * static_cast<double>(i + 1);
    Mark(doc, listLeft + kMarkRadius, y - 4, i + 1);
    doc.Text(listLeft + kStartColumn, y, svg::Number(phase.start) + " s", "text-anchor=\"end\"");
    doc.Text(listLeft + kNameColumn, y, std::string(phase.name), "class=\"phase\"");
    if (phase.end > phase.start) {
      doc.Text(listLeft + kLengthColumn, y, svg::Number(phase.end - phase.start) + " s",
               "text-anchor=\"end\" fill=\"#555\"");
    }
  }
  doc += "</g>\n";
  return svg::WriteFile(path, doc.Finished(), reason);
}

}  // namespace monitor
