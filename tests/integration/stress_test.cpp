// Four host threads call every exported function (the export table is checked against the walk),
// with valid and invalid arguments, while four virtual transmitters stream; the raw-data callback
// and a game plug-in do the same from inside the library's calls to them, now and then changing
// the game, resetting, terminating or reconnecting from there. Captures go to a folder of the
// test's own. Afterwards the host's closing calls must release everything. What no other test
// has: these calls racing each other (the race, unload, hotplug and callback lifecycle tests each
// race one kind of call with the poll thread). The run lasts ZAVN_STRESS_SECONDS (5 by default);
// a hang runs into the test's time-out.
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <span>
#include <string>
#include <thread>
#include <vector>

#include "core/poll_thread.h"
#include "firmware/images.h"
#include "games/game_dispatch.h"
#include "support/library_fixture.h"
#include "support/plugin_hook.h"
#include "support/process_threads.h"
#include "zavn/zavn_commands.h"
#include "zavn/zavn_firmware.h"
#include "zavn/zavn_motion.h"
#include "zavn/zavn_virtual.h"

namespace zavn::testing {
namespace {

constexpr std::int32_t kUpdateModes[] = {0, ZAVN_UPDATE_RUN, ZAVN_UPDATE_RESET, 7};

// Every this many calls from inside the raw-data callback, and from inside the plug-in, one is
// the next of the six game and lifecycle calls; rarely enough that the host threads'
// reconnections keep the stream going.
constexpr std::uint64_t kCallbackLifecycleEvery = 100;
constexpr std::uint64_t kPluginLifecycleEvery = 20;

// The calls out of the library, by caller: the plug-in runs on the poll thread, and on a host
// thread for the goodbye of its termination.
enum Caller { kCallback, kPlugin, kGoodbye, kCallers };
std::atomic<std::uint64_t> g_callOuts[kCallers];

// Set for the host's closing calls: a plug-in's goodbye that reconnected there would rightly
// start a new poll thread, which is not what the closing calls are checked for.
std::atomic<bool> g_closing{false};
void ZAVN_CALL NoCallback() {}

// A random walk over the whole API, each thread (host or poll thread) with its own generator,
// seeded with the next number, and buffers; player numbers and values include the invalid ones,
// pointers are now and then null.
struct Chaos {
  static inline std::atomic<unsigned> seeds{1000};
  static inline thread_local std::mt19937 random{seeds++};
  static inline thread_local PlayerStatus status;
  static inline thread_local std::uint8_t bytes[ZAVN_VIRTUAL_MAX_REPORT_LENGTH] = {1, 2, 3, 4, 5,
                                                                                   6, 7, 8, 9};
  static inline thread_local std::int32_t values[15] = {1, 0, 2, 0, 3, 0, 4, 0,
                                                        5, 0, 6, 0, 7, 0, 8};
  static inline thread_local char text[ZAVN_IMAGE_LINE_BYTES];
  static inline thread_local ZAVNMotionSample samples[ZAVN_MOTION_RING];
  static inline thread_local float bias[3];
  static inline thread_local std::uint32_t rates[4][4];
  static inline thread_local char line[ZAVN_IMAGE_LINE_BYTES];
  static inline thread_local ZAVNVirtualTransmitterState transmitter;
  static inline const float motion[2][6] = {{0, 0, 1, 0, 0, 90}, {1, NAN, 0, INFINITY, 2, 3}};
  // The capture's file in the test's folder, one under it (which cannot be), a product string
  // longer than the 126 characters allowed, the virtual interface plugged last.
  static inline std::string capture, nowhere, tooLong = std::string(127, 'x');
  static inline std::atomic<int> lastId{0};

