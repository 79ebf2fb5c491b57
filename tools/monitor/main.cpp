// zavn-monitor: the command-line host. It uses the library's exported API only, as any host
// does; --help says what it shows.
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "calibrate_run.h"
#include "console.h"
#include "live_view.h"
#include "options.h"
#include "players.h"
#include "receiver_link.h"
#include "update_run.h"
#include "views.h"
#include "zavn/zavn.h"

namespace {

constexpr auto kInterval = std::chrono::milliseconds(100);
constexpr auto kCalibrateInterval = std::chrono::milliseconds(50);
constexpr int kAskEveryIntervals = 10;
constexpr double kUpdateLimitSeconds = 300;

// The serial number and version arrive as answers a read after the question: ask those not known
// yet.
void AskMissingIdentities(const monitor::Players& players) {
  static const std::uint8_t kReadVersion[12] = {};
  for (int player = 1; player <= monitor::kPlayers; ++player) {
    const monitor::PlayerView& view = players.View(player);
    if (!view.linked()) continue;
    if (view.serial.empty()) ZAVNAskSerialNumber(player, 0, nullptr, 1);
    if (view.version.empty()) ZAVNReadWriteVersionNum(player, 0, kReadVersion);
  }
}

int Fail(const std::string& message, int status) {
  std::fprintf(stderr, "zavn-monitor: %s\n", message.c_str());
  return status;
}

// Says where the plot went, or why it could not be written; false then.
bool ReportPlot(const std::string& path, bool written, const std::string& reason) {
  if (written) {
    std::fprintf(stderr, "zavn-monitor: plot written to %s\n", path.c_str());
  } else {
    Fail("cannot write the plot to " + path + ": " + reason, 1);
  }
  return written;
}

// --calibrate: the steps until every one is measured, then the profile file; 0 once written.
int Calibrate(tools::ReceiverLink& link, const monitor::Options& options,
              const monitor::CalibrateDisplay& display, const std::atomic<bool>& interrupted) {
  using namespace monitor;
  CalibrationRun run(options.player);
  const auto start = Clock::now();
  bool done = false;
  while (!done) {
    std::this_thread::sleep_for(kCalibrateInterval);
    link.Keep(options.player);
    done = run.Look(display);
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    if (interrupted || (options.seconds > 0 && seconds >= options.seconds)) break;
  }
  if (!done) return Fail("the calibration did not finish; nothing written", 1);
  std::string error;
  if (!run.Write(options.calibrateFile, display, error)) return Fail(error, 1);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  using namespace monitor;
  using tools::CatchInterrupts;
  using tools::StandardOutputIsTerminal;
  Options options;
  std::string error;
  if (!ParseOptions(argc, argv, options, error)) return Fail(error + " (see --help)", 2);
  if (options.help) {
    std::fputs(kUsage, stdout);
    return 0;
  }
  if (options.version) {
    std::puts("zavn-monitor " ZAVN_VERSION);
    return 0;
  }

  // Where the outputs go is checked before the run, not after it.
  if (!options.plotFile.empty() && !CanWriteFile(options.plotFile, error)) {
    return Fail("cannot write the plot to " + options.plotFile + ": " + error, 1);
  }
  if (!options.calibrateFile.empty() && !CanWriteFile(options.calibrateFile, error)) {
    return Fail("cannot write the profile to " + options.calibrateFile + ": " + error, 1);
  }

  // From before the first connect, so that the capture holds the whole session.
  if (!options.captureFile.empty() && ZAVNStartCapture(options.captureFile.c_str()) != 1) {
    return Fail("cannot capture into " + options.captureFile, 1);
  }
  ReceiverLink link("zavn-monitor");
  if (!link.Open(options, error)) {
    ZAVNStopCapture();
    return Fail(error, 1);
  }
  if (!link.Notice().empty()) std::fprintf(stderr, "zavn-monitor: %s\n", link.Notice().c_str());
  std::fprintf(stderr, "zavn-monitor: using %s\n", link.Description().c_str());
  std::atomic<bool> interrupted{false};
  CatchInterrupts(interrupted);
  const bool terminal = StandardOutputIsTerminal();
  const bool json = options.json || !terminal;

  if (!options.calibrateFile.empty()) {
    const int status = Calibrate(link, options, {stdout, json}, interrupted);
    link.Close();
    return status;
  }
  if (options.update) {
    if (const char* refusal = UpdateRefusal(link)) {
      link.Close();
      return Fail(refusal, 1);
    }
    const double limit = options.seconds > 0 ? options.seconds : kUpdateLimitSeconds;
    std::vector<UpdateLook> looks;
    const bool done = RunUpdate(link, {stdout, json}, limit, interrupted, looks);
    link.Close();
    // Written whatever the outcome: the plot of an update that failed is the one most wanted.
    bool plotted = true;
    if (!options.plotFile.empty()) {
      const char* outcome = done          ? "done"
                            : interrupted ? "interrupted"
                                          : "stopped at the time limit";
      const bool written =
          WriteUpdatePlot(options.plotFile, looks, link.Description(), outcome, error);
      plotted = ReportPlot(options.plotFile, written, error);
    }
    if (!done) return Fail(interrupted ? "update interrupted" : "the update did not finish", 1);
    std::fprintf(stderr, "zavn-monitor: update done\n");
    return plotted ? 0 : 1;
  }

  Players players(!options.plotFile.empty());
  std::optional<LiveView> view;
  if (!json) view.emplace(stdout);
  const auto start = Clock::now();
  for (int interval = 1;; ++interval) {
    std::this_thread::sleep_for(kInterval);
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    link.Keep();
    players.Capture(seconds);
    if (interval % kAskEveryIntervals == 0) AskMissingIdentities(players);
    if (json) {
      WriteJsonLine(stdout, players, link.Description(), seconds);
    } else {
      view->Draw(players, link.Description(), seconds);
    }
    if (interrupted || (options.seconds > 0 && seconds >= options.seconds)) break;
  }
  view.reset();  // the last frame stays on the screen
  link.Close();
  if (!options.plotFile.empty()) {
    const bool written = WritePlot(options.plotFile, players, link.Description(), error);
    if (!ReportPlot(options.plotFile, written, error)) return 1;
  }
  return 0;
}
