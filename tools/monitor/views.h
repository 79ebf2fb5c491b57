// Two of the ways zavn-monitor shows the players (the live view has live_view.h): JSON lines for
// scripts, and an SVG plot of the whole run.
#pragma once

#include <cstdio>
#include <string>

#include "players.h"

namespace monitor {

// One JSON object on one line.
void WriteJsonLine(std::FILE* out, const Players& players, const std::string& receiver,
                   double seconds);

// An SVG plot of the run on `receiver`: per player that sent data its raw motion channels and
// button presses over time, its acceleration and rotation rate (and its extension, when it has
// one); false with the system's reason when the file cannot be written.
bool WritePlot(const std::string& path, const Players& players, const std::string& receiver,
               std::string& reason);
// Whether a file (a plot, a profile) can be written to `path`, tried before the run; false with
// the system's reason.
// Leaves no file behind that was not there.
bool CanWriteFile(const std::string& path, std::string& reason);

}  // namespace monitor
