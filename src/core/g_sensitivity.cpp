// The G-sensitivity switch: it goes to the player's transmitter, and the player's motion samples
// take the acceleration scale the profile gives that value from the next record on.
#include "commands/senders.h"
#include "input/motion.h"
#include "zavn/zavn_commands.h"

extern "C" ZAVN_API int32_t ZAVN_CALL ZAVNSwitchGSensitivity(int32_t playerIndex, int32_t value) {
  namespace commands = zavn::commands;
  const std::int32_t result = commands::SendSwitch(playerIndex, commands::id::kSensitivity, value);
  zavn::input::NoteGSensitivity(playerIndex, value);
  return result;
}
