#include "options.h"

#include <cstdlib>
#include <cstring>

namespace monitor {
namespace {

constexpr int kPlayers = 4;
using tools::ParseNumber;

// Where an option that names a file keeps it; null for other options.
std::string* FileOption(const char* arg, Options& options) {
  if (std::strcmp(arg, "--plot") == 0) return &options.plotFile;
  if (std::strcmp(arg, "--capture") == 0) return &options.captureFile;
  if (std::strcmp(arg, "--calibrate") == 0) return &options.calibrateFile;
  return nullptr;
}

}  // namespace

const char* const kUsage =
    "usage: zavn-monitor [options]\n"
    "\n"
    "Shows what the motion controllers send: per player the link state, the record\n"
    "rate, the attitude (roll, pitch, yaw), the acceleration in g and rotation rate\n"
    "in deg/s, the buttons, the extension, the serial number and the version\n"
    "(--json: also the raw motion channels).\n"
    "It uses a real receiver when one is plugged in, else a virtual one, and\n"
    "reconnects by itself when the receiver drops off and comes back. Stop it with\n"
    "Ctrl-C. A receiver it may not open is an error that says why (on Linux: the\n"
    "udev rule to install).\n"
    "\n"
    "options:\n"
    "  --virtual N    use the virtual receiver with N transmitters (1 to 4)\n"
    "  --rate HZ      the virtual transmitters' records per second (1 to 1000;\n"
    "                 default 100)\n"
    "  --real         use a real receiver only; fail when none is there\n"
    "  --json         one JSON object per line and interval (also when not on a\n"
    "                 terminal)\n"
    "  --update       update player 1's receiver firmware, with a progress bar;\n"
    "                 exit 0 only when the update is done (a build with placeholder\n"
    "                 firmware images updates only the virtual receiver)\n"
    "  --calibrate FILE\n"
    "                 measure a real controller's sensors step by step (hold it\n"
    "                 still, lay it on each face, turn it once about each axis) and\n"
    "                 write its profile into FILE: its section replaced, the other\n"
    "                 controllers' sections kept\n"
    "  --player N     the player --calibrate measures (1 to 4; default 1)\n"
    "  --plot FILE    at exit, write an SVG plot to FILE: each player's raw motion\n"
    "                 channels, acceleration, rotation rate, button presses and\n"
    "                 extension over time; with --update, the progress and phases\n"
    "                 of the update (also when it fails)\n"
    "  --capture FILE write every report read from and written to the receiver to\n"
    "                 FILE, a pcapng capture that Wireshark and tshark read as USB\n"
    "                 traffic\n"
    "  --replay FILE  play a capture back through the virtual receiver: this\n"
    "                 program's own, or Wireshark's or tshark's of a receiver\n"
    "                 (usbmon or USBPcap)\n"
    "  --speed X      replay X times as fast as captured (0.01 to 1000; 0: as fast\n"
    "                 as it is read)\n"
    "  --loop         replay over and over\n"
    "  --seconds N    stop by itself after N seconds\n"
    "  --version      show the version\n"
    "  --help         show this text\n";

bool ParseOptions(int argc, char** argv, Options& options, std::string& error) {
  for (int i = 1; i < argc; ++i) {
    const char* arg = argv[i];
    const char* value = i + 1 < argc ? argv[i + 1] : nullptr;
    double number = 0;
    int taken = tools::ParseLinkOption(argc, argv, i, options, error);
    if (taken == 0) taken = tools::ParseCommonOption(argc, argv, i, options, error);
    if (taken < 0) return false;
    if (taken > 0) {
      i += taken - 1;
    } else if (std::strcmp(arg, "--update") == 0) {
      options.update = true;
    } else if (std::strcmp(arg, "--player") == 0) {
      if (!ParseNumber(value, number) || number < 1 || number > kPlayers ||
          number != static_cast<int>(number)) {
        error = "--player needs a player from 1 to 4";
        return false;
      }
      options.player = static_cast<int>(number);
      ++i;
    } else if (std::string* file = FileOption(arg, options)) {
      if (value == nullptr || *value == '\0') {
        error = std::string(arg) + " needs a file name";
        return false;
      }
      *file = value;
      ++i;
    } else {
      error = std::string("unknown option ") + arg;
      return false;
    }
  }
  if (!options.calibrateFile.empty()) {
    // The virtual transmitters follow their own path and never lie still for it.
    if (options.virtualTransmitters > 0) {
      error = "--calibrate measures a real controller, not a virtual one";
      return false;
    }
    options.realOnly = true;
  }
  if (!tools::CheckLinkOptions(options, error)) return false;
  const bool replay = !options.replayFile.empty();
  if (replay && (options.update || !options.calibrateFile.empty())) {
    error = "--replay excludes --update and --calibrate: a capture does not answer commands";
    return false;
  }
  if (options.update && !options.calibrateFile.empty()) {
    error = "--update and --calibrate exclude each other";
    return false;
  }
  return true;
}

}  // namespace monitor
