#include "games/game_dispatch.h"

#include <atomic>

#include "core/player_assignment.h"
#include "core/run_state.h"
#include "games/plugin_path.h"
#include "games/settings.h"
#include "input/slot_report_mode.h"
#include "input/status_records.h"
#include "platform/modules.h"
#include "zavn/zavn_plugin.h"

namespace zavn::games {
namespace {

constexpr std::int32_t kGameEnded = 0;

struct Dispatch {
  platform::ModuleHandle module = nullptr;  // the result of the last load attempt
  std::atomic<ZAVNGamePluginEntry> entry{nullptr};
  std::atomic<std::int32_t> loadedGame{0};
  std::atomic<std::int32_t> channelModes[commands::kChannelPlayers]{};
};
Dispatch g_dispatch;

// The host's channel value 0 or 1 becomes 2 or 3 on a slot that sends long reports.
void ApplyReportModes() {
  for (int p = 0; p < commands::kChannelPlayers; ++p) {
    const std::int32_t mode = g_dispatch.channelModes[p];
    const std::int32_t reportMode = input::SlotReportMode(p);
    if (mode != 0 && mode != 1) continue;
    if (reportMode == input::kShortReportMode) {
      g_dispatch.channelModes[p] = mode;
    } else if (reportMode == input::kLongReportMode) {
      g_dispatch.channelModes[p] = mode + 2;
    }
  }
}

void Call(std::int32_t player, PlayerStatus* status, std::int32_t game, std::int32_t parameter) {
  const ZAVNGamePluginEntry entry = g_dispatch.entry;
  if (entry == nullptr) return;
  std::int32_t playerSlot[transport::kSlotCount];
  for (int k = 0; k < transport::kSlotCount; ++k) playerSlot[k] = core::Players().playerSlot[k];
  std::int32_t modes[commands::kChannelPlayers];
  ChannelModes(modes);
  entry(player, playerSlot, status, game, modes, parameter);
}

void Unload() {
  platform::CloseLibrary(g_dispatch.module);
  g_dispatch.entry = nullptr;
}

// A goodbye call with game 0, then the unload.
void EndGame(std::int32_t player, PlayerStatus* status, std::int32_t parameter) {
  if (g_dispatch.entry == nullptr) return;
  Call(player, status, kGameEnded, parameter);
  Unload();
}

void Load(std::int32_t game) {
  char path[kPluginPathSize];
  char name[kPluginNameSize];
  if (GetGamePluginPath(game, path, name) != 1) return;
  g_dispatch.module = platform::OpenLibrary(path);
  g_dispatch.entry =
      reinterpret_cast<ZAVNGamePluginEntry>(platform::LibraryFunction(g_dispatch.module, name));
  // A library without the entry function would never run nor be freed: free it now.
  if (g_dispatch.entry == nullptr && g_dispatch.module != nullptr) {
    platform::CloseLibrary(g_dispatch.module);
    g_dispatch.module = nullptr;
  }
}

}  // namespace

void DispatchGamePlugin(std::int32_t player, PlayerStatus* status) {
  const std::int32_t game = commands::SelectedGame();
  const std::int32_t parameter = commands::GameChannelParam();
  std::int32_t taken[commands::kChannelPlayers];
  if (commands::TakePendingChannelModes(taken)) {
    for (int p = 0; p < commands::kChannelPlayers; ++p) g_dispatch.channelModes[p] = taken[p];
  }
  ApplyReportModes();

  if (game == 0) {
    EndGame(player, status, parameter);
  } else if (game == g_dispatch.loadedGame) {
    Call(player, status, game, parameter);
  } else {
    EndGame(player, status, parameter);
    // The settings are read on a change of selection only.
    ReadProgramSettings();
    ReadGameEntry(&CurrentGameEntry(), game);
    Load(game);
    Call(player, status, game, parameter);
  }
  g_dispatch.loadedGame = game;
}

void ReleaseGamePlugin() {
  platform::LockGuard guard(core::Run().pollLock);
  if (g_dispatch.entry == nullptr) return;
  for (std::int32_t player = 1; player <= commands::kChannelPlayers; ++player) {
    Call(player, &input::LibraryStatus(player), kGameEnded, 0);
  }
  Unload();
}

std::int32_t LoadedGame() {
  return g_dispatch.loadedGame;
}

void ChannelModes(std::int32_t (&modes)[commands::kChannelPlayers]) {
  for (int p = 0; p < commands::kChannelPlayers; ++p) modes[p] = g_dispatch.channelModes[p];
}

bool PluginLoaded() {
  return g_dispatch.entry != nullptr;
}

void ResetGameDispatch() {
  g_dispatch.loadedGame = 0;
  for (auto& mode : g_dispatch.channelModes) mode = 0;
}

}  // namespace zavn::games
