#include "games/game_dispatch.h"

#include <iterator>
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
// a plug-in, nor across its loading or unloading (which run its own code). A plug-in taken out
// of use while calls are under way (from inside one of them, or from another thread) is
// unloaded when the last call returns.
struct Plugin {
  platform::Lock lock;
  platform::ModuleHandle module = nullptr;
  ZAVNGamePluginEntry entry = nullptr;
  int callsUnderWay = 0;
  platform::ModuleHandle retired[4] = {};
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

// The loaded plug-in, held for calls: it stays mapped until the hold ends.
class PluginHold {
 public:
  PluginHold() {
    platform::LockGuard guard(g_plugin.lock);
    entry_ = g_plugin.entry;
    module_ = g_plugin.module;
    if (entry_ != nullptr) ++g_plugin.callsUnderWay;
  }
  ~PluginHold() {
    if (entry_ == nullptr) return;
    platform::ModuleHandle unload[std::size(g_plugin.retired)] = {};
    {
      platform::LockGuard guard(g_plugin.lock);
      if (--g_plugin.callsUnderWay == 0) std::swap(unload, g_plugin.retired);
    }
    for (platform::ModuleHandle module : unload) CloseIfLoaded(module);
  }
  PluginHold(const PluginHold&) = delete;
  PluginHold& operator=(const PluginHold&) = delete;

  explicit operator bool() const { return entry_ != nullptr; }

  void Call(std::int32_t player, PlayerStatus* status, std::int32_t game, std::int32_t parameter,
            PlayerSlotTable playerSlot) const {
    entry_(player, Words(playerSlot), status, game, Words(g_dispatch.channelModes), parameter);
  }

  // Takes the held plug-in out of use, unless another call has already done so; it is unloaded
  // when the last hold ends.
  void Retire() const {
    platform::LockGuard guard(g_plugin.lock);
    if (g_plugin.entry != entry_ || g_plugin.module != module_) return;
    g_plugin.entry = nullptr;
    for (platform::ModuleHandle& slot : g_plugin.retired) {
      if (slot == nullptr) {
        slot = module_;
        return;
      }
    }
    // More plug-ins retired during one call than there is room for: this one stays loaded.
  }

 private:
  ZAVNGamePluginEntry entry_ = nullptr;
  platform::ModuleHandle module_ = nullptr;
};

// A call of the loaded plug-in, if any.
void Call(std::int32_t player, PlayerStatus* status, std::int32_t game, std::int32_t parameter,
          PlayerSlotTable playerSlot) {
  if (const PluginHold plugin; plugin) plugin.Call(player, status, game, parameter, playerSlot);
}

// A goodbye call with game 0, then the unload.
void EndGame(std::int32_t player, PlayerStatus* status, std::int32_t parameter,
             PlayerSlotTable playerSlot) {
  const PluginHold plugin;
  if (!plugin) return;
  plugin.Call(player, status, kGameEnded, parameter, playerSlot);
  plugin.Retire();
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
  const PluginHold plugin;
  if (!plugin) return;
  for (std::int32_t player = 1; player <= commands::kChannelPlayers; ++player) {
    plugin.Call(player, &input::LibraryStatus(player), kGameEnded, 0, playerSlot);
  }
  plugin.Retire();
}

std::int32_t LoadedGame() {
  return g_dispatch.loadedGame;
}

void ChannelModes(std::int32_t (&modes)[commands::kChannelPlayers]) {
  for (int p = 0; p < commands::kChannelPlayers; ++p) modes[p] = g_dispatch.channelModes[p];
}

bool PluginLoaded() {
  platform::LockGuard guard(g_plugin.lock);
  return g_plugin.entry != nullptr;
}

void ResetGameDispatch() {
  g_dispatch.loadedGame = 0;
  for (auto& mode : g_dispatch.channelModes) mode = 0;
}

}  // namespace zavn::games
