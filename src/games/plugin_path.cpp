#include "games/plugin_path.h"

#include <cstdio>
#include <cstring>

#include "games/settings.h"

namespace zavn::games {

int GetGamePluginPath(std::int32_t game, char* path, char* name) {
  if (game < 0 || path == nullptr || name == nullptr) return 0;
  path[0] = '\0';
  name[0] = '\0';
  char folder[platform::kMaxPath];
  if (!ExecutableFolder(folder)) return 0;
  GameEntry entry;
  if (ReadGameEntry(&entry, game) != 1 || entry.DLL_NAME[0] == '\0') return 0;

  const char separator = platform::PathSeparator();
  for (char& c : entry.DLL_PATH) {
    if (c == '\\') c = separator;
  }
  const int length = std::snprintf(path, kPluginPathSize, "%s%c%s%c%s", folder, separator,
                                   entry.DLL_PATH, separator, entry.DLL_NAME);
  // A path cut to fit would name another file: load nothing.
  if (length < 0 || static_cast<std::size_t>(length) >= kPluginPathSize) {
    path[0] = '\0';
    return 0;
  }
  const char* dot = std::strrchr(entry.DLL_NAME, '.');
  if (dot == nullptr) return 0;
  const auto nameLength = static_cast<std::size_t>(dot - entry.DLL_NAME);
  std::memcpy(name, entry.DLL_NAME, nameLength);
  name[nameLength] = '\0';
  return 1;
}

}  // namespace zavn::games
