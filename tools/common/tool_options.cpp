#include "tool_options.h"

#include <cstdlib>
#include <cstring>

namespace tools {
namespace {

constexpr double kMaxTransmitters = 4;
constexpr double kMaxRateHz = 1000;
constexpr double kMaxSpeed = 1000;
// The library plays at whole percents: a slower factor would round to 0, "as fast as read".
constexpr double kMinSpeed = 0.01;

bool Whole(double value, double low, double high) {
  return value >= low && value <= high && value == static_cast<int>(value);
}

}  // namespace

bool ParseNumber(const char* text, double& value) {
  if (text == nullptr || *text == '\0') return false;
  char* end = nullptr;
  value = std::strtod(text, &end);
  return *end == '\0' && value >= 0;
}

int ParseLinkOption(int argc, char** argv, int i, LinkOptions& options, std::string& error) {
  const char* arg = argv[i];
  const char* value = i + 1 < argc ? argv[i + 1] : nullptr;
  double number = 0;
  const bool parsed = ParseNumber(value, number);
  if (std::strcmp(arg, "--real") == 0) {
    options.realOnly = true;
    return 1;
  }
  if (std::strcmp(arg, "--loop") == 0) {
    options.replayLoop = true;
    return 1;
  }
  if (std::strcmp(arg, "--virtual") == 0) {
    if (!parsed || !Whole(number, 1, kMaxTransmitters)) {
      error = "--virtual needs a number of transmitters from 1 to 4";
      return -1;
    }
    options.virtualTransmitters = static_cast<int>(number);
    return 2;
  }
  if (std::strcmp(arg, "--rate") == 0) {
    if (!parsed || !Whole(number, 1, kMaxRateHz)) {
      error = "--rate needs a whole number of records per second from 1 to 1000";
      return -1;
    }
    options.rateHz = static_cast<int>(number);
    return 2;
  }
  if (std::strcmp(arg, "--speed") == 0) {
    if (!parsed || number > kMaxSpeed || (number > 0 && number < kMinSpeed)) {
      error = "--speed needs a factor from 0.01 to 1000, or 0 (as fast as read)";
      return -1;
    }
    options.replaySpeed = number;
    return 2;
  }
  if (std::strcmp(arg, "--replay") == 0) {
    if (value == nullptr || *value == '\0') {
      error = "--replay needs a file name";
      return -1;
    }
    options.replayFile = value;
    return 2;
  }
  return 0;
}

int ParseCommonOption(int argc, char** argv, int i, CommonOptions& options, std::string& error) {
  const char* arg = argv[i];
  if (std::strcmp(arg, "--help") == 0 || std::strcmp(arg, "-h") == 0) {
    options.help = true;
  } else if (std::strcmp(arg, "--version") == 0) {
    options.version = true;
  } else if (std::strcmp(arg, "--json") == 0) {
    options.json = true;
  } else if (std::strcmp(arg, "--seconds") == 0) {
    double number = 0;
    if (!ParseNumber(i + 1 < argc ? argv[i + 1] : nullptr, number) || number <= 0) {
      error = "--seconds needs a positive number of seconds";
      return -1;
    }
    options.seconds = number;
    return 2;
  } else {
    return 0;
  }
  return 1;
}

bool CheckLinkOptions(const LinkOptions& options, std::string& error) {
  const bool replay = !options.replayFile.empty();
  if (int{options.realOnly} + int{options.virtualTransmitters > 0} + int{replay} > 1) {
    error = "--real, --virtual and --replay exclude each other";
    return false;
  }
  return true;
}

}  // namespace tools
