#include "commands/commands_reset.h"

#include "commands/game_channel.h"
#include "commands/image_checksum.h"
#include "commands/periodic_clock.h"

namespace zavn::commands {

void ResetCommandState() {
  ResetPeriodicClock();
  ResetGameChannel();
  ResetImageChecksum();
}

}  // namespace zavn::commands
