// zavn-bridge: serves the controllers to programs that never linked the library, through a DSU
// server and (on Linux) uinput gamepads. It uses the library's exported API only; --help says
// what it does.
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "bridge_options.h"
#include "change_log.h"
#include "console.h"
#include "control_profile.h"
#include "dsu_output.h"
#include "player_feed.h"
#include "receiver_link.h"
#include "zavn/zavn.h"

#ifdef ZAVN_BRIDGE_GAMEPADS
#include "gamepads.h"
#endif

namespace {

int Fail(const std::string& message, int status) {
  std::fprintf(stderr, "zavn-bridge: %s\n", message.c_str());
  return status;
}

bool IsLoopback(const std::string& host) {
  return host == "localhost" || host.rfind("127.", 0) == 0;
}

}  // namespace

int main(int argc, char** argv) {
  using namespace bridge;
  Options options;
  std::string error;
  if (!ParseOptions(argc, argv, options, error)) return Fail(error + " (see --help)", 2);
  if (options.help) {
    std::fputs(kUsage, stdout);
    return 0;
  }
  if (options.version) {
    std::puts("zavn-bridge " ZAVN_VERSION);
    return 0;
  }
#ifdef ZAVN_BRIDGE_GAMEPADS
  constexpr bool kGamepadsHere = true;
#else
  constexpr bool kGamepadsHere = false;
#endif
  if (options.gamepad && !kGamepadsHere) {
    return Fail("--gamepad: this zavn-bridge has no gamepads (they need Linux and libevdev)", 2);
  }
  const bool every = !options.dsu && !options.gamepad;
  const bool dsu = options.dsu || every;
  const bool gamepad = options.gamepad || (every && kGamepadsHere);
  // A real receiver by default, awaited when none is plugged in: the bridge runs as a service.
  if (options.virtualTransmitters == 0 && options.replayFile.empty()) {
    options.realOnly = true;
    options.waitForReal = true;
  }

  // The profile's sensor part for the library, its controls for the outputs.
  const char* named = std::getenv("ZAVN_MOTION_PROFILE");
  const std::string profile = !options.profileFile.empty() ? options.profileFile
                              : named != nullptr           ? named
                                                           : "";
  ControlProfiles controls;
  if (!profile.empty()) {
    char reason[512] = {};
    if (!options.profileFile.empty() &&
        ZAVNLoadMotionProfile(profile.c_str(), reason, sizeof reason) != 1) {
      return Fail(reason, 1);
    }
    const std::unique_ptr<ControlProfiles> read = ReadControlProfiles(profile, error);
    if (read == nullptr) return Fail(error, 1);
    controls = *read;
  }

  ChangeLog log(stdout, options.json);
  std::vector<Output*> outputs{&log};
  // The outputs first: a port in use or a device not allowed is said before anything runs.
  DsuOutput dsuOutput;
  if (dsu) {
    if (!dsuOutput.Open(options.dsuHost, options.dsuPort, error)) {
      return Fail("cannot serve DSU on " + options.dsuHost + ":" + std::to_string(options.dsuPort) +
                      ": " + error,
                  1);
    }
    if (!IsLoopback(options.dsuHost)) {
      std::fprintf(stderr,
                   "zavn-bridge: warning: DSU on %s serves the network: any host that reaches "
                   "it reads the controllers\n",
                   options.dsuHost.c_str());
    }
    log.Serving("dsu", options.dsuHost + ":" + std::to_string(dsuOutput.Port()));
    outputs.push_back(&dsuOutput);
  }
#ifdef ZAVN_BRIDGE_GAMEPADS
  Gamepads gamepads;
  if (gamepad) {
    if (gamepads.Open(error)) {
      log.Serving("gamepad", gamepads.Place());
      outputs.push_back(&gamepads);
    } else if (options.gamepad) {
      return Fail(error, 1);
    } else {
      // Every output the system has: without uinput, DSU alone, and why.
      std::fprintf(stderr, "zavn-bridge: no gamepads: %s\n", error.c_str());
    }
  }
#else
  (void)gamepad;
#endif

  tools::ReceiverLink link("zavn-bridge");
  if (!link.Open(options, error)) return Fail(error, 1);
  log.Receiver(link.Description());
  std::atomic<bool> stop{false};
  tools::CatchInterrupts(stop);
  const auto start = std::chrono::steady_clock::now();
  {
    PlayerFeed feed(outputs, controls);
    feed.Run(stop, options.seconds, [&link] { link.Keep(); });
  }
  link.Close();
  log.Stopped(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(),
              dsu ? &dsuOutput : nullptr);
  return 0;
}
