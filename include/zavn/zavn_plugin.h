/*
 * Game plug-ins: a shared library named in a game's section of "NoltaUT.ini" (DLL_PATH and
 * DLL_NAME, relative to the host's folder). While the host has the game selected
 * (ZAVNSelectGameChannel), the library calls the plug-in's entry function with every motion
 * record of player 1. The entry function is exported under the library's file name without its
 * extension ("RacePlug" for RacePlug.dll or RacePlug.so) and runs on the library's poll thread.
 */
#ifndef ZAVN_PLUGIN_H
#define ZAVN_PLUGIN_H

#include "zavn_defs.h"
#include "zavn_status.h"

ZAVN_EXTERN_C_BEGIN

/* Channel modes a plug-in sees per player (the host's 0 or 1, plus 2 for long reports). */
#define ZAVN_CHANNEL_SHORT_0 0
#define ZAVN_CHANNEL_SHORT_1 1
#define ZAVN_CHANNEL_LONG_0 2
#define ZAVN_CHANNEL_LONG_1 3

/* player: 1 from the dispatch, 1..4 for the goodbye of ZAVNTerminate.
   playerSlot: slot number 1..4 of each player (0: none).
   status: the player's live record, valid during the call.
   game: the selected game's number, or 0: the game has ended and the plug-in is unloaded next.
   channelModes: each player's channel mode.
   parameter: the host's value given to ZAVNSelectGameChannel (0 from ZAVNTerminate).
   The result is ignored. */
typedef int32_t(ZAVN_CALL* ZAVNGamePluginEntry)(int32_t player, const int32_t* playerSlot,
                                                PlayerStatus* status, int32_t game,
                                                const int32_t* channelModes, int32_t parameter);

/* How a plug-in exports its entry function. */
#if defined(_WIN32)
#define ZAVN_PLUGIN_EXPORT __declspec(dllexport)
#else
#define ZAVN_PLUGIN_EXPORT __attribute__((visibility("default")))
#endif

ZAVN_EXTERN_C_END

#endif /* ZAVN_PLUGIN_H */
