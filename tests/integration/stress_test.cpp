// Four host threads call every exported function, with valid and invalid arguments, while four
// virtual transmitters stream; then one host snapshots a quiet stream and must see every sample
// exactly once. The run lasts ZAVN_STRESS_SECONDS (20 by default); the sanitizer builds run it too.
#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
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
constexpr int kHostThreads = 4;
constexpr int kDefaultSeconds = 20;

int StressSeconds() {
  const char* text = std::getenv("ZAVN_STRESS_SECONDS");
  const int seconds = text != nullptr ? std::atoi(text) : 0;
  return seconds > 0 ? seconds : kDefaultSeconds;
}

std::atomic<std::uint32_t> g_callbacks{0};
void ZAVN_CALL CountingCallback(int32_t kind, PlayerStatus* status) {
  if (kind == 1 && status != nullptr && status->Motion[0] >= 0) ++g_callbacks;
}
void ZAVN_CALL NoCallback() {}

// One host thread: a random walk over the whole API. Arguments are drawn from ranges that
// include every invalid value a careless host might pass.
class ChaosHost {
 public:
  explicit ChaosHost(unsigned seed) : random_(seed), status_(std::make_unique<PlayerStatus>()) {}

  void Call() {
    const auto& call = Calls()[Draw(0, static_cast<int>(Calls().size()) - 1)];
    call(*this);
  }

 private:
  using Action = std::function<void(ChaosHost&)>;

  int Draw(int low, int high) { return std::uniform_int_distribution<int>(low, high)(random_); }
  bool Chance(int percent) { return Draw(0, 99) < percent; }
  std::int32_t Player() { return Draw(-1, 6); }
  std::int32_t Byte() { return Draw(-300, 300); }
  template <typename T>
  T* MaybeNull(T* pointer) {
    return Chance(10) ? nullptr : pointer;
  }
  // A real image line, or the same with some characters scrambled (perhaps its NUL).
  const char* Line(const char* real, std::size_t slot) {
    std::memset(line_, 0, sizeof line_);
    std::memcpy(line_, real, std::min(slot, sizeof line_));
    if (Chance(50)) {
      for (int k = Draw(1, 8); k > 0; --k) line_[Draw(0, sizeof line_ - 1)] = char(Draw(0, 255));
    }
    return line_;
  }

