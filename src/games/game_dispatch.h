// Hands player 1's status to the selected game's plug-in, loading and unloading plug-ins as the
// host's selection changes.
#pragma once

#include <atomic>
#include <cstdint>

#include "commands/game_channel.h"
#include "zavn/zavn_status.h"

namespace zavn::games {

// The player-to-slot table the plug-in is shown: the library's own, entry p - 1 for player p.
using PlayerSlotTable = const std::atomic<std::int32_t> (&)[commands::kChannelPlayers];

// Called after every motion record of player 1 once players are assigned, on the poll thread,
// with no library lock held. Loading, calling and unloading the plug-in run here.
void DispatchGamePlugin(std::int32_t player, PlayerStatus* status, PlayerSlotTable playerSlot);

// Says goodbye to a loaded plug-in (a call with game 0 for each player 1..4) and unloads it, or,
// when called from inside the plug-in, once its outermost call has returned. Called by
// ZAVNTerminate with no library lock held.
void ReleaseGamePlugin(PlayerSlotTable playerSlot);

// For tests and the reset: the dispatch's own state.
std::int32_t LoadedGame();
void ChannelModes(std::int32_t (&modes)[commands::kChannelPlayers]);
bool PluginLoaded();

// LoadedGame and the channel modes 0. A loaded plug-in stays loaded.
void ResetGameDispatch();

}  // namespace zavn::games