  static int Draw(int low, int high) { return std::uniform_int_distribution(low, high)(random); }
  static bool Chance(int percent) { return Draw(0, 99) < percent; }
  static std::int32_t Player() { return Draw(-1, 6); }
  static std::int32_t Value() { return Draw(-70000, 70000); }
  static std::int32_t Id() { return Draw(lastId - 30, lastId + 6); }
  static void Plugged(std::int32_t id) { lastId = id > 0 ? id : lastId.load(); }
  static std::uint32_t** Rows() {
    static thread_local std::uint32_t* rows[4];
    for (int k = 0; k < 4; ++k) rows[k] = k == 1 ? Maybe(rates[k]) : rates[k];
    return rows;
  }
  static const float* Floats() { return Maybe(motion[Chance(80) ? 0 : 1]); }
  static const char* Product() { return Chance(90) ? "NOLTADongle" : tooLong.c_str(); }
  template <typename T>
  static T* Maybe(T* pointer) {
    return Chance(10) ? nullptr : pointer;
  }
  // A table's entry, the terminating one included, as a host hands it over: in a 64-byte line,
  // zero-filled.
  template <std::size_t Rows, std::size_t Slot>
  static const char* Line(const char (&table)[Rows][Slot]) {
    std::memset(line, 0, sizeof line);
    std::memcpy(line, table[Draw(0, Rows - 1)], std::min(Slot, sizeof line));
    return line;
  }