  static const std::vector<Action>& Calls() {
    static const std::vector<Action> calls = {
        [](ChaosHost& h) { ZAVNGetStatus(h.Player(), h.MaybeNull(h.status_.get())); },
        [](ChaosHost& h) {
          ZAVNGetRxStatus(h.Player());
          ZAVNGetTxStatus(h.Player());
        },
        [](ChaosHost& h) { ZAVNGetProductString(h.Player(), h.MaybeNull(h.bytes_)); },
        [](ChaosHost& h) {
          std::uint32_t rates[4][4];
          std::uint32_t* rows[4] = {rates[0], h.MaybeNull(rates[1]), rates[2], rates[3]};
          ZAVNGetRawdataFPS(h.Draw(-1, 1), h.MaybeNull(rows));
        },
        [](ChaosHost& h) { ZAVNTurnONJoystickAPILoop(static_cast<std::uint32_t>(h.Draw(0, 2))); },
        [](ChaosHost& h) { ZAVNInitGetRawDataCallBack(h.Chance(70) ? CountingCallback : nullptr); },
        [](ChaosHost& h) {
          ZAVNInitGetFingerCallBack(h.Chance(50) ? NoCallback : nullptr);
          ZAVNInitSendScrResolMSXYPosCallBack(h.Chance(50) ? NoCallback : nullptr);
        },
        [](ChaosHost& h) {
          using Switch = int32_t(ZAVN_CALL*)(int32_t, int32_t);
          constexpr Switch kSwitches[] = {ZAVNSwitchBrowser,   ZAVNSwitchKeyboard,
                                          ZAVNSwitchMotionKey, ZAVNSwitchRawdata,
                                          ZAVNSwitchGameMode,  ZAVNSwitchGSensitivity};
          kSwitches[h.Draw(0, 5)](h.Player(), h.Byte());
        },
        [](ChaosHost& h) { ZAVNSendCMDToTx(h.Player(), h.Draw(-1, 3), h.MaybeNull(h.bytes_)); },
        [](ChaosHost& h) {
          ZAVNAskSerialNumber(h.Player(), h.Draw(-1, 4), h.MaybeNull(h.bytes_), h.Draw(0, 3));
        },
        [](ChaosHost& h) {
          ZAVNReadWriteVersionNum(h.Player(), h.Draw(-1, 2), h.MaybeNull(h.bytes_));
        },
        [](ChaosHost& h) {
          ZAVNWriteAccountData(h.Player(), h.Byte(), h.Byte(), h.MaybeNull(h.bytes_));
        },
        [](ChaosHost& h) { ZAVNReadFWNumBootNum(h.Player(), h.Draw(-1, 6)); },
        [](ChaosHost& h) {
          char text[33];
          ZAVNITOA(h.Draw(INT32_MIN, INT32_MAX), h.MaybeNull(text), h.Draw(-1, 40));
        },
        [](ChaosHost& h) { ZAVNSetMotorAction(h.Player(), h.MaybeNull(h.bytes_)); },
        [](ChaosHost& h) { ZAVNSelectPlayerNum(h.Player(), h.Byte()); },
        [](ChaosHost& h) { ZAVNSwitchRFAntenna(h.Player(), h.Byte()); },
        [](ChaosHost& h) { ZAVNSendAPIKeyboardMouse(h.Player(), h.MaybeNull(h.values_)); },
        [](ChaosHost& h) { ZAVNSendAPINewKeyJoystick(h.Player(), h.MaybeNull(h.values_)); },
        [](ChaosHost& h) {
          ZAVNSendScrResolMSXYPos(h.Player(), h.Draw(-70000, 70000), h.Draw(-70000, 70000),
                                  h.Draw(-70000, 70000), h.Draw(-70000, 70000));
        },
        [](ChaosHost& h) { ZAVNSendAppInfoToDongle(h.Player(), h.Byte(), h.Byte()); },
        [](ChaosHost& h) {
          ZAVNSelectGameChannel(h.Draw(-5, 300), h.MaybeNull(h.values_), h.Draw(-1, 5));
        },
        [](ChaosHost&) { ZAVNClearGameChannel(); },
        [](ChaosHost& h) {
          const char* line =
              h.Line(firmware::VUKImage[h.Draw(0, firmware::kVUKLines)], firmware::kVUKLineSlot);
          ZAVNWriteVUKHex(h.Player(), h.MaybeNull(h.scratch_), h.MaybeNull(line));
          ZAVNGetVUKAppCheckSum();
        },
        [](ChaosHost& h) {
          const char* row = h.Line(firmware::HarlonImage[h.Draw(0, firmware::kHarlonRows)],
                                   firmware::kHarlonRowSlot);
          ZAVNWriteHarlonHex(h.Player(), h.MaybeNull(h.scratch_), h.MaybeNull(row));
        },
        [](ChaosHost& h) {
          constexpr std::int32_t kModes[] = {0, ZAVN_UPDATE_RUN, ZAVN_UPDATE_RESET, 7};
          ZAVNBootLoaderFSM(h.Player(), kModes[h.Draw(0, 3)]);
        },
        [](ChaosHost& h) {
          ZAVNGetBootloaderStatus(h.Player());
          ZAVNCheckHarlonCHKAK(h.Player());
          ZAVNCheckVUKCHKAK(h.Player());
        },
        [](ChaosHost& h) { ZAVNDisconnectRx(h.Player()); },
        [](ChaosHost&) {
          ZAVNConnectRx();
          ZAVNRoutineFunc();
        },
        [](ChaosHost& h) {
          if (h.Chance(10)) ZAVNReset();
        },
        [](ChaosHost& h) {
          if (h.Chance(10)) ZAVNTerminate(h.Draw(0, 1));
        },
        [](ChaosHost&) { ZAVNInit(); },
    };
    return calls;
  }

