// The game selection that the host sets and the game plug-in dispatch acts on: the selected
// game, the host's parameter, and the per-player modes handed over from host to dispatch.
#pragma once

#include <atomic>
#include <cstdint>

namespace zavn::commands {

inline constexpr int kChannelPlayers = 4;

std::int32_t SelectedGame();
std::int32_t GameChannelParam();

// The dispatch's side of the hand-over: when a new set of modes is pending, copies it into
// `modes`, marks it taken and returns true; otherwise leaves `modes` and returns false.
bool TakePendingChannelModes(std::int32_t (&modes)[kChannelPlayers]);

// For tests of the hand-over: the stored words.
struct GameChannelWords {
  std::int32_t selectedGame;
  std::int32_t parameter;
  std::int32_t pendingModes[kChannelPlayers];
  std::int32_t modesTaken;
};
GameChannelWords ReadGameChannel();

// SelectedGame and the pending modes 0, ChannelModesTaken 1; the parameter stays.
void ResetGameChannel();

}  // namespace zavn::commands
