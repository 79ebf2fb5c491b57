// The settings file on arbitrary contents: the INI reader on the bytes in memory, then the same
// bytes as the "NoltaUT.ini" beside a made-up executable, read through the settings seam into
// the program settings, a game's entry and its plug-in path.
//
// Each file read reads the whole file again, so the file is read only when it names few games:
// every key is read the same way whatever its number, and a count of hundreds would cost
// hundreds of reads per input.
//
// Checked: found values lie inside the text on one line; names match whatever their case and
// surrounding blanks; what the seam stores is the reader's value, cut and NUL-terminated; the
// game count is never negative; a negative game is refused and its entry left alone; the
// plug-in path and name fit their buffers.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "fuzz_support.h"
#include "games/plugin_path.h"
#include "games/settings.h"
#include "platform/posix/ini_text.h"
#include "support/stepped_system.h"

namespace {

namespace ini = zavn::platform::ini;
namespace games = zavn::games;
using zavn::fuzz::Require;

struct Name {
  const char* section;
  const char* key;
};
// What the library reads, with the first game's keys standing for every game's.
constexpr Name kLibraryNames[] = {
    {"PROG_INFO", "ProgramIni"},     {"PROG_INFO", "MajorVersion"}, {"PROG_INFO", "MinorVersion"},
    {"PROG_INFO", "ReleaseDate"},    {"PROG_INFO", "MaxGames"},     {"PROG_INFO", "CurrentGames"},
    {"GAME_MAPPING", "Game0001"},    {"UT_SHOW_ITEM_NO", "0001"},   {"Game0001", "Active"},
    {"Game0001", "EXE_PATH"},        {"Game0001", "EXE_NAME"},      {"Game0001", "DLL_PATH"},
    {"Game0001", "DLL_NAME"},        {"Game0001", "DLL_Version"},   {"Game0001", "DLL_Date"},
    {"Game0001", "EXE_PATH_ACTUAL"},
};

std::string g_folder;
std::string g_file;
zavn::testing::SteppedSystem g_system;

constexpr std::int32_t kMostGamesReadFromFile = 3;
constexpr std::string_view kGameSectionStart = "[Game";
constexpr int kUntouched = 0x5A;

bool Inside(std::string_view part, std::string_view whole) {
  return part.data() >= whole.data() && part.data() + part.size() <= whole.data() + whole.size();
}

// The name with its letters in the other case and blanks around it: the same name to the reader.
std::string Disguised(std::string_view name) {
  std::string disguised(name);
  for (char& c : disguised) {
    if ((c | 0x20) >= 'a' && (c | 0x20) <= 'z') c = static_cast<char>(c ^ 0x20);
  }
  return " \t" + disguised + "\t ";
}

void CheckLookup(std::string_view text, std::string_view section, std::string_view key) {
  const std::optional<std::string_view> value = ini::FindValue(text, section, key);
  const std::optional<std::string_view> again =
      ini::FindValue(text, Disguised(section), Disguised(key));
  Require(value.has_value() == again.has_value(), "names match without case or blanks");
  if (!value) return;
  Require(again->data() == value->data() && again->size() == value->size(),
          "a disguised name finds the same value");
  Require(Inside(*value, text), "the value lies inside the text");
  Require(value->find('\n') == std::string_view::npos, "the value lies on one line");
  Require(Inside(ini::CleanDefault(*value), *value), "a cleaned default lies inside its text");
  ini::ParseInteger(*value);
}

// The first section of the text and the first key after it, so that names the library never
// uses are looked up too.
void CheckOwnNames(std::string_view text) {
  const std::size_t open = text.find('[');
  if (open == std::string_view::npos) return;
  const std::size_t close = text.find(']', open);
  const std::size_t lineEnd = text.find('\n', open);
  if (close == std::string_view::npos || lineEnd == std::string_view::npos || close > lineEnd) {
    return;
  }
  const std::size_t equals = text.find('=', lineEnd);
  if (equals == std::string_view::npos) return;
  const std::size_t keyStart = text.rfind('\n', equals) + 1;
  CheckLookup(text, text.substr(open + 1, close - open - 1),
              text.substr(keyStart, equals - keyStart));
}

// What the seam stored in `field` is the reader's value cut to the field, or empty.
template <std::size_t Size>
void CheckStored(std::string_view text, const char* section, const char* key,
                 const char (&field)[Size]) {
  const std::string_view value = ini::FindValue(text, section, key).value_or("");
  const std::size_t copied = value.size() < Size - 1 ? value.size() : Size - 1;
  Require(std::memcmp(field, value.data(), copied) == 0 && field[copied] == '\0',
          "a stored string is the value, cut and terminated");
}

void WriteSettingsFile(const std::uint8_t* data, std::size_t size) {
  std::FILE* file = std::fopen(g_file.c_str(), "wb");
  Require(file != nullptr, "the settings file can be written");
  Require(std::fwrite(data, 1, size, file) == size, "the settings file is written whole");
  std::fclose(file);
}

void CheckFileReads(std::string_view text) {
  Require(games::ReadProgramSettings() == 1, "the program settings are read");
  const games::ProgramSettings& settings = games::CurrentProgramSettings();
  Require(settings.CurrentGames >= 0, "the game count is not negative");
  CheckStored(text, "PROG_INFO", "ProgramIni", settings.ProgramIni);
  CheckStored(text, "PROG_INFO", "ReleaseDate", settings.ReleaseDate);
  if (settings.CurrentGames >= 1) {
    CheckStored(text, "GAME_MAPPING", "Game0001", settings.GameMapping[1]);
  }

  // The game of the text's first game section (any number, five digits or negative), else
  // game 1, as a host selecting it would have it read.
  const std::size_t gameSection = text.find(kGameSectionStart);
  const std::int32_t game = gameSection == std::string_view::npos
                                ? 1
                                : static_cast<std::int32_t>(ini::ParseInteger(
                                      text.substr(gameSection + kGameSectionStart.size())));
  auto entry = std::make_unique<games::GameEntry>();
  if (game < 0) {
    std::memset(entry.get(), kUntouched, sizeof *entry);
    Require(games::ReadGameEntry(entry.get(), game) == 0, "a negative game is refused");
    Require(entry->EXE_NAME[0] == static_cast<char>(kUntouched), "a refused entry is untouched");
    return;
  }
  Require(games::ReadGameEntry(entry.get(), game) == 1, "a game's entry is read");
  char section[24];
  std::snprintf(section, sizeof section, "Game%04d", static_cast<int>(game));
  CheckStored(text, section, "DLL_PATH", entry->DLL_PATH);
  CheckStored(text, section, "DLL_NAME", entry->DLL_NAME);
  CheckStored(text, section, "EXE_PATH_ACTUAL", entry->EXE_PATH_ACTUAL);

  // Without a plug-in name there is no path to form, only the entry to read again.
  if (entry->DLL_NAME[0] == '\0') return;
  auto path = std::make_unique<char[]>(games::kPluginPathSize);
  auto name = std::make_unique<char[]>(games::kPluginNameSize);
  const int found = games::GetGamePluginPath(game, path.get(), name.get());
  Require(std::memchr(path.get(), '\0', games::kPluginPathSize) != nullptr, "the path ends");
  Require(std::memchr(name.get(), '\0', games::kPluginNameSize) != nullptr, "the name ends");
  if (found == 1) {
    Require(std::strncmp(path.get(), g_folder.c_str(), g_folder.size()) == 0,
            "the plug-in lies in the host's folder");
    Require(std::strstr(path.get(), name.get()) != nullptr, "the path holds the entry name");
  }
}

void RemoveSettingsFolder() {
  std::remove(g_file.c_str());
  rmdir(g_folder.c_str());
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  char folder[] = "/tmp/zavn-settings-fuzz-XXXXXX";
  Require(mkdtemp(folder) != nullptr, "a temporary folder is made");
  g_folder = folder;
  g_file = g_folder + "/" + games::kSettingsFileName;
  g_system.SetExecutablePath(g_folder + "/host");
  zavn::platform::InstallSystem(&g_system);
  std::atexit(RemoveSettingsFolder);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const auto copy = zavn::fuzz::ExactCopy(data, size, size);
  const std::string_view text(reinterpret_cast<const char*>(copy.get()), size);
  for (const Name& name : kLibraryNames) CheckLookup(text, name.section, name.key);
  CheckOwnNames(text);

  const std::optional<std::string_view> count = ini::FindValue(text, "PROG_INFO", "CurrentGames");
  if (count && static_cast<std::int32_t>(ini::ParseInteger(*count)) > kMostGamesReadFromFile) {
    return 0;
  }
  WriteSettingsFile(data, size);
  CheckFileReads(text);
  return 0;
}