  // Each exported function once, by name; the virtual clear, the game selection, the game clear
  // and the four lifecycle calls come last.
  struct Entry {
    const char* name;
    void (*call)();
  };
#define STRESS_CALL(function, ...) Entry(#function, [] { function(__VA_ARGS__); })
#define STRESS_PLUG(function, ...) Entry(#function, [] { Plugged(function(__VA_ARGS__)); })
  static std::span<const Entry> Calls() {
    static constexpr Entry kCalls[] = {
        STRESS_CALL(ZAVNGetStatus, Player(), Maybe(&status)),
        STRESS_CALL(ZAVNGetRxStatus, Player()),
        STRESS_CALL(ZAVNGetTxStatus, Player()),
        STRESS_CALL(ZAVNGetProductString, Player(), Maybe(bytes)),
        STRESS_CALL(ZAVNGetRawdataFPS, Draw(-1, 1), Maybe(Rows())),
        STRESS_CALL(ZAVNReadMotion, Player(), Maybe(samples), Draw(-1, ZAVN_MOTION_RING)),
        STRESS_CALL(ZAVNTimeUs),
        STRESS_CALL(ZAVNLoadMotionProfile, Chance(50) ? nullptr : "/nonexistent.ini", Maybe(text),
                    Draw(-1, ZAVN_IMAGE_LINE_BYTES)),
        STRESS_CALL(ZAVNSetMotionCalibration, Player(), Draw(-1, 3)),
        STRESS_CALL(ZAVNGetGyroBias, Player(), Maybe(bias)),
        STRESS_CALL(ZAVNTurnONJoystickAPILoop, static_cast<std::uint32_t>(Draw(0, 2))),
        STRESS_CALL(ZAVNInitGetRawDataCallBack, Chance(70) ? RawDataCallback : nullptr),
        STRESS_CALL(ZAVNInitGetFingerCallBack, Chance(50) ? NoCallback : nullptr),
        STRESS_CALL(ZAVNInitSendScrResolMSXYPosCallBack, Chance(50) ? NoCallback : nullptr),
        STRESS_CALL(ZAVNSwitchBrowser, Player(), Value()),
        STRESS_CALL(ZAVNSwitchKeyboard, Player(), Value()),
        STRESS_CALL(ZAVNSwitchMotionKey, Player(), Value()),
        STRESS_CALL(ZAVNSwitchRawdata, Player(), Value()),
        STRESS_CALL(ZAVNSwitchGameMode, Player(), Value()),
        STRESS_CALL(ZAVNSwitchGSensitivity, Player(), Value()),
        STRESS_CALL(ZAVNSendCMDToTx, Player(), Draw(-1, 3), Maybe(bytes)),
        STRESS_CALL(ZAVNAskSerialNumber, Player(), Draw(-1, 4), Maybe(bytes), Draw(0, 3)),
        STRESS_CALL(ZAVNReadWriteVersionNum, Player(), Draw(-1, 2), Maybe(bytes)),
        STRESS_CALL(ZAVNWriteAccountData, Player(), Value(), Value(), Maybe(bytes)),
        STRESS_CALL(ZAVNReadFWNumBootNum, Player(), Draw(-1, 6)),
        STRESS_CALL(ZAVNITOA, Draw(INT32_MIN, INT32_MAX), Maybe(text), Draw(-1, 40)),
        STRESS_CALL(ZAVNSetMotorAction, Player(), Maybe(bytes)),
        STRESS_CALL(ZAVNSelectPlayerNum, Player(), Value()),
        STRESS_CALL(ZAVNSwitchRFAntenna, Player(), Value()),
        STRESS_CALL(ZAVNSendAPIKeyboardMouse, Player(), Maybe(values)),
        STRESS_CALL(ZAVNSendAPINewKeyJoystick, Player(), Maybe(values)),
        STRESS_CALL(ZAVNSendScrResolMSXYPos, Player(), Value(), Value(), Value(), Value()),
        STRESS_CALL(ZAVNSendAppInfoToDongle, Player(), Value(), Value()),
        STRESS_CALL(ZAVNWriteVUKHex, Player(), Maybe(text), Maybe(Line(firmware::VUKImage))),
        STRESS_CALL(ZAVNGetVUKAppCheckSum),
        STRESS_CALL(ZAVNWriteHarlonHex, Player(), Maybe(text), Maybe(Line(firmware::HarlonImage))),
        STRESS_CALL(ZAVNBootLoaderFSM, Player(), kUpdateModes[Draw(0, 3)]),
        STRESS_CALL(ZAVNGetBootloaderStatus, Player()),
        STRESS_CALL(ZAVNFirmwareImagesArePlaceholders),
        STRESS_CALL(ZAVNCheckHarlonCHKAK, Player()),
        STRESS_CALL(ZAVNCheckVUKCHKAK, Player()),
        STRESS_CALL(ZAVNRoutineFunc),
        STRESS_CALL(ZAVNInit),
        STRESS_CALL(ZAVNSwitchHotplug, Draw(-1, 2)),
        STRESS_CALL(ZAVNStartCapture, Chance(80) ? capture.c_str() : Maybe(nowhere.c_str())),
        STRESS_CALL(ZAVNStopCapture),
        // Ids around the last plugged; the capture played back while it is written.
        STRESS_CALL(ZAVNVirtualSelect, Chance(90) ? 1 : Draw(-1, 2)),
        STRESS_PLUG(ZAVNVirtualPlug, Chance(50) ? 0xFFFF : Value(), Chance(50) ? 8 : Value(),
                    Chance(50) ? 32 : Draw(-1, 1025), Draw(-1, 1025), Maybe(Product())),
        STRESS_PLUG(ZAVNVirtualPlugReceiver, Draw(0, 5), Chance(50) ? 200 : Draw(-1, 1001)),
        STRESS_PLUG(ZAVNVirtualPlugReplay, Chance(80) ? capture.c_str() : Maybe(nowhere.c_str()),
                    Draw(-1, 300), Draw(0, 1), Maybe(text), Draw(-1, ZAVN_IMAGE_LINE_BYTES)),
        STRESS_CALL(ZAVNVirtualUnplug, Id()),
        STRESS_CALL(ZAVNVirtualReplug, Id()),
        STRESS_CALL(ZAVNVirtualQueueInput, Id(), Maybe(bytes), Chance(50) ? 32 : Draw(-1, 1025)),
        STRESS_CALL(ZAVNVirtualTakeOutput, Id(), Maybe(bytes), Draw(-1, sizeof bytes)),
        STRESS_CALL(ZAVNVirtualSetProduct, Id(), Maybe(Product())),
        STRESS_CALL(ZAVNVirtualSetFaults, Id(), Chance(80) ? 0 : Draw(-1, 64)),
        STRESS_CALL(ZAVNVirtualGetTransmitter, Id(), Maybe(&transmitter)),
        STRESS_CALL(ZAVNVirtualSetMotion, Id(), Floats(), Floats()),
        STRESS_CALL(ZAVNVirtualSetGyroBias, Id(), Floats()),
        STRESS_CALL(ZAVNVirtualSetSensorErrors, Id(), Floats(), Maybe(values)),
        STRESS_CALL(ZAVNVirtualOpenHandles),
        STRESS_CALL(ZAVNVirtualClear),
        STRESS_CALL(ZAVNSelectGameChannel, Chance(90) ? ZAVN_HOOK_GAME : Draw(-5, 300),
                    Maybe(values), Draw(-1, 5)),
        STRESS_CALL(ZAVNClearGameChannel),
        STRESS_CALL(ZAVNReset),
        STRESS_CALL(ZAVNTerminate, Draw(0, 1)),
        STRESS_CALL(ZAVNConnectRx),
        STRESS_CALL(ZAVNDisconnectRx, Player()),
    };
    return kCalls;
  }
  static inline const int kCallCount = static_cast<int>(Calls().size());
  static inline const int kVirtualClearCall = kCallCount - 7;
  static inline const int kSelectCall = kCallCount - 6;
  static inline const int kClearCall = kCallCount - 5;
  static inline const int kResetCall = kCallCount - 4;
  static inline const int kTerminateCall = kCallCount - 3;
  static inline const int kDisconnectCall = kCallCount - 1;
  // Most selections pick the plug-in HookGame, and game clears and disconnections are mostly
  // left out, so that the stream and the plug-in live between them. For the same reason the host
  // threads reset, terminate or clear the virtual receiver at most every quarter of a second
  // (after a reset a poll thread needs 20 cycles to assign the players).
  static inline std::atomic<std::int64_t> stopMs{0};
  static bool LeftOut(int k) {
    if (k != kResetCall && k != kTerminateCall && k != kVirtualClearCall) {
      return Draw(1, k == kClearCall ? 10 : k == kDisconnectCall ? 5 : 1) != 1;
    }
    using namespace std::chrono;
    const std::int64_t now =
        duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
    std::int64_t last = stopMs;
    return now - last < 250 || !stopMs.compare_exchange_strong(last, now);
  }
  static void Pick(int index) {
    Calls()[index].call();
  }

