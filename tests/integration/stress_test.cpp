// Four host threads call every exported function, with valid and invalid arguments, while four
// virtual transmitters stream; afterwards the host's closing calls must release everything. The
// run lasts ZAVN_STRESS_SECONDS (20 by default); the sanitizer builds run it too.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <random>
#include <thread>
#include <vector>

#include "firmware/images.h"
#include "support/library_fixture.h"
#include "zavn/zavn_commands.h"
#include "zavn/zavn_firmware.h"

namespace zavn::testing {
namespace {

constexpr std::int32_t kUpdateModes[] = {0, ZAVN_UPDATE_RUN, ZAVN_UPDATE_RESET, 7};

std::atomic<std::int32_t> g_lastMotion{0};
void ZAVN_CALL ReadingCallback(int32_t kind, PlayerStatus* status) {
  if (kind == 1 && status != nullptr) g_lastMotion = status->Motion[0];
}
void ZAVN_CALL NoCallback() {}

// A host thread's random walk over the whole API, each thread with its own generator and
// buffers; player numbers and values include the invalid ones, pointers are now and then null.
struct Chaos {
  static inline thread_local std::mt19937 random;
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
  // An image table entry as a host hands it over: in a 64-byte line, zero-filled.
  static const char* Line(const char* entry, std::size_t slot) {
    std::memset(line, 0, sizeof line);
    std::memcpy(line, entry, std::min(slot, sizeof line));
    return line;
  }
  static void Call() {
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
        [] { ZAVNInitGetRawDataCallBack(Chance(70) ? ReadingCallback : nullptr); },
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
        [] { ZAVNSelectGameChannel(Draw(-5, 300), Maybe(values), Draw(-1, 5)); },
        [] { ZAVNClearGameChannel(); },
        [] {
          const int k = Draw(0, firmware::kVUKLines);
          ZAVNWriteVUKHex(Player(), Maybe(text),
                          Maybe(Line(firmware::VUKImage[k], firmware::kVUKLineSlot)));
        },
        [] { ZAVNGetVUKAppCheckSum(); },
        [] {
          const int k = Draw(0, firmware::kHarlonRows);
          ZAVNWriteHarlonHex(Player(), Maybe(text),
                             Maybe(Line(firmware::HarlonImage[k], firmware::kHarlonRowSlot)));
        },
        [] { ZAVNBootLoaderFSM(Player(), kUpdateModes[Draw(0, 3)]); },
        [] { ZAVNGetBootloaderStatus(Player()); },
        [] { ZAVNCheckHarlonCHKAK(Player()); },
        [] { ZAVNCheckVUKCHKAK(Player()); },
        [] { ZAVNDisconnectRx(Player()); },
        [] { ZAVNConnectRx(); },
        [] { ZAVNRoutineFunc(); },
        [] {
          if (Chance(10)) ZAVNReset();
        },
        [] {
          if (Chance(10)) ZAVNTerminate(Draw(0, 1));
        },
        [] { ZAVNInit(); },
    };
    kCalls[Draw(0, static_cast<int>(std::size(kCalls)) - 1)]();
  }
};

class StressTest : public LibraryTest {};

TEST_F(StressTest, HostThreadsCallEverythingAndTheClosingCallsReleaseAll) {
  setenv("ZAVN_PLUGIN_LOG", "/dev/null", 1);  // the example plug-ins log every call: not here
  system_.AdvanceClockOnSleep();
  system_.RunFreely();
  ASSERT_GT(ZAVNVirtualPlugReceiver(4, 200), 0);
  ZAVNInit();
  ZAVNReset();
  ZAVNConnectRx();
  ZAVNRoutineFunc();

  const char* text = std::getenv("ZAVN_STRESS_SECONDS");
  const int seconds = text != nullptr && std::atoi(text) > 0 ? std::atoi(text) : 20;
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
  std::vector<std::thread> hosts;
  for (unsigned t = 0; t < 4; ++t) {
    hosts.emplace_back([end, t] {
      Chaos::random.seed(1000 + t);
      while (std::chrono::steady_clock::now() < end) {
        for (int k = 0; k < 64; ++k) Chaos::Call();
      }
    });
  }
  for (auto& host : hosts) host.join();

  ZAVNInitGetRawDataCallBack(nullptr);
  ZAVNTerminate(0);
  for (std::int32_t p = 1; p <= 4; ++p) ZAVNDisconnectRx(p);
  EXPECT_EQ(ZAVNVirtualOpenHandles(), 0);
  EXPECT_TRUE(system_.ThreadEnded());
}

}  // namespace
}  // namespace zavn::testing
