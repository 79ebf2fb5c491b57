#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "views.h"

namespace monitor {
namespace {

constexpr int kWidth = 960;
constexpr int kPanelHeight = 220;
constexpr int kMargin = 40;
constexpr std::size_t kMaxPoints = 2000;  // per line; longer runs are thinned
constexpr double kFullScale = 65535.0;
const char* const kColours[kChannels] = {"#1f77b4", "#ff7f0e", "#2ca02c",
                                         "#d62728", "#9467bd", "#8c564b"};

std::string Number(double value) {
  char text[32];
  std::snprintf(text, sizeof text, "%.1f", value);
  return text;
}

}  // namespace

bool CanWritePlot(const std::string& path, std::string& reason) {
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

bool WritePlot(const std::string& path, const Players& players, std::string& reason) {
  double end = 1;
  for (int player = 1; player <= kPlayers; ++player) {
    if (!players.AllSamples(player).empty()) {
      end = std::max(end, players.AllSamples(player).back().seconds);
    }
  }
  const int height = kPlayers * kPanelHeight;
  std::string svg =
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
      "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" +
      std::to_string(kWidth) + "\" height=\"" + std::to_string(height) + "\" viewBox=\"0 0 " +
      std::to_string(kWidth) + " " + std::to_string(height) +
      "\" font-family=\"sans-serif\" font-size=\"12\">\n"
      "<rect width=\"100%\" height=\"100%\" fill=\"white\"/>\n";
  const double plotWidth = kWidth - 2 * kMargin;
  const double plotHeight = kPanelHeight - 2 * kMargin;
  for (int player = 1; player <= kPlayers; ++player) {
    const std::vector<PlotSample>& samples = players.AllSamples(player);
    const double top = (player - 1) * kPanelHeight + kMargin;
    svg += "<g>\n<text x=\"" + std::to_string(kMargin) + "\" y=\"" + Number(top - 10) +
           "\">player " + std::to_string(player) + " motion, " + std::to_string(samples.size()) +
           " samples over " + Number(end) + " s</text>\n";
    svg += "<rect x=\"" + std::to_string(kMargin) + "\" y=\"" + Number(top) + "\" width=\"" +
           Number(plotWidth) + "\" height=\"" + Number(plotHeight) +
           "\" fill=\"none\" stroke=\"#999\"/>\n";
    const std::size_t step = std::max<std::size_t>(1, samples.size() / kMaxPoints);
    for (int k = 0; k < kChannels && !samples.empty(); ++k) {
      svg += "<polyline fill=\"none\" stroke-width=\"1\" stroke=\"" + std::string(kColours[k]) +
             "\" points=\"";
      for (std::size_t i = 0; i < samples.size(); i += step) {
        const double x = kMargin + plotWidth * samples[i].seconds / end;
        const double y = top + plotHeight * (1 - samples[i].motion[k] / kFullScale);
        svg += Number(x) + "," + Number(y) + " ";
      }
      svg += "\"/>\n";
    }
    svg += "</g>\n";
  }
  svg += "</svg>\n";
  std::FILE* file = std::fopen(path.c_str(), "wb");
  if (file == nullptr) {
    reason = std::strerror(errno);
    return false;
  }
  const bool written = std::fwrite(svg.data(), 1, svg.size(), file) == svg.size();
  if (!written) reason = std::strerror(errno);
  if (std::fclose(file) != 0 && written) {
    reason = std::strerror(errno);
    return false;
  }
  return written;
}

}  // namespace monitor
