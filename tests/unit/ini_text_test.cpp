// The INI reader against the private-profile rules, with files that break naive readers.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <string>

#include "platform/posix/ini_text.h"
#include "platform/profile.h"

namespace zavn::testing {
namespace {

using platform::ini::FindValue;

constexpr const char* kMissing = "<missing>";

std::string Value(std::string_view text, std::string_view section, std::string_view key) {
  const auto value = FindValue(text, section, key);
  return value ? std::string(*value) : kMissing;
}

TEST(IniText, ValuesFollowTheProfileRules) {
  const struct {
    std::string text, key, expected;
  } cases[] = {
      // Names match without case and blanks; values lose blanks and one pair of quotes.
      {"\xEF\xBB\xBF[ s ]\r\n  DLL_NAME\t=  Race.dll  \r\n", "dll_name", "Race.dll"},
      {"[S]\r\nPath=\"Games\\Race\"\r\n", " PATH ", "Games\\Race"},
      {"[S]\nQ='it''s'\n", "Q", "it''s"},
      {"[S]\nQ=\"half\n", "Q", "\"half"},
      {"[S]\nQ=\"\"\n", "Q", ""},
      // No comments, and only the first '=' splits.
      {"[S]\n; c=not one\n", "; c", "not one"},
      {"[S]\nA=b=c\n", "A", "b=c"},
      {"[S]\nno equals sign\n", "no equals sign", kMissing},
      // The first section of a name and the first key of a name win.
      {"[S]\n[s]\nLater=x\n", "Later", kMissing},
      {"[S]\nKey=first\nKEY=second\n", "key", "first"},
      {"[T]\nK=t\n[S]\nK=s", "K", "s"},  // no final newline
      // Odd files read without harm.
      {"K=before any section\n[S]\n", "K", kMissing},
      {"[S", "K", kMissing},
      {std::string("[S]\nK=a\0b\n", 11), "K", std::string("a\0b", 3)},
  };
  for (const auto& c : cases) EXPECT_EQ(Value(c.text, " s\t", c.key), c.expected) << c.text;

  const std::string longLine = "[S]\nLong=" + std::string(100000, 'x') + "\nAfter=1\n";
  EXPECT_EQ(Value(longLine, "S", "Long").size(), 100000u);
  EXPECT_EQ(Value(longLine, "S", "After"), "1");
}

TEST(IniText, IntegersAreTheLeadingDecimalNumber) {
  const struct {
    const char* text;
    std::int32_t value;
  } cases[] = {{"12abc", 12}, {"-5", -5},        {"0x10", 0},
               {" \t42", 42}, {"4294967297", 1}, {"-", 0}};  // 2^32 + 1 wraps
  for (const auto& c : cases) {
    EXPECT_EQ(static_cast<std::int32_t>(platform::ini::ParseInteger(c.text)), c.value) << c.text;
  }
}

TEST(Profile, StringsAreCutToTheBufferAndDefaultsFillTheGaps) {
  const std::string path = ::testing::TempDir() + "zavn_profile_strings.ini";
  const char* file = path.c_str();
  std::ofstream(path, std::ios::binary) << "[Game0001]\r\nDLL_NAME=" + std::string(40, 'n') +
                                               "\r\nQuoted=\"q\"\r\nInt=\"17\"\r\nBlank=\r\n";
  // Missing key, section or file: the default, its trailing spaces cut and quotes removed.
  const struct {
    const char *section, *key, *fallback, *file;
    std::string expected;
  } cases[] = {
      {"game0001", "DLL_NAME", "", file, std::string(31, 'n')},
      {"Game0001", "None", "\"def\"  ", file, "def"},
      {"Game0002", "DLL_NAME", nullptr, file, ""},
      {"Game0001", "DLL_NAME", "x", "/no/such/file.ini", "x"},
      {"Game0001", "Blank", "x", file, ""},  // an empty value is a value
  };
  char buffer[32];
  for (const auto& c : cases) {
    EXPECT_EQ(platform::ReadProfileString(c.section, c.key, c.fallback, buffer, 32, c.file),
              c.expected.size())
        << c.key;
    EXPECT_EQ(std::string(buffer), c.expected) << c.key;
  }
  buffer[0] = 'k';  // a buffer of no size is left alone
  EXPECT_EQ(platform::ReadProfileString("Game0001", "Quoted", "", buffer, 0, file), 0u);
  EXPECT_EQ(buffer[0], 'k');

  EXPECT_EQ(platform::ReadProfileInt("Game0001", "Int", 5, file), 17);
  EXPECT_EQ(platform::ReadProfileInt("Game0001", "Blank", 5, file), 5);
  std::remove(file);
}

}  // namespace
}  // namespace zavn::testing
