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

std::string Value(std::string_view text, std::string_view section, std::string_view key) {
  const auto value = FindValue(text, section, key);
  return value ? std::string(*value) : "<missing>";
}

TEST(IniText, NamesMatchWithoutCaseAndBlanksAndValuesLoseBlanksAndOneQuotePair) {
  const std::string text =
      "\xEF\xBB\xBF[ Game0003 ]\r\n"
      "  DLL_NAME\t=  Race.dll  \r\n"
      "dll_path=\"Games\\Race\"\r\n"
      "Quoted='it''s'\r\n"
      "Lone=\"half\r\n"
      "Mixed=\"a'\r\n"
      "Pair=\"\"\r\n"
      "Empty=\r\n"
      "; comment=not one\r\n"
      "Note=value ; not a comment\r\n"
      "no equals sign here\r\n"
      "A=b=c\r\n"
      "[game0003]\r\n"
      "Later=only in the second section";
  EXPECT_EQ(Value(text, "GAME0003", "dll_name"), "Race.dll");
  EXPECT_EQ(Value(text, " game0003\t", " DLL_PATH "), "Games\\Race");
  EXPECT_EQ(Value(text, "Game0003", "Quoted"), "it''s");
  EXPECT_EQ(Value(text, "Game0003", "Lone"), "\"half");
  EXPECT_EQ(Value(text, "Game0003", "Mixed"), "\"a'");
  EXPECT_EQ(Value(text, "Game0003", "Pair"), "");
  EXPECT_EQ(Value(text, "Game0003", "Empty"), "");
  EXPECT_EQ(Value(text, "Game0003", "; comment"), "not one");
  EXPECT_EQ(Value(text, "Game0003", "Note"), "value ; not a comment");
  EXPECT_EQ(Value(text, "Game0003", "no equals sign here"), "<missing>");
  EXPECT_EQ(Value(text, "Game0003", "A"), "b=c");
  // Only the first of two sections of one name is searched.
  EXPECT_EQ(Value(text, "Game0003", "Later"), "<missing>");
  EXPECT_EQ(Value(text, "Game0004", "DLL_NAME"), "<missing>");
}

TEST(IniText, FirstDuplicateWinsAndOddFilesReadWithoutHarm) {
  const std::string duplicates = "[S]\nKey=first\nKEY=second\n[T]\nKey=other";
  EXPECT_EQ(Value(duplicates, "S", "Key"), "first");
  EXPECT_EQ(Value(duplicates, "T", "key"), "other");  // no final newline
  EXPECT_EQ(Value("Key=before any section\n[S]\n", "S", "Key"), "<missing>");
  EXPECT_EQ(Value("[S", "S", "Key"), "<missing>");
  EXPECT_EQ(Value("[S]\nKey", "S", "Key"), "<missing>");
  EXPECT_EQ(Value("", "S", "Key"), "<missing>");
  const std::string longLine = "[S]\nLong=" + std::string(100000, 'x') + "\nAfter=1\n";
  EXPECT_EQ(Value(longLine, "S", "Long").size(), 100000u);
  EXPECT_EQ(Value(longLine, "S", "After"), "1");
  EXPECT_EQ(Value(std::string("[S]\nK=a\0b\n", 11), "S", "K"), std::string("a\0b", 3));
}

TEST(IniText, IntegersAreTheLeadingDecimalNumber) {
  using platform::ini::ParseInteger;
  EXPECT_EQ(ParseInteger("12abc"), 12u);
  EXPECT_EQ(static_cast<std::int32_t>(ParseInteger("-5")), -5);
  EXPECT_EQ(ParseInteger("+1"), 1u);
  EXPECT_EQ(ParseInteger("B1"), 0u);
  EXPECT_EQ(ParseInteger("0x10"), 0u);
  EXPECT_EQ(ParseInteger(" \t42"), 42u);
  EXPECT_EQ(ParseInteger("4294967297"), 1u);  // modulo 2^32
  EXPECT_EQ(ParseInteger("-"), 0u);
}

class ProfileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    path_ = ::testing::TempDir() + "zavn_profile_" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name() + ".ini";
  }
  void TearDown() override { std::remove(path_.c_str()); }
  void Write(const std::string& text) { std::ofstream(path_, std::ios::binary) << text; }
  std::string path_;
};

TEST_F(ProfileTest, StringsAreCutToTheBufferAndDefaultsFillTheGaps) {
  Write("[Game0001]\r\nDLL_NAME=" + std::string(40, 'n') +
        "\r\nQuoted=\"q\"\r\nInt=\"17\"\r\nBlank=\r\n");
  char buffer[32];
  EXPECT_EQ(platform::ReadProfileString("game0001", "DLL_NAME", "", buffer, 32, path_.c_str()),
            31u);
  EXPECT_EQ(std::string(buffer), std::string(31, 'n'));
  EXPECT_EQ(platform::ReadProfileString("Game0001", "Quoted", "", buffer, 32, path_.c_str()), 1u);
  EXPECT_STREQ(buffer, "q");

  // Missing key, section or file: the default, its trailing spaces cut and quotes removed.
  EXPECT_EQ(platform::ReadProfileString("Game0001", "None", "\"def\"  ", buffer, 32, path_.c_str()),
            3u);
  EXPECT_STREQ(buffer, "def");
  EXPECT_EQ(platform::ReadProfileString("Game0002", "DLL_NAME", nullptr, buffer, 32, path_.c_str()),
            0u);
  EXPECT_STREQ(buffer, "");
  EXPECT_EQ(
      platform::ReadProfileString("Game0001", "DLL_NAME", "x", buffer, 32, "/no/such/file.ini"),
      1u);
  EXPECT_STREQ(buffer, "x");
  // An empty value is a value.
  EXPECT_EQ(platform::ReadProfileString("Game0001", "Blank", "x", buffer, 32, path_.c_str()), 0u);
  // A buffer of no size is left alone.
  buffer[0] = 'k';
  EXPECT_EQ(platform::ReadProfileString("Game0001", "Quoted", "", buffer, 0, path_.c_str()), 0u);
  EXPECT_EQ(buffer[0], 'k');

  EXPECT_EQ(platform::ReadProfileInt("Game0001", "Int", 5, path_.c_str()), 17);
  EXPECT_EQ(platform::ReadProfileInt("Game0001", "Blank", 5, path_.c_str()), 5);
  EXPECT_EQ(platform::ReadProfileInt("Game0001", "None", -3, path_.c_str()), -3);
  EXPECT_EQ(platform::ReadProfileInt("Game0001", "DLL_NAME", 5, path_.c_str()), 0);
}

}  // namespace
}  // namespace zavn::testing
