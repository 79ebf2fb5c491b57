/*
 * The Windows test host: a host's calling order, then what only its receiver shows.
 * - Virtual receiver (tests/windows/run_hosts): a plug-in named by NoltaUT.ini, the system's
 *   private-profile functions on the INI rules, FreeLibrary while the poll thread runs; exports by
 *   GetProcAddress, or (ZAVN_LINKED) by the import library, names and calling convention.
 * - zavn_wine_host (ZAVN_WINE_HID), run by ZAVN_KERNEL_WINE=1 tests/kernel/run, through the Win32
 *   HID backend against the USB receiver model (ZAVN_WINE_RATE_HZ records a second, else 100, a
 *   counter first): the product string, every record once and in order, the commands of
 *   support/command_sample.h (the guest checks their bytes), LINK_TIMEOUT, the hotplug.
 * Prints each check and "N passed, M failed"; exits 0 when every check passed.
 */
#include <windows.h>

#include <tlhelp32.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "support/profile_rules.h"
#include "zavn/zavn.h"
#include "zavn/zavn_virtual.h"
#include "zavn_exports.h" /* ZAVN_EXPORTS(X): every export of src/core/ZAVN_Main.def */

#if defined(ZAVN_WINE_HID)
#include "support/command_sample.h"
static const int hid = 1;
#else
static const int hid = 0;
#endif

static int passed, failed;
static DWORD started;
static char detail[256]; /* printed with the next check, then cleared */
static void Check(int ok, const char* what, int line) {
  printf("%5.1f s %s: line %d: %s%s%s\n", (GetTickCount() - started) / 1000.0, ok ? "ok" : "FAILED",
         line, what, detail[0] ? " -- " : "", detail);
  fflush(stdout);
  detail[0] = '\0';
  ++*(ok ? &passed : &failed);
}
#define CHECK(condition) Check((condition) != 0, #condition, __LINE__)

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
  CHECK((library = LoadLibraryA("ZAVN_Main.dll")) != NULL);
  if (library == NULL) return 0;
  int found = 1;