  // A host thread's call.
  static void Call() {
    const int k = Draw(0, kCallCount - 1);
    if (!LeftOut(k)) Pick(k);
  }

  // A call from inside a call out of the library: every `every` calls the next game or
  // lifecycle call in turn, any other call else.
  static void CallOut(Caller from, std::uint64_t every) {
    if (g_closing) return;
    const std::uint64_t n = ++g_callOuts[from];
    const int k =
        n % every == 0 ? kSelectCall + static_cast<int>(n / every % 6) : Draw(0, kResetCall - 1);
    if (n % every == 0 || !LeftOut(k)) Pick(k);
  }

  static void ZAVN_CALL RawDataCallback(int32_t, PlayerStatus*) {
    CallOut(kCallback, kCallbackLifecycleEvery);
  }
};

class StressTest : public LibraryTest {};

TEST_F(StressTest, EveryCallerCallsEverythingAndTheClosingCallsReleaseAll) {
  setenv("ZAVN_PLUGIN_LOG", "/dev/null", 1);  // the example plug-ins log every call: not here
  system_.AdvanceClockOnSleep();
  system_.RunFreely();
  const std::filesystem::path folder =
      std::filesystem::temp_directory_path() / ("zavn-stress-" + std::to_string(::getpid()));
  std::filesystem::create_directory(folder);
  Chaos::capture = (folder / "capture.pcapng").string();
  Chaos::nowhere = Chaos::capture + "/none.pcapng";
  // Counted before the library starts any thread, after one started and joined here: a
  // sanitizer starts a thread of its own with the process's first.
  std::thread([] {}).join();
  const int threadsBefore = ProcessThreads();
  ASSERT_GT(ZAVNVirtualPlugReceiver(4, 200), 0);
  Connect();

  const char* text = std::getenv("ZAVN_STRESS_SECONDS");
  const int seconds = text != nullptr && std::atoi(text) > 0 ? std::atoi(text) : 5;
  const auto start = std::chrono::steady_clock::now();
  const auto half = start + std::chrono::seconds(seconds) / 2;
  const auto end = start + std::chrono::seconds(seconds);
  std::uint64_t callbacksAtHalf = UINT64_MAX;  // taken by the first host thread
  std::vector<std::jthread> hosts;
  for (unsigned t = 0; t < 4; ++t) {
    hosts.emplace_back([&, t] {
      while (std::chrono::steady_clock::now() < end) {
        for (int k = 0; k < 64; ++k) Chaos::Call();
        if (t == 0 && callbacksAtHalf == UINT64_MAX && std::chrono::steady_clock::now() >= half) {
          callbacksAtHalf = g_callOuts[kCallback];
        }
      }
    });
  }
  hosts.clear();  // joins them

  g_closing = true;
  ZAVNInitGetRawDataCallBack(nullptr);
  ZAVNTerminate(0);
  for (std::int32_t p = 1; p <= 4; ++p) ZAVNDisconnectRx(p);
  ZAVNStopCapture();
  std::filesystem::remove_all(folder);
  ResetStaleBaseline();  // a virtual clear leaves open handles dead: their uses are stale

  EXPECT_EQ(ZAVNVirtualOpenHandles(), 0);
  EXPECT_TRUE(system_.ThreadEnded());
  EXPECT_EQ(ProcessThreads(), threadsBefore);  // the poll thread, the writer's, the capture's
  EXPECT_FALSE(games::PluginLoaded());
  // Not vacuous: both call-outs made each of the six game and lifecycle calls, and the stream
  // went on in the run's second half.
  EXPECT_GE(g_callOuts[kCallback], 6 * kCallbackLifecycleEvery);
  EXPECT_GE(g_callOuts[kPlugin], 6 * kPluginLifecycleEvery);
  EXPECT_GT(g_callOuts[kCallback], callbacksAtHalf);
}

// The walk names each function of the export table once: a function exported later without a
// call there fails here.
TEST(StressWalkTest, CallsEveryExportOnce) {
  std::ifstream table(ZAVN_SOURCE_DIR "/src/core/ZAVN_Main.def");
  std::string word;
  while (table >> word && word != "EXPORTS") {
  }
  std::vector<std::string> exports(std::istream_iterator<std::string>(table), {}), walked;
  for (const Chaos::Entry& call : Chaos::Calls()) walked.emplace_back(call.name);
  std::ranges::sort(exports);
  std::ranges::sort(walked);
  EXPECT_EQ(walked, exports) << "the walk against " ZAVN_SOURCE_DIR "/src/core/ZAVN_Main.def";
}

}  // namespace
}  // namespace zavn::testing

// The plug-in HookGame's calls. A termination from inside the plug-in says goodbye to it again
// from within: only the outermost call on a thread calls out.
extern "C" ZAVN_PLUGIN_EXPORT int32_t ZAVN_CALL ZAVNTestPluginHook(int32_t, const int32_t*,
                                                                   PlayerStatus*, int32_t,
                                                                   const int32_t*, int32_t) {
  static thread_local int depth = 0;
  if (++depth == 1) {
    using namespace zavn::testing;
    Chaos::CallOut(zavn::core::OnPollThread() ? kPlugin : kGoodbye, kPluginLifecycleEvery);
  }
  --depth;
  return 0;
}
