// The INI reader and the settings seam on it, against the private-profile rules.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <string>

#include "platform/posix/ini_text.h"
#include "platform/profile.h"
#include "support/profile_rules.h"

namespace zavn::testing {
namespace {

using platform::ini::FindValue;

constexpr const char* kMissing = "<missing>";

std::string Value(std::string_view text, std::string_view section, std::string_view key) {
  const auto value = FindValue(text, section, key);
  return value ? std::string(*value) : kMissing;
}

TEST(IniText, OddFilesReadWithoutHarm) {
  EXPECT_EQ(Value("K=before any section\n[S]\n", "S", "K"), kMissing);
  EXPECT_EQ(Value("[S", "S", "K"), kMissing);
  EXPECT_EQ(Value(std::string("[S]\nK=a\0b\n", 11), "S", "K"), std::string("a\0b", 3));
  const std::string longLine = "[S]\nLong=" + std::string(100000, 'x') + "\nAfter=1\n";
  EXPECT_EQ(Value(longLine, "S", "Long").size(), 100000u);
  EXPECT_EQ(Value(longLine, "S", "After"), "1");
  EXPECT_EQ(platform::ini::ParseInteger("0x10"), 0u);  // not in the rules: Wine 8 reads 16
}

// The shared rules file read as the Windows functions read it; then strings cut to the buffer
// and defaults for what is missing.
TEST(Profile, ReadsAsWindowsDoes) {
  const std::string path = ::testing::TempDir() + "zavn_profile.ini";
  const char* file = path.c_str();
  std::ofstream(path, std::ios::binary) << zavnProfileRulesFile;
  char value[64];
  for (const auto& rule : zavnProfileStrings) {
    platform::ReadProfileString(rule.section, rule.key, kMissing, value, sizeof value, file);
    EXPECT_STREQ(value, rule.value != nullptr ? rule.value : kMissing)
        << "[" << rule.section << "] " << rule.key;
  }
  for (const auto& rule : zavnProfileIntegers) {
    EXPECT_EQ(platform::ReadProfileInt("Game0003", rule.key, 7, file), rule.value) << rule.key;
  }

  std::ofstream(path, std::ios::binary)
      << "[Game0001]\r\nDLL_NAME=" + std::string(40, 'n') + "\r\nQuoted=\"q\"\r\nInt=\"17\"\r\n";
  // Missing key, section or file: the default, its trailing spaces cut and quotes removed.
  const struct {
    const char *section, *key, *fallback, *file;
    std::string expected;
  } cases[] = {
      {"game0001", "DLL_NAME", "", file, std::string(31, 'n')},
      {"Game0001", "None", "\"def\"  ", file, "def"},
      {"Game0002", "DLL_NAME", nullptr, file, ""},
      {"Game0001", "DLL_NAME", "x", "/no/such/file.ini", "x"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(platform::ReadProfileString(c.section, c.key, c.fallback, value, 32, c.file),
              c.expected.size())
        << c.key;
    EXPECT_EQ(std::string(value), c.expected) << c.key;
  }
  value[0] = 'k';  // a buffer of no size is left alone
  EXPECT_EQ(platform::ReadProfileString("Game0001", "Quoted", "", value, 0, file), 0u);
  EXPECT_EQ(value[0], 'k');
  EXPECT_EQ(platform::ReadProfileInt("Game0001", "Int", 5, file), 17);
  std::remove(file);
}

}  // namespace
}  // namespace zavn::testing
