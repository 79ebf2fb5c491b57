// Where a game's plug-in lies and what its entry function is called.
#pragma once

#include <cstdint>

namespace zavn::games {

inline constexpr std::size_t kPluginPathSize = 268;
inline constexpr std::size_t kPluginNameSize = 128;

// The host's folder, DLL_PATH and DLL_NAME joined by the system's separator (backslashes in
// DLL_PATH count as separators), and DLL_NAME without its extension. 1 with both filled; 0 for
// a negative game, a null buffer, an unknown executable path, an empty DLL_NAME, a path that
// does not fit 267 characters (path left empty), or a DLL_NAME without '.' (path left filled).
int GetGamePluginPath(std::int32_t game, char* path, char* name);

}  // namespace zavn::games
