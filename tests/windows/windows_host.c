/*
 * The Windows test host: loads ZAVN_Main.dll as a Windows host does (LoadLibraryA, every export
 * by its plain name with GetProcAddress) and runs the host calling order on the virtual receiver:
 * start-up, status snapshots, the raw-data callback, a game plug-in named by a real "NoltaUT.ini"
 * beside this program, and shut-down; then unloads the DLL while its poll thread runs. (Commands
 * through both DLLs, byte for byte: tests/kernel/wine_host.c.) It also reads a file of awkward INI
 * lines through the system's own private-profile functions, to hold the library's INI reader for
 * other systems to the same rules. Exit status 0 when every check passed.
 *
 * Built with ZAVN_LINKED, it calls the functions through the DLL's import library instead: that
 * build is only linked, which proves the names and the calling convention line up.
 */
#include <windows.h>

#include <tlhelp32.h>

#include <stddef.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "support/profile_rules.h"
#include "zavn/zavn.h"
#include "zavn/zavn_virtual.h"
#include "zavn_exports.h" /* ZAVN_EXPORTS(X): every export of src/core/ZAVN_Main.def */

static int failures;
#define CHECK(condition)                                                      \
  do {                                                                        \
    if (!(condition)) {                                                       \
      fprintf(stderr, "%s:%d: failed: %s\n", __FILE__, __LINE__, #condition); \
      ++failures;                                                             \
    }                                                                         \
  } while (0)

#define ZAVN_API_FIELD(name) __typeof__(&name) name;
static struct { ZAVN_EXPORTS(ZAVN_API_FIELD) } api;

#if !defined(ZAVN_LINKED)
static HMODULE library;
#endif

static int LoadApi(void) {
#if defined(ZAVN_LINKED)
#define ZAVN_API_SET(name) api.name = &name;
  ZAVN_EXPORTS(ZAVN_API_SET)
  return 1;
#else
  library = LoadLibraryA("ZAVN_Main.dll");
  if (library == NULL) {
    fprintf(stderr, "cannot load ZAVN_Main.dll (error %lu)\n", GetLastError());
    return 0;
  }
#define ZAVN_API_FIND(name)                                                     \
  api.name = (__typeof__(&name))(void (*)(void))GetProcAddress(library, #name); \
  if (api.name == NULL) {                                                       \
    fprintf(stderr, "ZAVN_Main.dll does not export %s\n", #name);               \
    ++failures;                                                                 \
  }
  ZAVN_EXPORTS(ZAVN_API_FIND)
  return failures == 0;
#endif
}

/* How long a check waits for what the poll thread does: long, as under emulation a cycle can take
   far longer than its 10 ms. */
static const DWORD kPatienceMs = 10000;

static char folder[MAX_PATH]; /* this program's folder, with a trailing backslash */

static void FindFolder(void) {
  GetModuleFileNameA(NULL, folder, MAX_PATH);
  char* last = strrchr(folder, '\\');
  if (last != NULL) last[1] = '\0';
}

static void WriteFile_(const char* name, const char* text) {
  char path[MAX_PATH * 2];
  snprintf(path, sizeof path, "%s%s", folder, name);
  FILE* out = fopen(path, "wb");
  CHECK(out != NULL);
  if (out == NULL) return;
  fputs(text, out);
  fclose(out);
}

static volatile LONG rawRecords;
static void ZAVN_CALL OnRawData(int32_t kind, PlayerStatus* status) {
  if (kind == 1 && status != NULL) InterlockedIncrement(&rawRecords);
}

/* 87 KB: on the heap, as a host keeps it. */
static PlayerStatus* status;

/* The header asserts the layout at compile time; this checks what the DLL copies out. */
static void CheckSnapshot(void) {
  memset(status, 0xA5, sizeof *status);
  api.ZAVNGetStatus(1, status);
  const int32_t count = status->MotionCount;
  CHECK(count > 0 && count <= ZAVN_HISTORY_LENGTH);
  for (int k = 0; k < ZAVN_MOTION_CHANNELS; ++k) {
    CHECK(status->Motion[k] > 10000 && status->Motion[k] < 56000);
    /* the newest sample of MotionHistory is the latest value */
    CHECK(count > 0 && status->MotionHistory[k][count - 1] == status->Motion[k]);
  }
  CHECK(status->RecordCount > 0);
  CHECK(status->BootBlock[0] == 0xA5 && status->BootBlock[1] == 0xA5); /* the caller's */
  CHECK(status->SecondaryRecordCount == (int32_t)0xA5A5A5A5);          /* not copied */
  CHECK(status->RawRecord[0] == 0xA5 && status->Padding2 == 0xA5);     /* not copied */
  for (int b = 0; b < ZAVN_BUTTON_COUNT; ++b) CHECK(status->Buttons[b] <= 1);
}

/* Whether player 1's link is up within kPatienceMs (players are assigned after 80 cycles with
   data). */
static int AwaitPlayerOne(void) {
  for (DWORD start = GetTickCount(); GetTickCount() - start < kPatienceMs; Sleep(1)) {
    if (api.ZAVNGetTxStatus(1) == LINK_OK) return 1;
  }
  return 0;
}

/* Whether the file holds `text` within kPatienceMs. */
static int FileGets(const char* path, const char* text) {
  static char contents[65536];
  for (DWORD start = GetTickCount(); GetTickCount() - start < kPatienceMs; Sleep(10)) {
    FILE* in = fopen(path, "rb");
    if (in == NULL) continue;
    const size_t length = fread(contents, 1, sizeof contents - 1, in);
    fclose(in);
    contents[length] = '\0';
    if (strstr(contents, text) != NULL) return 1;
  }
  return 0;
}

/* The plug-in named by NoltaUT.ini is loaded, called and unloaded. */
static void CheckGamePlugin(void) {
  WriteFile_("NoltaUT.ini",
             "[PROG_INFO]\r\nCurrentGames=3\r\n[GAME_MAPPING]\r\nGame0003=Race\r\n"
             "[Game0003]\r\nActive=1\r\nDLL_PATH=plugins\r\nDLL_NAME=GameThree.dll\r\n");
  char log[MAX_PATH * 2];
  snprintf(log, sizeof log, "%splugin.log", folder);
  remove(log);
  char variable[MAX_PATH * 2 + 20];
  snprintf(variable, sizeof variable, "ZAVN_PLUGIN_LOG=%s", log);
  _putenv(variable);

  const int32_t modes[4] = {1, 0, 0, 0};
  api.ZAVNSelectGameChannel(3, modes, 5);
  CHECK(FileGets(log, "GameThree loaded"));
  CHECK(FileGets(log, "GameThree call player 1 game 3 parameter 5 slots 1 2 0 0 modes 1 0 0 0"));
  api.ZAVNClearGameChannel();
  CHECK(FileGets(log, "GameThree call player 1 game 0 parameter 5"));
  CHECK(FileGets(log, "GameThree unloaded"));
}

#if !defined(ZAVN_LINKED)
/* This process's threads. */
static int ProcessThreads(void) {
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
  if (snapshot == INVALID_HANDLE_VALUE) return -1;
  THREADENTRY32 entry;
  entry.dwSize = sizeof entry;
  int count = 0;
  for (BOOL more = Thread32First(snapshot, &entry); more; more = Thread32Next(snapshot, &entry)) {
    if (entry.th32OwnerProcessID == GetCurrentProcessId()) ++count;
  }
  CloseHandle(snapshot);
  return count;
}

/* Loads the DLL and connects a receiver; returns once the poll thread has read its records. */
static int LoadAndStream(void) {
  if (!LoadApi()) return 0;
  api.ZAVNVirtualSelect(1);
  api.ZAVNVirtualClear();
  CHECK(api.ZAVNVirtualPlugReceiver(1, 200) > 0);
  api.ZAVNInit();
  api.ZAVNReset();
  api.ZAVNConnectRx();
  api.ZAVNRoutineFunc();
  CHECK(AwaitPlayerOne());
  return 1;
}

/* FreeLibrary while the poll thread runs: the thread's reference keeps the DLL loaded, and the
   next load's reset ends it. After ZAVNTerminate the DLL unloads and leaves no thread behind. */
static void CheckUnload(void) {
  const int threads = ProcessThreads();
  for (int round = 0; round < 5; ++round) {
    if (!LoadAndStream()) return;
    CHECK(FreeLibrary(library) != 0);
    CHECK(GetModuleHandleA("ZAVN_Main.dll") != NULL);
  }
  if (!LoadAndStream()) return;
  for (int32_t player = 1; player <= 4; ++player) api.ZAVNDisconnectRx(player);
  CHECK(api.ZAVNTerminate(0) != 0);
  api.ZAVNVirtualClear();
  CHECK(FreeLibrary(library) != 0);
  CHECK(GetModuleHandleA("ZAVN_Main.dll") == NULL);
  CHECK(ProcessThreads() <= threads);
}
#endif

/* The system's private-profile functions on the lines of support/profile_rules.h: the rules the
   library's own INI reader follows where these functions are missing. */
static void CheckProfileRules(void) {
  WriteFile_("rules.ini", zavnProfileRulesFile);
  char path[MAX_PATH * 2];
  snprintf(path, sizeof path, "%srules.ini", folder);
  char value[64];
  for (size_t k = 0; k < sizeof zavnProfileStrings / sizeof zavnProfileStrings[0]; ++k) {
    const char* expected = zavnProfileStrings[k].value ? zavnProfileStrings[k].value : "<default>";
    GetPrivateProfileStringA(zavnProfileStrings[k].section, zavnProfileStrings[k].key, "<default>",
                             value, sizeof value, path);
    if (strcmp(value, expected) != 0) {
      fprintf(stderr, "[%s] %s reads \"%s\", not \"%s\"\n", zavnProfileStrings[k].section,
              zavnProfileStrings[k].key, value, expected);
      ++failures;
    }
  }
  for (size_t k = 0; k < sizeof zavnProfileIntegers / sizeof zavnProfileIntegers[0]; ++k) {
    const int read = (int)GetPrivateProfileIntA("Game0003", zavnProfileIntegers[k].key, 7, path);
    if (read != zavnProfileIntegers[k].value) {
      fprintf(stderr, "%s reads %d, not %d\n", zavnProfileIntegers[k].key, read,
              (int)zavnProfileIntegers[k].value);
      ++failures;
    }
  }
  CHECK(GetPrivateProfileStringA("Game0003", "DLL_NAME", "", value, 5, path) == 4);
  CHECK(strcmp(value, "Race") == 0);
}

int main(void) {
  FindFolder();
  status = (PlayerStatus*)malloc(sizeof *status);
  if (status == NULL || !LoadApi()) return 1;
  CheckProfileRules();

  /* The runner selects the virtual receiver through the environment. */
  CHECK(api.ZAVNVirtualSelect(1) == 1);
  api.ZAVNVirtualClear();
  CHECK(api.ZAVNVirtualPlugReceiver(2, 100) > 0);

  api.ZAVNInit();
  api.ZAVNInitGetRawDataCallBack(OnRawData);
  CHECK(api.ZAVNReset() == LINK_RESET_DONE);
  api.ZAVNConnectRx();
  CHECK(api.ZAVNRoutineFunc() == 1);
  CHECK(api.ZAVNGetRxStatus(2) == LINK_OK && api.ZAVNGetRxStatus(3) == LINK_NO_DEVICE);
  /* Then a second and a half of records, for the rates. */
  CHECK(AwaitPlayerOne());
  Sleep(1500);
  CHECK(api.ZAVNGetTxStatus(1) == LINK_OK);

  CheckSnapshot();
  CHECK(rawRecords > 0);
  /* The rows copied out through the DLL; the rate's value, which a loaded machine lowers, is
     pinned on a stepped clock by the library's own tests. */
  uint32_t rates[4][4];
  memset(rates, 0xFF, sizeof rates);
  uint32_t* rows[4] = {rates[0], rates[1], rates[2], rates[3]};
  CHECK(api.ZAVNGetRawdataFPS(0, rows) == 1);
  CHECK(rates[0][0] > 0 && rates[0][0] < 150 && rates[3][0] == 0);
  CheckGamePlugin();

  for (int32_t player = 1; player <= 4; ++player) api.ZAVNDisconnectRx(player);
  CHECK(api.ZAVNTerminate(0) != 0);
  CHECK(api.ZAVNVirtualOpenHandles() == 0);
  api.ZAVNVirtualClear();
#if !defined(ZAVN_LINKED)
  CHECK(FreeLibrary(library) != 0);
  CheckUnload();
#endif
  free(status);
  if (failures == 0) printf("windows host: all checks passed\n");
  return failures == 0 ? 0 : 1;
}
