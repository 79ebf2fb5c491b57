// Four host threads call every exported function, with valid and invalid arguments, while four
// virtual transmitters stream; then one host snapshots a fresh stream and must see every sample
// exactly once. The run lasts ZAVN_STRESS_SECONDS (20 by default); the sanitizer builds run it too.
#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <random>
#include <thread>
#include <vector>

#include "core/player_assignment.h"
#include "firmware/images.h"
#include "platform/virtual/virtual_transmitter.h"
#include "support/host_thread.h"
#include "support/library_fixture.h"
#include "zavn/zavn_commands.h"
#include "zavn/zavn_firmware.h"

namespace zavn::testing {
namespace {

constexpr int kTransmitters = 4;
constexpr int kRateHz = 200;
constexpr unsigned kHostThreads = 4;
constexpr std::int32_t kUpdateModes[] = {0, ZAVN_UPDATE_RUN, ZAVN_UPDATE_RESET, 7};

std::atomic<std::int32_t> g_lastMotion{0};
void ZAVN_CALL ReadingCallback(int32_t kind, PlayerStatus* status) {
  if (kind == 1 && status != nullptr) g_lastMotion = status->Motion[0];
}
void ZAVN_CALL NoCallback() {}

// A host thread's random walk over the whole API, each thread with its own generator and
// buffers. Arguments are drawn from ranges that include every invalid value a careless host
// might pass.
struct Chaos {
  static inline thread_local std::mt19937 random;
  static inline thread_local PlayerStatus status;
  static inline thread_local std::uint8_t bytes[ZAVN_PRODUCT_STRING_BYTES] = {1, 2, 3, 4, 5,
                                                                              6, 7, 8, 9};
  static inline thread_local std::int32_t values[15] = {1, 0, 2, 0, 3, 0, 4, 0,
                                                        5, 0, 6, 0, 7, 0, 8};
  static inline thread_local char text[33];
  static inline thread_local std::uint32_t rates[4][4];
  static inline thread_local char line[ZAVN_IMAGE_LINE_BYTES];
  static inline thread_local char scratch[ZAVN_IMAGE_LINE_BYTES];

