#include "core/run_state.h"

#include "zavn/zavn.h"

namespace zavn::core {
namespace {
RunState g_run;
}

RunState& Run() {
  return g_run;
}

void ResetRunFlags() {
  g_run.threadRunFlag = 1;
  g_run.loopRunFlag = 0;
  g_run.resetState = LINK_NOT_RESET;
}

}  // namespace zavn::core
