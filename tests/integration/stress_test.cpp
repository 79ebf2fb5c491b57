// Four host threads call every exported function, with valid and invalid arguments, while four
// virtual transmitters stream; the raw-data callback and a game plug-in do the same from inside
// the library's calls to them, now and then changing the game, resetting, terminating or
// reconnecting from there. Afterwards the host's closing calls must release everything. What no
// other test has: these calls racing each other (the race, unload, hotplug and callback lifecycle
// tests each race one kind of call with the poll thread). The run lasts ZAVN_STRESS_SECONDS (5 by
// default); a hang runs into the test's time-out.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <random>
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
  static inline thread_local std::uint8_t bytes[ZAVN_PRODUCT_STRING_BYTES] = {1, 2, 3, 4, 5,
                                                                              6, 7, 8, 9};
  static inline thread_local std::int32_t values[15] = {1, 0, 2, 0, 3, 0, 4, 0,
                                                        5, 0, 6, 0, 7, 0, 8};
  static inline thread_local char text[ZAVN_IMAGE_LINE_BYTES];
  static inline thread_local std::uint32_t rates[4][4];
  static inline thread_local char line[ZAVN_IMAGE_LINE_BYTES];

  static int Draw(int low, int high) { return std::uniform_int_distribution(low, high)(random); }
  static bool Chance(int percent) { return Draw(0, 99) < percent; }
  static std::int32_t Player() { return Draw(-1, 6); }
  static std::int32_t Value() { return Draw(-70000, 70000); }
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

  // The game selection, the game clear and the four lifecycle calls come last.
  static constexpr int kCallCount = 43;
  static constexpr int kSelectCall = kCallCount - 6;
  static constexpr int kClearCall = kCallCount - 5;
  static constexpr int kResetCall = kCallCount - 4;
  static constexpr int kTerminateCall = kCallCount - 3;
  static constexpr int kDisconnectCall = kCallCount - 1;
  // Most selections pick the plug-in HookGame, and game clears and disconnections are mostly
  // left out, so that the stream and the plug-in live between them. For the same reason the host
  // threads reset or terminate at most every quarter of a second (after a reset a poll thread
  // needs 20 cycles to assign the players).
  static inline std::atomic<std::int64_t> stopMs{0};
  static bool LeftOut(int k) {
    if (k != kResetCall && k != kTerminateCall) {
      return Draw(1, k == kClearCall ? 10 : k == kDisconnectCall ? 5 : 1) != 1;
    }
    using namespace std::chrono;
    const std::int64_t now =
        duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
    std::int64_t last = stopMs;
    return now - last < 250 || !stopMs.compare_exchange_strong(last, now);
  }
  static void Pick(int index) {
    static constexpr void (*kCalls[])() = {
        [] { ZAVNGetStatus(Player(), Maybe(&status)); },
        [] { ZAVNGetRxStatus(Player()); },
        [] { ZAVNGetTxStatus(Player()); },
        [] { ZAVNGetProductString(Player(), Maybe(bytes)); },
        [] {
          std::uint32_t* rows[4] = {rates[0], Maybe(rates[1]), rates[2], rates[3]};
          ZAVNGetRawdataFPS(Draw(-1, 1), Maybe(rows));
        },
        [] { ZAVNTurnONJoystickAPILoop(static_cast<std::uint32_t>(Draw(0, 2))); },
        [] { ZAVNInitGetRawDataCallBack(Chance(70) ? RawDataCallback : nullptr); },
        [] { ZAVNInitGetFingerCallBack(Chance(50) ? NoCallback : nullptr); },
        [] { ZAVNInitSendScrResolMSXYPosCallBack(Chance(50) ? NoCallback : nullptr); },
        [] { ZAVNSwitchBrowser(Player(), Value()); },
        [] { ZAVNSwitchKeyboard(Player(), Value()); },
        [] { ZAVNSwitchMotionKey(Player(), Value()); },
        [] { ZAVNSwitchRawdata(Player(), Value()); },
        [] { ZAVNSwitchGameMode(Player(), Value()); },
        [] { ZAVNSwitchGSensitivity(Player(), Value()); },
        [] { ZAVNSendCMDToTx(Player(), Draw(-1, 3), Maybe(bytes)); },
        [] { ZAVNAskSerialNumber(Player(), Draw(-1, 4), Maybe(bytes), Draw(0, 3)); },
        [] { ZAVNReadWriteVersionNum(Player(), Draw(-1, 2), Maybe(bytes)); },
        [] { ZAVNWriteAccountData(Player(), Value(), Value(), Maybe(bytes)); },
        [] { ZAVNReadFWNumBootNum(Player(), Draw(-1, 6)); },
        [] { ZAVNITOA(Draw(INT32_MIN, INT32_MAX), Maybe(text), Draw(-1, 40)); },
        [] { ZAVNSetMotorAction(Player(), Maybe(bytes)); },
        [] { ZAVNSelectPlayerNum(Player(), Value()); },
        [] { ZAVNSwitchRFAntenna(Player(), Value()); },
        [] { ZAVNSendAPIKeyboardMouse(Player(), Maybe(values)); },
        [] { ZAVNSendAPINewKeyJoystick(Player(), Maybe(values)); },
        [] { ZAVNSendScrResolMSXYPos(Player(), Value(), Value(), Value(), Value()); },
        [] { ZAVNSendAppInfoToDongle(Player(), Value(), Value()); },
        [] { ZAVNWriteVUKHex(Player(), Maybe(text), Maybe(Line(firmware::VUKImage))); },
        [] { ZAVNGetVUKAppCheckSum(); },
        [] { ZAVNWriteHarlonHex(Player(), Maybe(text), Maybe(Line(firmware::HarlonImage))); },
        [] { ZAVNBootLoaderFSM(Player(), kUpdateModes[Draw(0, 3)]); },
        [] { ZAVNGetBootloaderStatus(Player()); },
        [] { ZAVNCheckHarlonCHKAK(Player()); },
        [] { ZAVNCheckVUKCHKAK(Player()); },
        [] { ZAVNRoutineFunc(); },
        [] { ZAVNInit(); },
        [] {
          ZAVNSelectGameChannel(Chance(90) ? ZAVN_HOOK_GAME : Draw(-5, 300), Maybe(values),
                                Draw(-1, 5));
        },
        [] { ZAVNClearGameChannel(); },
        [] { ZAVNReset(); },
        [] { ZAVNTerminate(Draw(0, 1)); },
        [] { ZAVNConnectRx(); },
        [] { ZAVNDisconnectRx(Player()); },
    };
    static_assert(std::size(kCalls) == kCallCount);
    kCalls[index]();
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
  ASSERT_GT(ZAVNVirtualPlugReceiver(4, 200), 0);
  Connect();
  // Counted with the poll thread running: a sanitizer may start a thread of its own with it.
  const int threadsWithPollThread = ProcessThreads();

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

  EXPECT_EQ(ZAVNVirtualOpenHandles(), 0);
  EXPECT_TRUE(system_.ThreadEnded());
  EXPECT_EQ(ProcessThreads(), threadsWithPollThread - 1);
  EXPECT_FALSE(games::PluginLoaded());
  // Not vacuous: both call-outs made each of the six game and lifecycle calls, and the stream
  // went on in the run's second half.
  EXPECT_GE(g_callOuts[kCallback], 6 * kCallbackLifecycleEvery);
  EXPECT_GE(g_callOuts[kPlugin], 6 * kPluginLifecycleEvery);
  EXPECT_GT(g_callOuts[kCallback], callbacksAtHalf);
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
