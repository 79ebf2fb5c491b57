// zavn-monitor's command line.
#pragma once

#include <string>

#include "receiver_link.h"

namespace monitor {

struct Options : tools::LinkOptions, tools::CommonOptions {  // --json also off a terminal
  bool update = false;
  std::string plotFile;
  std::string calibrateFile;  // the profile file a calibration writes, when set
  int player = 1;             // the player a calibration measures
  std::string captureFile;    // a pcapng capture of the receiver's reports, when set
};

// Fills `options` from the arguments; false with `error` set for a bad command line.
bool ParseOptions(int argc, char** argv, Options& options, std::string& error);

extern const char* const kUsage;

}  // namespace monitor
