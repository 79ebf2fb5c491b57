/* The game plug-in HookGame: passes each call on to the test executable's ZAVNTestPluginHook,
   looked up at every call since the plug-in keeps no state between its loadings. Without the
   hook it does nothing. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <string.h>

#include "support/plugin_hook.h"

ZAVN_PLUGIN_EXPORT int32_t ZAVN_CALL HookGame(int32_t player, const int32_t* playerSlot,
                                              PlayerStatus* status, int32_t game,
                                              const int32_t* channelModes, int32_t parameter) {
  void* symbol = dlsym(RTLD_DEFAULT, ZAVN_HOOK_NAME);
  ZAVNGamePluginEntry hook;
  if (symbol == NULL) return 0;
  memcpy(&hook, &symbol, sizeof hook); /* ISO C has no cast from data to function pointer */
  return hook(player, playerSlot, status, game, channelModes, parameter);
}
