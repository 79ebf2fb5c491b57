// The settings file "NoltaUT.ini" beside the host's executable: program information, the game
// table, and one section per game naming its executable and its plug-in.
#pragma once

#include <cstdint>

#include "platform/system.h"

namespace zavn::games {

inline constexpr int kMaxGames = 200;  // the tables hold games 1..200
inline constexpr const char* kSettingsFileName = "NoltaUT.ini";

struct ProgramSettings {
  char ProgramIni[32];
  std::int32_t MajorVersion;
  std::int32_t MinorVersion;
  char ReleaseDate[12];
  std::int32_t MaxGames;  // stored only
  std::int32_t CurrentGames;
  char GameMapping[kMaxGames + 1][32];  // entry n: game n's "GAME_MAPPING" value; 0 unused
  char ShowItemNo[kMaxGames + 1][12];   // entry n: game n's "UT_SHOW_ITEM_NO" value; 0 unused
};

struct GameEntry {
  std::int32_t Active;
  char EXE_PATH[260];
  char EXE_PATH_ACTUAL[260];
  char EXE_NAME[256];
  char ExeVersion[10];
  char DLL_PATH[260];
  char DLL_NAME[32];
  char DLL_Version[10];
  char DLL_Date[12];
};

// The record of the last read, and the entry of the game selected last. Written on the poll
// thread by the plug-in dispatch.
ProgramSettings& CurrentProgramSettings();
GameEntry& CurrentGameEntry();

// The folder of the host's executable (its path cut before the last separator, or the whole
// path when it has none); false when the executable's path is not known.
bool ExecutableFolder(char (&folder)[platform::kMaxPath]);

// Reads "PROG_INFO" and the game table into CurrentProgramSettings, cleared first; games above
// kMaxGames are not read. 0 when the file's path cannot be formed (nothing changes), else 1.
int ReadProgramSettings();

// Reads game n's section into *entry, cleared first. 0 (and nothing changes) for a negative n,
// a null entry or an unknown executable path; 1 otherwise, whether or not the file or the
// section exists.
int ReadGameEntry(GameEntry* entry, std::int32_t n);

}  // namespace zavn::games