  std::mt19937 random_;
  std::unique_ptr<PlayerStatus> status_;
  std::uint8_t bytes_[ZAVN_PRODUCT_STRING_BYTES] = {1, 2, 3, 4, 5, 6, 7, 8, 9};
  std::int32_t values_[15] = {1, 0, 2, 0, 3, 0, 4, 0, 5, 0, 6, 0, 7, 0, 8};
  char line_[ZAVN_IMAGE_LINE_BYTES] = {};
  char scratch_[ZAVN_IMAGE_LINE_BYTES] = {};
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

class StressTest : public LibraryTest {
 protected:
  // Connects a fresh receiver of four streaming transmitters, steps the poll thread until every
  // slot has a player number, and empties the histories.
  void ConnectQuietStream() {
    system_.StepFromNowOn();
    ASSERT_GT(ZAVNVirtualPlugReceiver(kTransmitters, kRateHz), 0);
    ZAVNConnectRx();
    ZAVNRoutineFunc();
    auto assigned = [] {
      for (auto& slot : core::Players().playerSlot) {
        if (slot == 0) return false;
      }
      return true;
    };
    for (int k = 0; k < 200 && !assigned(); ++k) ASSERT_TRUE(system_.Step());
    ASSERT_TRUE(assigned());
    auto status = std::make_unique<PlayerStatus>();
    for (std::int32_t p = 1; p <= 4; ++p) ZAVNGetStatus(p, status.get());
  }
};

TEST_F(StressTest, HostThreadsCallEverythingThenAQuietStreamArrivesWhole) {
  // The example plug-ins that game selection loads log every call: not here.
  setenv("ZAVN_PLUGIN_LOG", "/dev/null", 1);
  system_.AdvanceClockOnSleep();
  system_.RunFreely();
  ASSERT_GT(ZAVNVirtualPlugReceiver(kTransmitters, kRateHz), 0);
  ZAVNInit();
  ZAVNReset();
  ZAVNConnectRx();
  ZAVNRoutineFunc();

  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(StressSeconds());
  std::atomic<std::uint64_t> calls{0};
  std::vector<std::thread> hosts;
  for (int t = 0; t < kHostThreads; ++t) {
    hosts.emplace_back([&, t] {
      ChaosHost host(1000u + static_cast<unsigned>(t));
      std::uint64_t made = 0;
      while (std::chrono::steady_clock::now() < end) {
        for (int k = 0; k < 64; ++k) host.Call();
        made += 64;
      }
      calls += made;
    });
  }
  for (auto& host : hosts) host.join();
  std::printf("%llu calls from %d host threads in %d s; %u raw-data callbacks\n",
              static_cast<unsigned long long>(calls.load()), kHostThreads, StressSeconds(),
              g_callbacks.load());

  // Whatever state the calls left, the host's closing sequence releases everything.
  ZAVNInitGetRawDataCallBack(nullptr);
  ZAVNTerminate(0);
  for (std::int32_t p = 1; p <= 4; ++p) ZAVNDisconnectRx(p);
  EXPECT_EQ(ZAVNVirtualOpenHandles(), 0);
  EXPECT_TRUE(system_.ThreadEnded());

  // Then, on a fresh receiver: a host snapshotting all four players while the poll thread
  // decodes gets each player's stream whole, without a gap or a repeat.
  ZAVNReset();
  ZAVNVirtualClear();
  ConnectQuietStream();
  if (HasFatalFailure()) return;

  std::array<std::vector<Sample>, 4> received;
  auto collect = [&received](PlayerStatus& status) {
    for (std::int32_t p = 1; p <= 4; ++p) {
      ZAVNGetStatus(p, &status);
      for (std::int32_t k = 0; k < status.MotionCount; ++k) {
        Sample sample;
        for (int c = 0; c < ZAVN_MOTION_CHANNELS; ++c) sample[c] = status.MotionHistory[c][k];
        received[p - 1].push_back(sample);
      }
    }
  };
  auto status = std::make_unique<PlayerStatus>();
  HostThread host([&] { collect(*status); });

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
  collect(*status);

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
