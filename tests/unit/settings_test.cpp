// The settings file and the plug-in path, found beside an executable path the test chooses.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>

#include "games/plugin_path.h"
#include "games/settings.h"
#include "support/stepped_system.h"

namespace zavn::testing {
namespace {

class SettingsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // A folder of each test's own: the tests run in parallel processes.
    folder_ = ::testing::TempDir() + "zavn_settings_" +
              ::testing::UnitTest::GetInstance()->current_test_info()->name();
    std::filesystem::create_directories(folder_);
    system_.SetExecutablePath(folder_ + "/host");
    platform::InstallSystem(&system_);
  }
  void TearDown() override {
    platform::InstallSystem(nullptr);
    std::filesystem::remove_all(folder_);
  }
  void Write(const std::string& text) const {
    std::ofstream(folder_ + "/NoltaUT.ini", std::ios::binary) << text;
  }

  std::string folder_;
  SteppedSystem system_;
};

TEST_F(SettingsTest, ProgramSettingsAreReadAfreshUpToTheTablesEnd) {
  std::string text =
      "[PROG_INFO]\nProgramIni=UT.ini\nReleaseDate=2026-12-01T10:00\nCurrentGames=250\n"
      "[GAME_MAPPING]\n";
  for (int n = 1; n <= 201; ++n)
    text += "Game" + std::to_string(10000 + n).substr(1) + "=g" + std::to_string(n) + "\n";
  text += "[UT_SHOW_ITEM_NO]\n0002=item2\n0200=item200\n";
  Write(text);
  games::ProgramSettings& s = games::CurrentProgramSettings();
  ASSERT_EQ(games::ReadProgramSettings(), 1);
  EXPECT_STREQ(s.ProgramIni, "UT.ini");
  EXPECT_STREQ(s.ReleaseDate, "2026-12-01T");  // cut to 11 characters
  EXPECT_EQ(s.CurrentGames, 250);              // as given; only the table stops at 200
  EXPECT_STREQ(s.GameMapping[1], "g1");
  EXPECT_STREQ(s.GameMapping[200], "g200");  // and no further
  EXPECT_STREQ(s.ShowItemNo[2], "item2");
  EXPECT_STREQ(s.ShowItemNo[200], "item200");

  // A second read with fewer games leaves nothing of the first behind.
  Write("[PROG_INFO]\nCurrentGames=2\n[GAME_MAPPING]\nGame0001=a\nGame0002=b\nGame0003=c\n");
  ASSERT_EQ(games::ReadProgramSettings(), 1);
  EXPECT_STREQ(s.GameMapping[2], "b");
  EXPECT_STREQ(s.GameMapping[3], "");
  EXPECT_STREQ(s.ProgramIni, "");
  Write("[PROG_INFO]\nCurrentGames=-3\n[GAME_MAPPING]\nGame0001=a\n");
  ASSERT_EQ(games::ReadProgramSettings(), 1);
  EXPECT_EQ(s.CurrentGames, 0);
  EXPECT_STREQ(s.GameMapping[1], "");

  // Without an executable path nothing is read and nothing changes.
  system_.SetExecutablePath("");
  s.MajorVersion = 99;
  EXPECT_EQ(games::ReadProgramSettings(), 0);
  EXPECT_EQ(s.MajorVersion, 99);
}

TEST_F(SettingsTest, GameEntriesAndPluginPathsComeFromTheirSectionAndDefaultToEmpty) {
  Write(
      "[Game0000]\nDLL_NAME=Zero.so\n[Game12345]\nDLL_NAME=Five.so\n[Game0003]\nActive=1\n"
      "EXE_NAME=Race.exe\nDLL_NAME=" +
      std::string(40, 'd') +
      "\n[Game0005]\nDLL_PATH=Games\\Race\nDLL_NAME=RacePlug.so\n[Game0004]\nDLL_NAME=Bare.so\n"
      "[Game0006]\nDLL_PATH=" +
      std::string(255, 'p') + "\nDLL_NAME=Long.so\n[Game0007]\nDLL_PATH=x\n");
  games::GameEntry entry;
  ASSERT_EQ(games::ReadGameEntry(&entry, 3), 1);
  EXPECT_EQ(entry.Active, 1);
  EXPECT_STREQ(entry.EXE_NAME, "Race.exe");
  EXPECT_EQ(std::string(entry.DLL_NAME), std::string(31, 'd'));
  // Game 12345: five digits, not cut to four; game 8: no such section, all empty, still read.
  for (const auto& [game, dll] : {std::pair{0, "Zero.so"}, {12345, "Five.so"}, {8, ""}}) {
    ASSERT_EQ(games::ReadGameEntry(&entry, game), 1) << game;
    EXPECT_STREQ(entry.DLL_NAME, dll) << game;
    EXPECT_EQ(entry.Active, 0) << game;
  }

  char path[games::kPluginPathSize];
  char name[games::kPluginNameSize];
  ASSERT_EQ(games::GetGamePluginPath(5, path, name), 1);
  EXPECT_EQ(std::string(path), folder_ + "/Games/Race/RacePlug.so");
  EXPECT_STREQ(name, "RacePlug");
  ASSERT_EQ(games::GetGamePluginPath(4, path, name), 1);
  EXPECT_EQ(std::string(path), folder_ + "//Bare.so");    // an empty DLL_PATH is used as it comes
  EXPECT_EQ(games::GetGamePluginPath(6, path, name), 0);  // past 267 characters
  EXPECT_STREQ(path, "");
  EXPECT_EQ(games::GetGamePluginPath(7, path, name), 0);  // no DLL_NAME
  EXPECT_EQ(games::GetGamePluginPath(-1, path, name), 0);
  EXPECT_EQ(games::GetGamePluginPath(5, nullptr, name), 0);

  std::filesystem::remove(folder_ + "/NoltaUT.ini");
  ASSERT_EQ(games::ReadGameEntry(&entry, 3), 1);  // no file either
  std::strcpy(entry.DLL_NAME, "kept");
  EXPECT_EQ(games::ReadGameEntry(&entry, -1), 0);
  EXPECT_EQ(games::ReadGameEntry(nullptr, 3), 0);
  EXPECT_STREQ(entry.DLL_NAME, "kept");
}

}  // namespace
}  // namespace zavn::testing
