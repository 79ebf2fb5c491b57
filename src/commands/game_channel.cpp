#include "commands/game_channel.h"

#include "platform/system.h"
#include "zavn/zavn_commands.h"

namespace zavn::commands {
namespace {

struct GameChannel {
  std::atomic<std::int32_t> selectedGame{0};
  std::atomic<std::int32_t> parameter{0};
  // The pending set and its flag change together under the lock, so the dispatch never takes a
  // half-written set; the flag alone tells the dispatch, without the lock, whether to look.
  platform::Lock lock;
  std::int32_t pendingModes[kChannelPlayers] = {};
  std::atomic<std::int32_t> modesTaken{0};
};

GameChannel& Channel() {
  static GameChannel channel;
  return channel;
}

}  // namespace

std::int32_t SelectedGame() {
  return Channel().selectedGame;
}
std::int32_t GameChannelParam() {
  return Channel().parameter;
}

bool TakePendingChannelModes(std::int32_t (&modes)[kChannelPlayers]) {
  GameChannel& channel = Channel();
  if (channel.modesTaken.load(std::memory_order_acquire) != 0) return false;
  platform::LockGuard guard(channel.lock);
  if (channel.modesTaken != 0) return false;
  for (int k = 0; k < kChannelPlayers; ++k) modes[k] = channel.pendingModes[k];
  channel.modesTaken = 1;
  return true;
}

GameChannelWords ReadGameChannel() {
  GameChannel& channel = Channel();
  platform::LockGuard guard(channel.lock);
  GameChannelWords words{channel.selectedGame, channel.parameter, {}, channel.modesTaken};
  for (int k = 0; k < kChannelPlayers; ++k) words.pendingModes[k] = channel.pendingModes[k];
  return words;
}

void ResetGameChannel() {
  GameChannel& channel = Channel();
  platform::LockGuard guard(channel.lock);
  channel.selectedGame = 0;
  for (std::int32_t& mode : channel.pendingModes) mode = 0;
  channel.modesTaken = 1;
}

}  // namespace zavn::commands

extern "C" {

ZAVN_API void ZAVN_CALL ZAVNSelectGameChannel(int32_t game, const int32_t* modes,
                                              int32_t parameter) {
  using namespace zavn::commands;
  GameChannel& channel = Channel();
  channel.parameter = parameter;
  channel.selectedGame = game;
  if (modes == nullptr) return;
  zavn::platform::LockGuard guard(channel.lock);
  // A set still pending is kept: this call's modes are taken over only once the dispatch has
  // taken the previous set.
  if (channel.modesTaken.exchange(0) == 1) {
    for (int k = 0; k < kChannelPlayers; ++k) channel.pendingModes[k] = modes[k];
  }
}

ZAVN_API void ZAVN_CALL ZAVNClearGameChannel(void) {
  zavn::commands::Channel().selectedGame = 0;
}

}  // extern "C"
