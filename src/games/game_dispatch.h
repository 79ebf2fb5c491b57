// Hands player 1's status to the selected game's plug-in, loading and unloading plug-ins as the
// host's selection changes.
#pragma once

#include <cstdint>

#include "commands/game_channel.h"
#include "zavn/zavn_status.h"

namespace zavn::games {

// Called by the decoder after every motion record of player 1 once players are assigned, on the
// poll thread inside the poll lock.
void DispatchGamePlugin(std::int32_t player, PlayerStatus* status);

// Says goodbye to a loaded plug-in (a call with game 0 for each player 1..4) and unloads it.
// Called by ZAVNTerminate; takes the poll lock, so no dispatch runs meanwhile.
void ReleaseGamePlugin();

// For tests and the reset: the dispatch's own state.
std::int32_t LoadedGame();
void ChannelModes(std::int32_t (&modes)[commands::kChannelPlayers]);
bool PluginLoaded();

// LoadedGame and the channel modes 0. A loaded plug-in stays loaded.
void ResetGameDispatch();

}  // namespace zavn::games
