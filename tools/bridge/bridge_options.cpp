#include "bridge_options.h"

#include <cstring>

namespace bridge {
namespace {

constexpr double kMaxPort = 65535;

// "ADDRESS:PORT" into its parts; false when either is missing or the port is not a number.
bool ParseAddress(const char* text, std::string& host, std::uint16_t& port) {
  if (text == nullptr) return false;
  const char* colon = std::strrchr(text, ':');
  double number = 0;
  if (colon == nullptr || colon == text || !tools::ParseNumber(colon + 1, number) ||
      number > kMaxPort || number != static_cast<int>(number)) {
    return false;
  }
  host.assign(text, colon);
  port = static_cast<std::uint16_t>(number);
  return true;
}

}  // namespace

const char* const kUsage =
    "usage: zavn-bridge [options]\n"
    "\n"
    "Brings the motion controllers to programs that do not use this library:\n"
    "emulators and tools through a DSU server (UDP, as \"cemuhook\" clients speak\n"
    "it) and, on Linux, games through gamepads with motion sensors (uinput). It\n"
    "uses a real receiver, waiting for one when none is plugged in, follows\n"
    "receivers and transmitters as they come and go, and says each change on a\n"
    "line. Stop it with Ctrl-C.\n"
    "\n"
    "options:\n"
    "  --dsu          serve DSU clients (with neither --dsu nor --gamepad: every\n"
    "                 output this system has)\n"
    "  --dsu-address ADDRESS:PORT\n"
    "                 where the DSU server listens (default 127.0.0.1:26760; port\n"
    "                 0: any free one); an address other than loopback serves the\n"
    "                 network, and a warning says so\n"
    "  --gamepad      a gamepad and a motion sensor device per player (Linux)\n"
    "  --profile FILE the sensor profile and the mapping of the buttons and\n"
    "                 extension (default: the file ZAVN_MOTION_PROFILE names)\n"
    "  --virtual N    use the virtual receiver with N transmitters (1 to 4)\n"
    "  --rate HZ      the virtual transmitters' records per second (1 to 1000;\n"
    "                 default 100)\n"
    "  --replay FILE  play a capture back through the virtual receiver\n"
    "  --speed X      replay X times as fast as captured (0.01 to 1000; 0: as fast\n"
    "                 as it is read)\n"
    "  --loop         replay over and over\n"
    "  --seconds N    stop by itself after N seconds\n"
    "  --json         one JSON object per line and change\n"
    "  --version      show the version\n"
    "  --help         show this text\n";

bool ParseOptions(int argc, char** argv, Options& options, std::string& error) {
  for (int i = 1; i < argc; ++i) {
    const char* arg = argv[i];
    const char* value = i + 1 < argc ? argv[i + 1] : nullptr;
    int taken = tools::ParseLinkOption(argc, argv, i, options, error);
    if (taken == 0) taken = tools::ParseCommonOption(argc, argv, i, options, error);
    if (taken < 0) return false;
    if (taken > 0) {
      i += taken - 1;
    } else if (std::strcmp(arg, "--dsu") == 0) {
      options.dsu = true;
    } else if (std::strcmp(arg, "--gamepad") == 0) {
      options.gamepad = true;
    } else if (std::strcmp(arg, "--dsu-address") == 0) {
      if (!ParseAddress(value, options.dsuHost, options.dsuPort)) {
        error = "--dsu-address needs ADDRESS:PORT, e.g. 127.0.0.1:26760";
        return false;
      }
      ++i;
    } else if (std::strcmp(arg, "--profile") == 0) {
      if (value == nullptr || *value == '\0') {
        error = "--profile needs a file name";
        return false;
      }
      options.profileFile = value;
      ++i;
    } else {
      error = std::string("unknown option ") + arg;
      return false;
    }
  }
  return tools::CheckLinkOptions(options, error);
}

}  // namespace bridge