#define ZAVN_API_FIND(name)                                                     \
  api.name = (__typeof__(&name))(void (*)(void))GetProcAddress(library, #name); \
  if (api.name == NULL) found = 0, fprintf(stderr, "ZAVN_Main.dll lacks %s\n", #name);
  ZAVN_EXPORTS(ZAVN_API_FIND)
  CHECK(found);
  return found;
#endif
}

static int32_t followed = 1; /* the player (and slot) that Await, Take and Stream follow */
/* Whether `link` of `followed` gives `state` within `ms`, taking `take` on the way (8 ms apart). */
static int Await(int32_t(ZAVN_CALL* link)(int32_t), int32_t state, DWORD ms, void (*take)(void)) {
  for (DWORD start = GetTickCount(); GetTickCount() - start < ms; Sleep(8)) {
    if (take != NULL) take();
    if (link(followed) == state) return 1;
  }
  return 0;
}

/* Connects, as a host would on the arrival notice, until receiver 1 is there or `ms` have
   passed: Wine's HID bus presents a device a while after the kernel has it. */
static void Connect(DWORD ms) {
  int32_t reset, routine;
  for (DWORD start = GetTickCount();; Sleep(250)) {
    reset = api.ZAVNReset();
    api.ZAVNConnectRx();
    routine = api.ZAVNRoutineFunc();
    if (api.ZAVNGetRxStatus(1) == LINK_OK || GetTickCount() - start >= ms) break;
  }
  CHECK(reset == LINK_RESET_DONE && routine == 1);
}

/* Start-up on the model, or on a virtual receiver (which run_hosts' environment selects too). */
static void Start(int32_t transmitters, int32_t rateHz) {
  CHECK(api.ZAVNVirtualSelect(!hid) == !hid);
  if (!hid) {
    api.ZAVNVirtualClear();
    CHECK(api.ZAVNVirtualPlugReceiver(transmitters, rateHz) > 0);
  }
  api.ZAVNInit();
  Connect(hid ? 20000 : 0);
}

/* How long a check waits for the poll thread, whose 10 ms can be far longer under emulation. */
static const DWORD kPatienceMs = 10000;

/* 87 KB: on the heap, as a host keeps it. */
static PlayerStatus* status;

/* Every sample of the player followed since the last call; on the model each follows the last. */
static long samples, gaps, last = -1;
static char gapText[64];
static void Take(void) {
  status->MotionCount = 0;
  api.ZAVNGetStatus(followed, status);
  for (int k = 0; k < status->MotionCount; ++k) {
    const long value = status->MotionHistory[0][k] & 0xFFFF;
    if (hid && last >= 0 && value != ((last + 1) & 0xFFFF) && gaps++ == 0)
      snprintf(gapText, sizeof gapText, ": sample %ld followed %ld", value, last);
    last = value;
    ++samples;
  }
}

/* Once the player followed streams (after 80 reads, and `settleMs`), takes `ms` worth of records:
   on the model every one, in order; late under emulation, but none missing. */
static void Stream(const char* name, DWORD ms, DWORD settleMs) {
  const char* rate = getenv("ZAVN_WINE_RATE_HZ");
  const long expected = hid ? (long)ms * (rate != NULL ? atol(rate) : 100) / 1000 : 1;
  samples = 0;
  for (DWORD start = GetTickCount(); samples == 0 && GetTickCount() - start < 20000; Sleep(8))
    Take();
  CHECK(samples > 0 && Await(api.ZAVNGetTxStatus, LINK_OK, kPatienceMs, Take));
  Await(api.ZAVNGetTxStatus, 0, settleMs, Take);
  samples = gaps = 0;
  gapText[0] = '\0';
  const DWORD start = GetTickCount();
  while ((hid ? samples < expected : 1) && GetTickCount() - start < (hid ? 3 * ms : ms)) {
    Take();
    Sleep(8);
  }
  snprintf(detail, sizeof detail, "%s: %ld samples of %ld in %lu ms, %ld gaps%s", name, samples,
           expected, (unsigned long)(GetTickCount() - start), gaps, gapText);
  CHECK(gaps == 0 && samples >= expected);
}

/* The raw-data callback's records, and GetTickCount when it had the last. */
static volatile LONG rawRecords, lastRaw;
static void ZAVN_CALL OnRawData(int32_t kind, PlayerStatus* record) {
  (void)kind;
  if (record == NULL) return;
  InterlockedExchange(&lastRaw, (LONG)GetTickCount());
  InterlockedIncrement(&rawRecords);
}

/* What the DLL copies out; the header asserts the layout at compile time. */
static void CheckSnapshot(void) {
  for (DWORD start = GetTickCount();; Sleep(8)) { /* until a sample has come since the last call */
    memset(status, 0xA5, sizeof *status);
    api.ZAVNGetStatus(1, status);
    if (status->MotionCount != 0 || GetTickCount() - start >= kPatienceMs) break;
  }
  const int32_t count = status->MotionCount;
  CHECK(count > 0 && count <= ZAVN_HISTORY_LENGTH);
  int latest = count > 0, ranged = 1, buttons = 1;
  for (int k = 0; k < ZAVN_MOTION_CHANNELS; ++k) {
    ranged &= status->Motion[k] > 10000 && status->Motion[k] < 56000;
    latest &= count > 0 && status->MotionHistory[k][count - 1] == status->Motion[k];
  }
  for (int b = 0; b < ZAVN_BUTTON_COUNT; ++b) buttons &= status->Buttons[b] <= 1;
  CHECK(latest && buttons && (hid || ranged)); /* the model's first value is a counter */
  CHECK(status->RecordCount > 0);
  /* As the caller left them: the boot block and what the DLL does not copy. */
  CHECK(status->BootBlock[0] == 0xA5 && status->BootBlock[1] == 0xA5 &&
        status->RawRecord[0] == 0xA5 && status->SecondaryRecordCount == (int32_t)0xA5A5A5A5 &&
        status->Padding2 == 0xA5);
  /* The rates' rows; their value is pinned on a stepped clock by the library's own tests (a loaded
     machine lowers it; Wine's catch-up after a stall under emulation raised it over 150). */
  uint32_t rates[4][4];
  memset(rates, 0xFF, sizeof rates);
  uint32_t* rows[4] = {rates[0], rates[1], rates[2], rates[3]};
  CHECK(api.ZAVNGetRawdataFPS(0, rows) == 1);
  snprintf(detail, sizeof detail, "%u records/s", rates[0][0]);
  CHECK(rates[0][0] > 0 && (hid || rates[0][0] < 150) && rates[3][0] == 0);
}

/* Asks the guest's side of the kernel test for something: it acts on files in /tmp. */
static void Ask(const char* file) {
  fclose(fopen(file, "w"));
}

static char folder[MAX_PATH]; /* this program's folder, with a trailing backslash */
static const char* Beside(const char* name) {
  static char path[MAX_PATH * 2];
  snprintf(path, sizeof path, "%s%s", folder, name);
  return path;
}

static const char* WriteFile_(const char* name, const char* text) {
  FILE* out = fopen(Beside(name), "wb");
  CHECK(out != NULL && fputs(text, out) >= 0 && fclose(out) == 0);
  return Beside(name);
}

/* Whether the file holds `text` within `ms`. */
static int FileHolds(const char* path, const char* text, DWORD ms) {
  static char contents[65536];
  for (DWORD start = GetTickCount(); GetTickCount() - start < ms; Sleep(10)) {
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
  const char* log = Beside("plugin.log"); /* the last call of Beside here */
  remove(log);
  CHECK(_putenv_s("ZAVN_PLUGIN_LOG", log) == 0);

  const int32_t modes[4] = {1, 0, 0, 0};
  api.ZAVNSelectGameChannel(3, modes, 5);
  CHECK(FileHolds(log, "GameThree loaded", kPatienceMs));
  CHECK(FileHolds(log, "GameThree call player 1 game 3 parameter 5 slots 1 2 0 0 modes 1 0 0 0",
                  kPatienceMs));
  api.ZAVNClearGameChannel();
  CHECK(FileHolds(log, "GameThree call player 1 game 0 parameter 5", kPatienceMs));
  CHECK(FileHolds(log, "GameThree unloaded", kPatienceMs));
}

/* The system's private-profile functions on support/profile_rules.h: the library's own rules. */
static void CheckProfileRules(void) {
  const char* path = WriteFile_("rules.ini", zavnProfileRulesFile);
  char value[64];
  for (size_t k = 0; k < sizeof zavnProfileStrings / sizeof zavnProfileStrings[0]; ++k) {
    const char* expected = zavnProfileStrings[k].value ? zavnProfileStrings[k].value : "<default>";
    GetPrivateProfileStringA(zavnProfileStrings[k].section, zavnProfileStrings[k].key, "<default>",
                             value, sizeof value, path);
    snprintf(detail, sizeof detail, "[%s] %s reads \"%s\"", zavnProfileStrings[k].section,
             zavnProfileStrings[k].key, value);
    CHECK(strcmp(value, expected) == 0);
  }
  for (size_t k = 0; k < sizeof zavnProfileIntegers / sizeof zavnProfileIntegers[0]; ++k) {
    const int read = (int)GetPrivateProfileIntA("Game0003", zavnProfileIntegers[k].key, 7, path);
    snprintf(detail, sizeof detail, "%s reads %d", zavnProfileIntegers[k].key, read);
    CHECK(read == zavnProfileIntegers[k].value);
  }
  CHECK(GetPrivateProfileStringA("Game0003", "DLL_NAME", "", value, 5, path) == 4);
  CHECK(strcmp(value, "Race") == 0);
}

#if !defined(ZAVN_LINKED)
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

/* FreeLibrary while the poll thread runs: the thread's reference keeps the DLL loaded, and the
   next load's reset ends it. After ZAVNTerminate the DLL unloads and leaves no thread behind. */
static void CheckUnload(void) {
  const int threads = ProcessThreads();
  for (int round = 0; round < 6; ++round) {
    if (!LoadApi()) return;
    Start(1, 200);
    CHECK(Await(api.ZAVNGetTxStatus, LINK_OK, kPatienceMs, NULL));
    if (round < 5) CHECK(FreeLibrary(library) != 0 && GetModuleHandleA("ZAVN_Main.dll") != NULL);
  }
  for (int32_t player = 1; player <= 4; ++player) api.ZAVNDisconnectRx(player);
  CHECK(api.ZAVNTerminate(0) != 0);
  api.ZAVNVirtualClear();
  CHECK(FreeLibrary(library) != 0 && GetModuleHandleA("ZAVN_Main.dll") == NULL);
  CHECK(ProcessThreads() <= threads);
}
#endif

#if defined(ZAVN_WINE_HID)
/* What only the USB receiver model under Wine's HID stack shows. */
static void CheckHid(void) {
  wchar_t product[ZAVN_PRODUCT_STRING_BYTES / 2] = {0};
  CHECK(ZAVNGetProductString(1, product) == 1 && wcscmp(product, L"NOLTADongle") == 0);
  CHECK(ZavnSendCommandSample());
  /* Paused, the receiver stays plugged: LINK_TIMEOUT once no record has come for more than the
     500 ms grace (on GetTickCount, as the library counts it), the link still LINK_OK; LINK_OK
     again, no record lost, once records come. */
  api.ZAVNInitGetRawDataCallBack(OnRawData);
  last = -1, gaps = 0; /* the snapshot took samples */
  Ask("Z:\\tmp\\zavn-pause");
  const int timedOut = Await(api.ZAVNGetTxStatus, LINK_TIMEOUT, kPatienceMs, Take);
  const DWORD quietMs = GetTickCount() - (DWORD)lastRaw;
  snprintf(detail, sizeof detail, "after %lu ms without a record", (unsigned long)quietMs);
  CHECK(timedOut && quietMs > 500 && api.ZAVNGetRxStatus(1) == LINK_OK);
  Ask("Z:\\tmp\\zavn-stream");
  CHECK(Await(api.ZAVNGetTxStatus, LINK_OK, kPatienceMs, Take) && gaps == 0);
  /* With the hotplug on, a receiver plugged in (by the guest, streaming) is taken into slot 2 with
     no call of the host's and streams; pulled out, it is LINK_NO_DEVICE. The delays, mostly Wine's
     (udevd tells its HID bus, which tells the library's window), are shown and bounded at 30 s. */
  const char* plug = "Z:\\tmp\\zavn-plug";
  CHECK(api.ZAVNSwitchHotplug(1) == 1);
  followed = 2, last = -1;
  DWORD asked = GetTickCount(), nodes = 0, connected = 0;
  for (Ask(plug); (!nodes || !connected) && GetTickCount() - asked < 30000; Sleep(8)) {
    if (!nodes && GetFileAttributesA(plug) == INVALID_FILE_ATTRIBUTES) nodes = GetTickCount();
    if (!connected && api.ZAVNGetRxStatus(2) == LINK_OK) connected = GetTickCount();
  }
  snprintf(detail, sizeof detail, "hidraw nodes %ld ms after the ask, connected %ld ms after them",
           (long)(nodes - asked), (long)(connected - nodes));
  CHECK(nodes && connected);
  Stream("the receiver plugged in streams", 1000, 0);
  Ask("Z:\\tmp\\zavn-unplug");
  asked = GetTickCount();
  const int lost = Await(api.ZAVNGetRxStatus, LINK_NO_DEVICE, 20000, NULL);
  snprintf(detail, sizeof detail, "after %lu ms", (unsigned long)(GetTickCount() - asked));
  CHECK(lost && api.ZAVNGetTxStatus(2) == LINK_NO_DEVICE);
}
#endif

int main(void) {
  started = GetTickCount();
  GetModuleFileNameA(NULL, folder, MAX_PATH);
  strrchr(folder, '\\')[1] = '\0';
  status = (PlayerStatus*)malloc(sizeof *status);
  if (status == NULL || !LoadApi()) return 1;
  if (!hid) CheckProfileRules();

  Start(2, 100);
  /* On the model, discovery takes the data interface alone (not the 4- and 14-byte ones, nor
     another vendor's device); the virtual receiver has one interface a transmitter. */
  char links[32];
  snprintf(links, sizeof links, "%d %d %d %d", api.ZAVNGetRxStatus(1), api.ZAVNGetRxStatus(2),
           api.ZAVNGetRxStatus(3), api.ZAVNGetRxStatus(4));
  CHECK(strcmp(links, hid ? "5 6 6 6" : "5 5 6 6") == 0);

  if (hid) Ask("Z:\\tmp\\zavn-stream");
  api.ZAVNInitGetRawDataCallBack(OnRawData);
  Stream(hid ? "3 s: every sample once and in order" : "1.5 s", hid ? 3000 : 1500, hid ? 5000 : 0);
  api.ZAVNInitGetRawDataCallBack(NULL);
  CHECK(rawRecords > 0);
  CheckSnapshot();
  if (!hid) CheckGamePlugin();
#if defined(ZAVN_WINE_HID)
  CheckHid();
#endif

  for (int32_t player = 1; player <= 4; ++player) api.ZAVNDisconnectRx(player);
  CHECK(api.ZAVNTerminate(0) != 0);
  if (!hid) api.ZAVNVirtualClear();
#if !defined(ZAVN_LINKED)
  CHECK(FreeLibrary(library) != 0);
  CheckUnload();
#endif
  free(status);
  printf("%d passed, %d failed\n", passed, failed);
  return failed == 0 ? 0 : 1;
}
