// The three ways zavn-monitor shows the players: a live view on a terminal, JSON lines for
// scripts, and an SVG plot of the whole run.
#pragma once

#include <cstdio>
#include <string>

#include "players.h"

namespace monitor {

// The live view, drawn over the previous one.
void DrawLiveView(std::FILE* out, const Players& players, const std::string& receiver,
                  double seconds);

// One JSON object on one line.
void WriteJsonLine(std::FILE* out, const Players& players, const std::string& receiver,
                   double seconds);

// Every player's motion channels over the run; false with the system's reason when the file
// cannot be written.
bool WritePlot(const std::string& path, const Players& players, std::string& reason);
// Whether a plot can be written to `path`, tried before the run; false with the system's reason.
// Leaves no file behind that was not there.
bool CanWritePlot(const std::string& path, std::string& reason);

}  // namespace monitor
