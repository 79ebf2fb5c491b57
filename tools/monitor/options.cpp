#include "options.h"

#include <cstdlib>
#include <cstring>

namespace monitor {
namespace {

constexpr int kMaxTransmitters = 4;
constexpr double kMaxSpeed = 1000;
// The library plays at whole percents: a slower factor would round to 0, "as fast as read".
constexpr double kMinSpeed = 0.01;

bool ParseNumber(const char* text, double& value) {
  if (text == nullptr || *text == '\0') return false;
  char* end = nullptr;
  value = std::strtod(text, &end);
  return *end == '\0' && value >= 0;
}

// Where an option that names a file keeps it; null for other options.
std::string* FileOption(const char* arg, Options& options) {
  if (std::strcmp(arg, "--plot") == 0) return &options.plotFile;
  if (std::strcmp(arg, "--capture") == 0) return &options.captureFile;
  if (std::strcmp(arg, "--replay") == 0) return &options.replayFile;
  return nullptr;
}

}  // namespace

const char* const kUsage =
    "usage: zavn-monitor [options]\n"
    "\n"
    "Shows what the motion controllers send: per player the link state, the record rate, the\n"
    "attitude (roll, pitch, yaw), the acceleration in g and rotation rate in deg/s, the\n"
    "buttons, the extension, the serial number and the version (--json: also the raw motion\n"
    "channels).\n"
    "It uses a real receiver when one is plugged in, else a virtual one, and reconnects by\n"
    "itself when the receiver drops off and comes back. Stop it with Ctrl-C. A receiver it\n"
    "may not open is an error that says why (on Linux: the udev rule to install).\n"
    "\n"
    "options:\n"
    "  --virtual N    use the virtual receiver with N transmitters (1 to 4)\n"
    "  --real         use a real receiver only; fail when none is there\n"
    "  --json         one JSON object per line and interval (also when not on a terminal)\n"
    "  --update       update player 1's receiver firmware, with a progress bar; exit 0 only\n"
    "                 when the update is done (a build with placeholder firmware images\n"
    "                 updates only the virtual receiver)\n"
    "  --plot FILE    at exit, write an SVG plot to FILE: each player's raw motion channels,\n"
    "                 acceleration, rotation rate, button presses and extension over time;\n"
    "                 with --update, the progress and phases of the update (also when it\n"
    "                 fails)\n"
    "  --capture FILE write every report read from and written to the receiver to FILE, a\n"
    "                 pcapng capture that Wireshark and tshark read as USB traffic\n"
    "  --replay FILE  play a capture back through the virtual receiver: this program's own,\n"
    "                 or Wireshark's or tshark's of a receiver (usbmon or USBPcap)\n"
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
    if (std::strcmp(arg, "--help") == 0 || std::strcmp(arg, "-h") == 0) {
      options.help = true;
    } else if (std::strcmp(arg, "--version") == 0) {
      options.version = true;
    } else if (std::strcmp(arg, "--json") == 0) {
      options.json = true;
    } else if (std::strcmp(arg, "--real") == 0) {
      options.realOnly = true;
    } else if (std::strcmp(arg, "--update") == 0) {
      options.update = true;
    } else if (std::strcmp(arg, "--loop") == 0) {
      options.replayLoop = true;
    } else if (std::strcmp(arg, "--speed") == 0) {
      if (!ParseNumber(value, number) || number > kMaxSpeed || (number > 0 && number < kMinSpeed)) {
        error = "--speed needs a factor from 0.01 to 1000, or 0 (as fast as read)";
        return false;
      }
      options.replaySpeed = number;
      ++i;
    } else if (std::strcmp(arg, "--virtual") == 0) {
      if (!ParseNumber(value, number) || number < 1 || number > kMaxTransmitters ||
          number != static_cast<int>(number)) {
        error = "--virtual needs a number of transmitters from 1 to 4";
        return false;
      }
      options.virtualTransmitters = static_cast<int>(number);
      ++i;
    } else if (std::strcmp(arg, "--seconds") == 0) {
      if (!ParseNumber(value, number) || number <= 0) {
        error = "--seconds needs a positive number of seconds";
        return false;
      }
      options.seconds = number;
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
  const bool replay = !options.replayFile.empty();
  if (int{options.realOnly} + int{options.virtualTransmitters > 0} + int{replay} > 1) {
    error = "--real, --virtual and --replay exclude each other";
    return false;
  }
  if (replay && options.update) {
    error = "--replay and --update exclude each other: a capture does not answer commands";
    return false;
  }
  return true;
}

}  // namespace monitor
