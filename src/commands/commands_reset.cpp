#include "commands/commands_reset.h"

#include "commands/game_channel.h"
#include "commands/periodic_clock.h"

namespace zavn::commands {

void ResetCommandState() {
  ResetPeriodicClock();
  ResetGameChannel();
}

}  // namespace zavn::commands
