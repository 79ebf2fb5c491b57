#include "core/run_state.h"

#include "zavn/zavn.h"

namespace zavn::core {
namespace {

RunState g_run;

// At unload, a poll thread that stopped without a host call to join it (it was stopped from its
// own callback, or ended by itself) is released. One still running is left alone: waiting for it
// here could hang the host's exit.
struct ReleaseEndedThreadAtUnload {
  ~ReleaseEndedThreadAtUnload() {
    platform::System& system = platform::ActiveSystem();
    if (g_run.pollThreadHandle != nullptr &&
        system.ThreadExitCode(g_run.pollThreadHandle) != platform::kThreadStillActive) {
      system.JoinThread(g_run.pollThreadHandle);
      g_run.pollThreadHandle = nullptr;
    }
  }
};
// Destroyed before g_run, which it reads.
ReleaseEndedThreadAtUnload g_releaseAtUnload;

}  // namespace

RunState& Run() {
  return g_run;
}

void ResetRunFlags() {
  g_run.threadRunFlag = 1;
  g_run.loopRunFlag = 0;
  g_run.resetState = LINK_NOT_RESET;
}

}  // namespace zavn::core
