// The command-line options the tools share: those that choose the receiver, and the common ones.
#pragma once

#include <string>

namespace tools {

struct LinkOptions {
  int virtualTransmitters = 0;  // 0: a real receiver (see ReceiverLink::Open)
  int rateHz = 100;             // the virtual transmitters' records per second
  bool realOnly = false;
  bool waitForReal = false;  // with realOnly: none there yet is no error; it is awaited
  std::string replayFile;    // a capture the virtual receiver plays back, when set
  double replaySpeed = 1;    // of the captured timing; 0: as fast as the library reads
  bool replayLoop = false;
};

// --help, --version, --json, --seconds N.
struct CommonOptions {
  bool help = false;
  bool version = false;
  bool json = false;
  double seconds = 0;  // 0: until Ctrl-C (or the tool's own end)
};

// A number of 0 or more, the whole text.
bool ParseNumber(const char* text, double& value);

// Reads the receiver option at argv[i]: --virtual N, --rate HZ, --real, --replay FILE, --speed X
// or --loop. Returns how many arguments it took: 0 when argv[i] is none of them, -1 with `error`
// set for a bad value.
int ParseLinkOption(int argc, char** argv, int i, LinkOptions& options, std::string& error);

// The same for the common options.
int ParseCommonOption(int argc, char** argv, int i, CommonOptions& options, std::string& error);

// False with `error` set when the options exclude each other.
bool CheckLinkOptions(const LinkOptions& options, std::string& error);

}  // namespace tools
