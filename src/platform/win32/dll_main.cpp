// DLL entry point. The library's static objects are constructed and destroyed by the CRT
// around this call; the device slots' destructors close any open handles at unload.
#include <windows.h>

// extern "C" so the CRT's startup code finds it instead of the default DllMain of libmingw32.
extern "C" BOOL WINAPI DllMain(HINSTANCE module, DWORD reason, LPVOID) {
  // The library keeps no per-thread state, so thread attach and detach calls are not needed.
  if (reason == DLL_PROCESS_ATTACH) DisableThreadLibraryCalls(module);
  return TRUE;
}