  static int Draw(int low, int high) { return std::uniform_int_distribution(low, high)(random); }
  static bool Chance(int percent) { return Draw(0, 99) < percent; }
  static std::int32_t Player() { return Draw(-1, 6); }
  static std::int32_t Value() { return Draw(-300, 300); }
  static std::int32_t Pixel() { return Draw(-70000, 70000); }
  template <typename T>
  static T* Maybe(T* pointer) {  // now and then null
    return Chance(10) ? nullptr : pointer;
  }
  // A real image line, or the same with some characters scrambled (perhaps its NUL).
  static const char* Line(const char* real, std::size_t slot) {
    std::memset(line, 0, sizeof line);
    std::memcpy(line, real, std::min(slot, sizeof line));
    if (Chance(50)) {
      for (int k = Draw(1, 8); k > 0; --k) line[Draw(0, sizeof line - 1)] = char(Draw(0, 255));
    }
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
        [] { ZAVNSendScrResolMSXYPos(Player(), Pixel(), Pixel(), Pixel(), Pixel()); },
        [] { ZAVNSendAppInfoToDongle(Player(), Value(), Value()); },
        [] { ZAVNSelectGameChannel(Draw(-5, 300), Maybe(values), Draw(-1, 5)); },
        [] { ZAVNClearGameChannel(); },
        [] {
          const int k = Draw(0, firmware::kVUKLines);
          ZAVNWriteVUKHex(Player(), Maybe(scratch),
                          Maybe(Line(firmware::VUKImage[k], firmware::kVUKLineSlot)));
        },
        [] { ZAVNGetVUKAppCheckSum(); },
        [] {
          const int k = Draw(0, firmware::kHarlonRows);
          ZAVNWriteHarlonHex(Player(), Maybe(scratch),
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

// The six motion values of one sample, in channel order.
using Sample = std::array<std::int32_t, ZAVN_MOTION_CHANNELS>;

Sample StreamedSample(int player, std::uint64_t n) {
  constexpr int kChannelAt[ZAVN_MOTION_CHANNELS] = {0, 1, 2, 5, 4, 3};
  platform::virt::VirtualTransmitter::Report report;
  platform::virt::VirtualTransmitter::BuildMotionReport(player, n, kRateHz, report);
  Sample sample{};
  for (int k = 0; k < ZAVN_MOTION_CHANNELS; ++k) {
    sample[kChannelAt[k]] = report[4 + 2 * k] << 8 | report[5 + 2 * k];
  }
  return sample;
}

class StressTest : public LibraryTest {};

TEST_F(StressTest, HostThreadsCallEverythingThenAFreshStreamArrivesWhole) {
  setenv("ZAVN_PLUGIN_LOG", "/dev/null", 1);  // the example plug-ins log every call: not here
  system_.AdvanceClockOnSleep();
  system_.RunFreely();
  ASSERT_GT(ZAVNVirtualPlugReceiver(kTransmitters, kRateHz), 0);
  ZAVNInit();
  ZAVNReset();
  ZAVNConnectRx();
  ZAVNRoutineFunc();

  const char* text = std::getenv("ZAVN_STRESS_SECONDS");
  const int seconds = text != nullptr && std::atoi(text) > 0 ? std::atoi(text) : 20;
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
  std::vector<std::thread> hosts;
  for (unsigned t = 0; t < kHostThreads; ++t) {
    hosts.emplace_back([end, t] {
      Chaos::random.seed(1000 + t);
      while (std::chrono::steady_clock::now() < end) {
        for (int k = 0; k < 64; ++k) Chaos::Call();
      }
    });
  }
  for (auto& host : hosts) host.join();

  // Whatever state the calls left, the host's closing sequence releases everything.
  ZAVNInitGetRawDataCallBack(nullptr);
  ZAVNTerminate(0);
  for (std::int32_t p = 1; p <= 4; ++p) ZAVNDisconnectRx(p);
  EXPECT_EQ(ZAVNVirtualOpenHandles(), 0);
  EXPECT_TRUE(system_.ThreadEnded());

  // Then, on a fresh receiver stepped until every slot has a player number: a host snapshotting
  // all four players while the poll thread decodes gets each stream without a gap or a repeat.
  ZAVNReset();
  ZAVNVirtualClear();
  system_.StepFromNowOn();
  ASSERT_GT(ZAVNVirtualPlugReceiver(kTransmitters, kRateHz), 0);
  ZAVNConnectRx();
  ZAVNRoutineFunc();
  const auto& slots = core::Players().playerSlot;
  auto assigned = [&] {
    return std::find(std::begin(slots), std::end(slots), 0) == std::end(slots);
  };
  for (int k = 0; k < 200 && !assigned(); ++k) ASSERT_TRUE(system_.Step());
  ASSERT_TRUE(assigned());

  auto status = std::make_unique<PlayerStatus>();
  for (std::int32_t p = 1; p <= 4; ++p) ZAVNGetStatus(p, status.get());  // empties the histories
  std::array<std::vector<Sample>, 4> received;
  auto collect = [&] {
    for (std::int32_t p = 1; p <= 4; ++p) {
      ZAVNGetStatus(p, status.get());
      for (std::int32_t k = 0; k < status->MotionCount; ++k) {
        Sample sample;
        for (int c = 0; c < ZAVN_MOTION_CHANNELS; ++c) sample[c] = status->MotionHistory[c][k];
        received[p - 1].push_back(sample);
      }
    }
  };
  HostThread host(collect);

  // 2 samples per cycle: waiting for a fresh round of snapshots every 100 cycles keeps each
  // history well below its 1024 samples, however the host thread is scheduled.
  constexpr int kCycles = 1000, kCyclesBetweenWaits = 100;
  static_assert(kCyclesBetweenWaits * kRateHz / 100 < ZAVN_HISTORY_LENGTH);
  for (int cycle = 0; cycle < kCycles; ++cycle) {
    if (cycle % kCyclesBetweenWaits == 0) {
      ASSERT_TRUE(host.AwaitFreshRound());
    }
    ASSERT_TRUE(system_.Step());
  }
  host.Stop();
  collect();

  for (int p = 0; p < 4; ++p) {
    const std::vector<Sample>& samples = received[p];
    ASSERT_GE(samples.size(), std::size_t{kCycles * kRateHz / 100 - 4}) << "player " << p + 1;
    // Where the stream stood when the snapshots began; from there on, every sample in order.
    std::uint64_t first = 0;
    while (first < 10'000 && StreamedSample(p, first) != samples[0]) ++first;
    ASSERT_LT(first, 10'000u) << "player " << p + 1 << " got samples it was never sent";
    for (std::size_t k = 0; k < samples.size(); ++k) {
      ASSERT_EQ(samples[k], StreamedSample(p, first + k)) << "player " << p + 1 << ", " << k;
    }
  }
}

}  // namespace
}  // namespace zavn::testing
