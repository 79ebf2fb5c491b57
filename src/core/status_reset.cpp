#include "core/status_reset.h"

#include "commands/commands_reset.h"
#include "core/player_assignment.h"
#include "core/run_state.h"
#include "firmware/firmware_reset.h"
#include "games/game_dispatch.h"
#include "input/input_reset.h"
#include "transport/link_table.h"
#include "transport/report_reader.h"

namespace zavn::core {

int ResetLibraryState() {
  transport::ResetReportReader();
  transport::ResetLinks();
  ResetPlayerAssignment();
  ResetRunFlags();
  commands::ResetCommandState();
  firmware::ResetFirmwareState();
  games::ResetGameDispatch();
  input::ResetInputState();
  return 1;
}

}  // namespace zavn::core
