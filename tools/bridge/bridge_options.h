// zavn-bridge's command line.
#pragma once

#include <cstdint>
#include <string>

#include "tool_options.h"

namespace bridge {

inline constexpr const char* kDsuLoopback = "127.0.0.1";
inline constexpr std::uint16_t kDsuPort = 26760;

struct Options : tools::LinkOptions, tools::CommonOptions {
  bool dsu = false;
  bool gamepad = false;  // with neither: every output the system has
  std::string dsuHost = kDsuLoopback;
  std::uint16_t dsuPort = kDsuPort;  // 0: any free port
  std::string profileFile;           // the sensor profile and controls mapping, when set
};

// Fills `options` from the arguments; false with `error` set for a bad command line.
bool ParseOptions(int argc, char** argv, Options& options, std::string& error);

extern const char* const kUsage;

}  // namespace bridge
