// Puts the command state back to its defaults: the periodic report's clock and the joystick-loop
// flag, and the game-channel hand-over.
#pragma once

namespace zavn::commands {

void ResetCommandState();

}  // namespace zavn::commands
