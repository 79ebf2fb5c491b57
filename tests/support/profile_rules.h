/* A settings file of lines that break naive INI readers, and what the Windows private-profile
   functions read from it: tests/unit/ini_text_test.cpp holds the library's own reader to it,
   tests/windows/windows_host.c the system's functions. C, for the Windows host. */
#ifndef ZAVN_TEST_PROFILE_RULES_H
#define ZAVN_TEST_PROFILE_RULES_H

#include <stddef.h>
#include <stdint.h>

static const char zavnProfileRulesFile[] =
    "\xEF\xBB\xBF[ Game0003 ]\r\n  DLL_NAME\t=  Race.dll  \r\ndll_path=\"Games\\Race\"\r\n"
    "Quoted='it''s'\r\nLone=\"half\r\nPair=\"\"\r\nEmpty=\r\n; comment=not one\r\n"
    "Note=value ; not a comment\r\nno equals sign here\r\nA=b=c\r\nInt= 12abc\r\n"
    "Negative=-5\r\nWraps=4294967297\r\nSign=-\r\n"
    "[S]\nKey=first\nKEY=second\n[game0003]\nLater=second section\n[Last]\nK=no final newline";

/* Names match without case and blanks; values lose their blanks and one pair of quotes; there
   are no comments, and only the first '=' splits; the first section and the first key of a name
   win. A null value: the key is missing, and the default comes back. */
static const struct {
  const char *section, *key, *value;
} zavnProfileStrings[] = {
    {"GAME0003", "dll_name", "Race.dll"},
    {" game0003\t", " DLL_PATH ", "Games\\Race"},
    {"Game0003", "Quoted", "it''s"},
    {"Game0003", "Lone", "\"half"},
    {"Game0003", "Pair", ""},
    {"Game0003", "Empty", ""},
    {"Game0003", "; comment", "not one"},
    {"Game0003", "Note", "value ; not a comment"},
    {"Game0003", "no equals sign here", NULL},
    {"Game0003", "A", "b=c"},
    {"S", "Key", "first"},
    {"S", "A", NULL},
    {"Game0003", "Later", NULL},
    {"Game0004", "DLL_NAME", NULL},
    {"Last", "K", "no final newline"},
};

/* Integers of [Game0003], read with the default 7: the leading decimal number, modulo 2^32; an
   empty or missing value gives the default. */
static const struct {
  const char* key;
  int32_t value;
} zavnProfileIntegers[] = {
    {"Int", 12}, {"Negative", -5}, {"Wraps", 1}, {"Sign", 0}, {"Empty", 7}, {"Missing", 7},
};

#endif /* ZAVN_TEST_PROFILE_RULES_H */
