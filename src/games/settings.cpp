#include "games/settings.h"

#include <cstdio>
#include <cstring>

#include "platform/profile.h"

namespace zavn::games {
namespace {

ProgramSettings g_programSettings;
GameEntry g_currentGameEntry;

constexpr const char* kProgramSection = "PROG_INFO";
constexpr const char* kMappingSection = "GAME_MAPPING";
constexpr const char* kShowItemSection = "UT_SHOW_ITEM_NO";
// The settings file's path: the folder, a separator and the file name.
constexpr std::size_t kSettingsPathSize = platform::kMaxPath + 16;

bool SettingsFilePath(char (&path)[kSettingsPathSize]) {
  char folder[platform::kMaxPath];
  if (!ExecutableFolder(folder)) return false;
  std::snprintf(path, sizeof path, "%s%c%s", folder, platform::PathSeparator(), kSettingsFileName);
  return true;
}

template <std::size_t Size>
void ReadString(const char* section, const char* key, char (&into)[Size], const char* file) {
  platform::ReadProfileString(section, key, "", into, static_cast<std::uint32_t>(Size), file);
}

std::int32_t ReadInt(const char* section, const char* key, const char* file) {
  return platform::ReadProfileInt(section, key, 0, file);
}

}  // namespace

ProgramSettings& CurrentProgramSettings() {
  return g_programSettings;
}
GameEntry& CurrentGameEntry() {
  return g_currentGameEntry;
}

bool ExecutableFolder(char (&folder)[platform::kMaxPath]) {
  if (!platform::ActiveSystem().ExecutablePath(folder)) return false;
  if (char* last = std::strrchr(folder, platform::PathSeparator())) *last = '\0';
  return true;
}

int ReadProgramSettings() {
  char file[kSettingsPathSize];
  if (!SettingsFilePath(file)) return 0;
  ProgramSettings& s = g_programSettings;
  std::memset(&s, 0, sizeof s);
  ReadString(kProgramSection, "ProgramIni", s.ProgramIni, file);
  s.MajorVersion = ReadInt(kProgramSection, "MajorVersion", file);
  s.MinorVersion = ReadInt(kProgramSection, "MinorVersion", file);
  ReadString(kProgramSection, "ReleaseDate", s.ReleaseDate, file);
  s.MaxGames = ReadInt(kProgramSection, "MaxGames", file);
  s.CurrentGames = ReadInt(kProgramSection, "CurrentGames", file);
  if (s.CurrentGames < 0) s.CurrentGames = 0;
  // The tables end at game 200, whatever the file says.
  const std::int32_t games = s.CurrentGames < kMaxGames ? s.CurrentGames : kMaxGames;
  char key[16];
  for (std::int32_t n = 1; n <= games; ++n) {
    std::snprintf(key, sizeof key, "Game%04d", static_cast<int>(n));
    ReadString(kMappingSection, key, s.GameMapping[n], file);
  }
  for (std::int32_t n = 1; n <= games; ++n) {
    std::snprintf(key, sizeof key, "%04d", static_cast<int>(n));
    ReadString(kShowItemSection, key, s.ShowItemNo[n], file);
  }
  return 1;
}

int ReadGameEntry(GameEntry* entry, std::int32_t n) {
  if (n < 0 || entry == nullptr) return 0;
  char file[kSettingsPathSize];
  if (!SettingsFilePath(file)) return 0;
  std::memset(entry, 0, sizeof *entry);
  char section[24];
  std::snprintf(section, sizeof section, "Game%04d", static_cast<int>(n));
  entry->Active = ReadInt(section, "Active", file);
  ReadString(section, "EXE_PATH", entry->EXE_PATH, file);
  ReadString(section, "EXE_PATH_ACTUAL", entry->EXE_PATH_ACTUAL, file);
  ReadString(section, "EXE_NAME", entry->EXE_NAME, file);
  ReadString(section, "ExeVersion", entry->ExeVersion, file);
  ReadString(section, "DLL_PATH", entry->DLL_PATH, file);
  ReadString(section, "DLL_NAME", entry->DLL_NAME, file);
  ReadString(section, "DLL_Version", entry->DLL_Version, file);
  ReadString(section, "DLL_Date", entry->DLL_Date, file);
  return 1;
}

}  // namespace zavn::games
