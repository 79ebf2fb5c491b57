#include "games/game_dispatch.h"

#include <utility>

#include "games/plugin_path.h"
#include "games/settings.h"
#include "input/slot_report_mode.h"
#include "input/status_records.h"
#include "platform/modules.h"
#include "zavn/zavn_plugin.h"

namespace zavn::games {
namespace {

constexpr std::int32_t kGameEnded = 0;

// The plug-in is handed the library's tables as arrays of plain 32-bit words.
static_assert(sizeof(std::atomic<std::int32_t>) == sizeof(std::int32_t) &&
              alignof(std::atomic<std::int32_t>) == alignof(std::int32_t) &&
              std::atomic<std::int32_t>::is_always_lock_free);

const std::int32_t* Words(const std::atomic<std::int32_t>* table) {
  return reinterpret_cast<const std::int32_t*>(table);
}

// The loaded plug-in. The lock guards these fields only and is never held across a call into
// the plug-in, nor across its loading or unloading (which run its own code).
struct Plugin {
  platform::Lock lock;
  platform::ModuleHandle module = nullptr;
  ZAVNGamePluginEntry entry = nullptr;
  int callsUnderWay = 0;
  // Taken out of use while a call into it was under way: unloaded when the last call returns.
  platform::ModuleHandle retired = nullptr;
};
Plugin g_plugin;

struct Dispatch {
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

void CloseIfLoaded(platform::ModuleHandle module) {
  if (module != nullptr) platform::CloseLibrary(module);
}

// Calls the loaded plug-in, if any. The plug-in stays mapped until the call has returned, even
// when it is released from inside the call.
void Call(std::int32_t player, PlayerStatus* status, std::int32_t game, std::int32_t parameter,
          PlayerSlotTable playerSlot) {
  ZAVNGamePluginEntry entry;
  {
    platform::LockGuard guard(g_plugin.lock);
    entry = g_plugin.entry;
    if (entry == nullptr) return;
    ++g_plugin.callsUnderWay;
  }
  entry(player, Words(playerSlot), status, game, Words(g_dispatch.channelModes), parameter);
  platform::ModuleHandle unload = nullptr;
  {
    platform::LockGuard guard(g_plugin.lock);
    if (--g_plugin.callsUnderWay == 0) std::swap(unload, g_plugin.retired);
  }
  CloseIfLoaded(unload);
}

// Takes the plug-in out of use and unloads it, at once or after the calls under way.
void Unload() {
  platform::ModuleHandle unload = nullptr;
  {
    platform::LockGuard guard(g_plugin.lock);
    if (g_plugin.entry == nullptr) return;
    g_plugin.entry = nullptr;
    if (g_plugin.callsUnderWay == 0) {
      unload = g_plugin.module;
    } else if (g_plugin.retired == nullptr) {
      g_plugin.retired = g_plugin.module;
    }  // else a second release inside the same call: the library stays loaded for good
  }
  CloseIfLoaded(unload);
}

bool Loaded() {
  platform::LockGuard guard(g_plugin.lock);
  return g_plugin.entry != nullptr;
}

// A goodbye call with game 0, then the unload.
void EndGame(std::int32_t player, PlayerStatus* status, std::int32_t parameter,
             PlayerSlotTable playerSlot) {
  if (!Loaded()) return;
  Call(player, status, kGameEnded, parameter, playerSlot);
  Unload();
}

void Load(std::int32_t game) {
  char path[kPluginPathSize];
  char name[kPluginNameSize];
  if (GetGamePluginPath(game, path, name) != 1) return;
  const platform::ModuleHandle module = platform::OpenLibrary(path);
  const auto entry = reinterpret_cast<ZAVNGamePluginEntry>(platform::LibraryFunction(module, name));
  // A library without the entry function would never run nor be freed: free it now.
  if (entry == nullptr) {
    CloseIfLoaded(module);
    return;
  }
  platform::LockGuard guard(g_plugin.lock);
  g_plugin.module = module;
  g_plugin.entry = entry;
}

}  // namespace

void DispatchGamePlugin(std::int32_t player, PlayerStatus* status, PlayerSlotTable playerSlot) {
  const std::int32_t game = commands::SelectedGame();
  const std::int32_t parameter = commands::GameChannelParam();
  std::int32_t taken[commands::kChannelPlayers];
  if (commands::TakePendingChannelModes(taken)) {
    for (int p = 0; p < commands::kChannelPlayers; ++p) g_dispatch.channelModes[p] = taken[p];
  }
  ApplyReportModes();

  if (game == 0) {
    EndGame(player, status, parameter, playerSlot);
  } else if (game == g_dispatch.loadedGame) {
    Call(player, status, game, parameter, playerSlot);
  } else {
    EndGame(player, status, parameter, playerSlot);
    // The settings are read on a change of selection only.
    ReadProgramSettings();
    ReadGameEntry(&CurrentGameEntry(), game);
    Load(game);
    Call(player, status, game, parameter, playerSlot);
  }
  g_dispatch.loadedGame = game;
}

void ReleaseGamePlugin(PlayerSlotTable playerSlot) {
  if (!Loaded()) return;
  for (std::int32_t player = 1; player <= commands::kChannelPlayers; ++player) {
    Call(player, &input::LibraryStatus(player), kGameEnded, 0, playerSlot);
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
  return Loaded();
}

void ResetGameDispatch() {
  g_dispatch.loadedGame = 0;
  for (auto& mode : g_dispatch.channelModes) mode = 0;
}

}  // namespace zavn::games
