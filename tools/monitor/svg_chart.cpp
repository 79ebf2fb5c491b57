#include "svg_chart.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>

namespace monitor::svg {
namespace {

constexpr double kNiceFactors[] = {1, 2, 5, 10};
constexpr double kRounding = 1e-9;    // relative, against steps landing just off a tick
constexpr double kDataMargin = 0.06;  // of the data's span, on each side
constexpr double kFlatMargin = 0.05;  // of the value, for data without a span
constexpr double kTickLength = 5;
constexpr double kXLabelDrop = 17;  // baseline of the x tick labels below the axis
constexpr double kYLabelGap = 8;
constexpr double kYLabelDrop = 4;    // a y tick label's baseline below its tick
constexpr double kYNameOffset = 60;  // the rotated y axis name, left of the axis
constexpr double kLegendLine = 20;
constexpr double kLegendRow = 18;
constexpr double kPageMargin = 20, kTitleBaseline = 30, kSubtitleBaseline = 54;
const char* const kGridColour = "#e8e8e8";
const char* const kAxisColour = "#444";

}  // namespace

std::vector<double> Axis::Ticks() const {
  std::vector<double> ticks;
  const double first = std::ceil(low / step - kRounding);
  for (double n = first; n * step <= high + step * kRounding; ++n) {
    ticks.push_back(std::abs(n) < kRounding ? 0 : n * step);
  }
  return ticks;
}

std::string Axis::Label(double value) const {
  char text[32];
  std::snprintf(text, sizeof text, "%.*f", decimals, value);
  return text;
}

Axis NiceAxis(double low, double high, int wanted) {
  Axis axis{low, high, 1, 0};
  const double least = (high - low) / wanted;
  const double magnitude = std::pow(10.0, std::floor(std::log10(least)));
  for (double factor : kNiceFactors) {
    axis.step = factor * magnitude;
    if (axis.step >= least * (1 - kRounding)) break;
  }
  if (axis.step < 1)
    axis.decimals = static_cast<int>(std::ceil(-std::log10(axis.step) - kRounding));
  return axis;
}

Axis FittedAxis(double min, double max, int wanted) {
  const double margin =
      max > min ? (max - min) * kDataMargin : std::max(1.0, std::abs(max) * kFlatMargin);
  const double low = min >= 0 ? std::max(0.0, min - margin) : min - margin;
  return NiceAxis(low, max + margin, wanted);
}

std::string Number(double value) {
  char text[32];
  std::snprintf(text, sizeof text, "%.1f", value);
  return text;
}

std::string Escaped(std::string_view text) {
  std::string escaped;
  for (char c : text) {
    switch (c) {
      case '&':
        escaped += "&amp;";
        break;
      case '<':
        escaped += "&lt;";
        break;
      case '>':
        escaped += "&gt;";
        break;
      case '"':
        escaped += "&quot;";
        break;
      default:
        escaped += c;
    }
  }
  return escaped;
}

Document::Document(int width, int height, std::string_view title, std::string_view subtitle) {
  const std::string w = std::to_string(width), h = std::to_string(height);
  body_ =
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<svg xmlns=\"http://www.w3.org/2000/svg\" "
      "width=\"" +
      w + "\" height=\"" + h + "\" viewBox=\"0 0 " + w + " " + h +
      "\" font-family=\"DejaVu Sans, Arial, sans-serif\" font-size=\"12\" fill=\"#222\">\n"
      "<title>" +
      Escaped(title) + "</title>\n<rect width=\"100%\" height=\"100%\" fill=\"white\"/>\n";
  Text(kPageMargin, kTitleBaseline, title, "class=\"title\" font-size=\"18\" font-weight=\"bold\"");
  Text(kPageMargin, kSubtitleBaseline, subtitle,
       "class=\"subtitle\" font-size=\"13\" fill=\"#444\"");
}

Document& Document::operator+=(std::string_view element) {
  body_ += element;
  return *this;
}

void Document::Text(double x, double y, std::string_view text, std::string_view attributes) {
  body_ += "<text x=\"" + Number(x) + "\" y=\"" + Number(y) + "\"";
  if (!attributes.empty()) (body_ += ' ') += attributes;
  body_ += ">" + Escaped(text) + "</text>\n";
}

void Document::Line(double x1, double y1, double x2, double y2, std::string_view attributes) {
  body_ += "<line x1=\"" + Number(x1) + "\" y1=\"" + Number(y1) + "\" x2=\"" + Number(x2) +
           "\" y2=\"" + Number(y2) + "\" ";
  (body_ += attributes) += "/>\n";
}

void Document::Axes(const Frame& frame, std::string_view xName, std::string_view yName,
                    double xNameDrop) {
  const std::vector<double> xTicks = frame.x.Ticks(), yTicks = frame.y.Ticks();
  body_ += "<g class=\"grid\" stroke=\"" + std::string(kGridColour) + "\">\n";
  for (double t : xTicks) Line(frame.X(t), frame.top, frame.X(t), frame.Bottom(), "");
  for (double v : yTicks) Line(frame.left, frame.Y(v), frame.Right(), frame.Y(v), "");
  body_ += "</g>\n<rect x=\"" + Number(frame.left) + "\" y=\"" + Number(frame.top) + "\" width=\"" +
           Number(frame.width) + "\" height=\"" + Number(frame.height) +
           "\" fill=\"none\" stroke=\"#bbb\"/>\n";

  const std::string stroke = "stroke=\"" + std::string(kAxisColour) + "\"";
  body_ += "<g class=\"axis x\" font-size=\"11\" text-anchor=\"middle\">\n";
  Line(frame.left, frame.Bottom(), frame.Right(), frame.Bottom(), stroke);
  for (double t : xTicks) {
    Line(frame.X(t), frame.Bottom(), frame.X(t), frame.Bottom() + kTickLength, stroke);
    Text(frame.X(t), frame.Bottom() + kXLabelDrop, frame.x.Label(t), "class=\"tick\"");
  }
  Text(frame.left + frame.width / 2, frame.Bottom() + xNameDrop, xName,
       "class=\"name\" font-size=\"12\"");
  body_ += "</g>\n<g class=\"axis y\" font-size=\"11\" text-anchor=\"end\">\n";
  Line(frame.left, frame.top, frame.left, frame.Bottom(), stroke);
  for (double v : yTicks) {
    Line(frame.left - kTickLength, frame.Y(v), frame.left, frame.Y(v), stroke);
    Text(frame.left - kYLabelGap, frame.Y(v) + kYLabelDrop, frame.y.Label(v), "class=\"tick\"");
  }
  const std::string x = Number(frame.left - kYNameOffset);
  const std::string y = Number(frame.top + frame.height / 2);
  Text(frame.left - kYNameOffset, frame.top + frame.height / 2, yName,
       "class=\"name\" font-size=\"12\" text-anchor=\"middle\" transform=\"rotate(-90 " + x + " " +
           y + ")\"");
  body_ += "</g>\n";
}

void Document::Legend(double x, double y, const std::vector<LegendEntry>& entries) {
  body_ += "<g class=\"legend\">\n";
  for (const LegendEntry& entry : entries) {
    Line(x, y - kYLabelDrop, x + kLegendLine, y - kYLabelDrop,
         "stroke=\"" + entry.colour + "\" stroke-width=\"2.5\"");
    Text(x + kLegendLine + 6, y, entry.name);
    y += kLegendRow;
  }
  body_ += "</g>\n";
}

std::string Document::Finished() const {
  return body_ + "</svg>\n";
}

bool WriteFile(const std::string& path, const std::string& text, std::string& reason) {
  std::FILE* file = std::fopen(path.c_str(), "wb");
  if (file == nullptr) {
    reason = std::strerror(errno);
    return false;
  }
  const bool written = std::fwrite(text.data(), 1, text.size(), file) == text.size();
  if (!written) reason = std::strerror(errno);
  if (std::fclose(file) != 0 && written) {
    reason = std::strerror(errno);
    return false;
  }
  return written;
}

}  // namespace monitor::svg
