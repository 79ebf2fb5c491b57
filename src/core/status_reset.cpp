#include "core/status_reset.h"

#include "core/link_table.h"
#include "core/player_assignment.h"
#include "core/run_state.h"
#include "input/slot_report_mode.h"
#include "transport/report_reader.h"

namespace zavn::core {

int ResetLibraryState() {
  transport::ResetReportReader();
  ResetLinks();
  ResetPlayerAssignment();
  ResetRunFlags();
  input::ResetSlotReportModes();
  return 1;
}

}  // namespace zavn::core
