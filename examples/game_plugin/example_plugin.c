/*
 * A minimal game plug-in: copy it, rename it, and put your game logic in the entry function.
 *
 * The library finds the plug-in through the game's section of "NoltaUT.ini" beside the host:
 *
 *   [Game0003]
 *   DLL_PATH=Games\Race
 *   DLL_NAME=ExamplePlugin.dll      (ExamplePlugin.so on Linux)
 *
 * and calls the function named like the file without its extension, here ExamplePlugin. Build
 * with -DPLUGIN_ENTRY=YourName to give the entry function another name. This one logs every call
 * (and its loading and unloading) to the file named by the environment variable ZAVN_PLUGIN_LOG,
 * or to standard error.
 */
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>

#include "zavn/zavn_plugin.h"

#ifndef PLUGIN_ENTRY
#define PLUGIN_ENTRY ExamplePlugin
#endif
#define PLUGIN_TEXT(name) #name
#define PLUGIN_NAME_OF(name) PLUGIN_TEXT(name)
#define PLUGIN_NAME PLUGIN_NAME_OF(PLUGIN_ENTRY)

static void Log(const char* format, ...) {
  const char* path = getenv("ZAVN_PLUGIN_LOG");
  FILE* out = path != NULL && path[0] != '\0' ? fopen(path, "a") : stderr;
  if (out == NULL) return;
  va_list arguments;
  va_start(arguments, format);
  vfprintf(out, format, arguments);
  va_end(arguments);
  if (out != stderr) fclose(out);
}

/* Runs on the library's poll thread with every motion record of player 1: keep it short. Game 0
   says the game has ended; the library unloads the plug-in right after. */
ZAVN_PLUGIN_EXPORT int32_t ZAVN_CALL PLUGIN_ENTRY(int32_t player, const int32_t* playerSlot,
                                                  PlayerStatus* status, int32_t game,
                                                  const int32_t* channelModes, int32_t parameter) {
  Log("%s call player %d game %d parameter %d slots %d %d %d %d modes %d %d %d %d motion %d\n",
      PLUGIN_NAME, player, game, parameter, playerSlot[0], playerSlot[1], playerSlot[2],
      playerSlot[3], channelModes[0], channelModes[1], channelModes[2], channelModes[3],
      status->Motion[0]);
  return 0;
}

#if defined(_WIN32)
#include <windows.h>
BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
  (void)instance;
  (void)reserved;
  if (reason == DLL_PROCESS_ATTACH) Log("%s loaded\n", PLUGIN_NAME);
  if (reason == DLL_PROCESS_DETACH) Log("%s unloaded\n", PLUGIN_NAME);
  return TRUE;
}
#else
__attribute__((constructor)) static void Loaded(void) {
  Log("%s loaded\n", PLUGIN_NAME);
}
__attribute__((destructor)) static void Unloaded(void) {
  Log("%s unloaded\n", PLUGIN_NAME);
}
#endif
