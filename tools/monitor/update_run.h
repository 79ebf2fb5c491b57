// zavn-monitor --update: a firmware update of player 1's receiver with its progress, and its
// plot.
#pragma once

#include <atomic>
#include <cstdio>
#include <string>
#include <vector>

#include "receiver_link.h"

namespace monitor {

using tools::Clock;
using tools::ReceiverLink;

struct UpdateDisplay {
  std::FILE* out;
  bool json;  // one JSON object per change of progress; else a progress bar on the terminal `out`
};

// Why an update of the receiver `link` holds must not start, or null when it may: placeholder
// firmware images go to the virtual receiver only.
const char* UpdateRefusal(const ReceiverLink& link);

// The update's progress at one look.
struct UpdateLook {
  double seconds;
  int progress;  // 0 to ZAVN_UPDATE_DONE
};

// True when the update is done; false when it was interrupted or took longer than
// `limitSeconds`. Every look is added to `looks`.
bool RunUpdate(ReceiverLink& link, const UpdateDisplay& display, double limitSeconds,
               const std::atomic<bool>& interrupted, std::vector<UpdateLook>& looks);

// The step of an update that a progress value stands for.
const char* UpdatePhase(int progress);

// An SVG plot of the update's progress over time with its phases; `outcome` ("done",
// "interrupted", ...) goes into the title. False with the system's reason when the file cannot be
// written.
bool WriteUpdatePlot(const std::string& path, const std::vector<UpdateLook>& looks,
                     const std::string& receiver, const std::string& outcome, std::string& reason);

}  // namespace monitor
