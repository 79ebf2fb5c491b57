// zavn-monitor's command line.
#pragma once

#include <string>

namespace monitor {

struct Options {
  int virtualTransmitters = 0;  // 0: a real receiver if one is there, else 2 virtual ones
  bool realOnly = false;
  bool json = false;  // also chosen when standard output is not a terminal
  bool update = false;
  std::string plotFile;
  std::string calibrateFile;  // the profile file a calibration writes, when set
  int player = 1;             // the player a calibration measures
  std::string captureFile;    // a pcapng capture of the receiver's reports, when set
  std::string replayFile;     // a capture the virtual receiver plays back, when set
  double replaySpeed = 1;     // of the captured timing; 0: as fast as the library reads
  bool replayLoop = false;
  double seconds = 0;  // 0: until Ctrl-C (or the update's end)
  bool help = false;
  bool version = false;
};

// Fills `options` from the arguments; false with `error` set for a bad command line.
bool ParseOptions(int argc, char** argv, Options& options, std::string& error);

extern const char* const kUsage;

}  // namespace monitor
