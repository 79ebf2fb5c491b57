/* The test plug-in HookGame (tests/games/hook_plugin.c, game 11 of tests/games/NoltaUT.ini)
   hands every call to ZAVNTestPluginHook, which the test executable defines and exports
   (ENABLE_EXPORTS), so that a test decides what a plug-in does inside the library's call. */
#ifndef ZAVN_TEST_PLUGIN_HOOK_H
#define ZAVN_TEST_PLUGIN_HOOK_H

#include "zavn/zavn_plugin.h"

#define ZAVN_HOOK_GAME 11
#define ZAVN_HOOK_NAME "ZAVNTestPluginHook"

ZAVN_EXTERN_C_BEGIN
ZAVN_PLUGIN_EXPORT int32_t ZAVN_CALL ZAVNTestPluginHook(int32_t player, const int32_t* playerSlot,
                                                        PlayerStatus* status, int32_t game,
                                                        const int32_t* channelModes,
                                                        int32_t parameter);
ZAVN_EXTERN_C_END

#endif /* ZAVN_TEST_PLUGIN_HOOK_H */
