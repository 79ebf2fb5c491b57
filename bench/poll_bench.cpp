// The poll thread on the OS clock and the virtual receiver: its CPU time per second with four
// slots silent, with four transmitters streaming, and at 1000 records/s each with and without the
// motion work, the heap allocations made while they stream, the latency from a report queued on the
// receiver to the raw-data callback, and a whole firmware update of one receiver while the other
// players stream.
#include <algorithm>
#include <chrono>
#include <cmath>
#include <memory>
#include <random>
#include <thread>
#include <vector>

#include <pthread.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include "bench_support.h"
#include "core/poll_thread.h"
#include "core/run_state.h"
#include "input/motion.h"
#include "input/status_records.h"
#include "platform/capture/capture_format.h"
#include "platform/virtual/virtual_receiver.h"
#include "zavn/zavn.h"
#include "zavn/zavn_firmware.h"
#include "zavn/zavn_virtual.h"

namespace zavn::bench {
namespace {

constexpr int kSlots = 4;
constexpr std::int32_t kStreamRateHz = 200;
constexpr std::int32_t kVendor = platform::virt::kReceiverVendor;
constexpr std::int32_t kProduct = platform::virt::kReceiverProduct;
constexpr std::int32_t kReportLength = platform::virt::kStreamReportLength;
constexpr std::int32_t kOutputLength = platform::virt::kDataOutputLength;
// Until the players are numbered (80 passes) and the time-outs of silent slots have settled.
constexpr double kWarmUpSeconds = 1.0;
constexpr double kSmokeWarmUpSeconds = 0.5;
// Below this share of the due records the stream counts as not decoded.
constexpr double kMinStreamShare = 0.9;

void SleepSeconds(double seconds) {
  std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
}

double WarmUpSeconds() {
  return RunOptions().smoke ? kSmokeWarmUpSeconds : kWarmUpSeconds;
}

bool AllConnected(int slots) {
  for (std::int32_t player = 1; player <= slots; ++player) {
    if (ZAVNGetRxStatus(player) != LINK_OK) return false;
  }
  return true;
}

// The library on the virtual receiver and the given system, for one benchmark; back to its
// reset state and the OS system at the end.
class VirtualLibrary {
 public:
  explicit VirtualLibrary(platform::System& system) {
    platform::InstallSystem(&system);
    previous_ = ZAVNVirtualSelect(1);
    ZAVNTerminate(0);
    ZAVNReset();
    ZAVNVirtualClear();
  }
  ~VirtualLibrary() {
    ZAVNTerminate(0);
    ZAVNInitGetRawDataCallBack(nullptr);
    ZAVNReset();
    ZAVNVirtualClear();
    ZAVNVirtualSelect(previous_);
    platform::InstallSystem(nullptr);
  }
  VirtualLibrary(const VirtualLibrary&) = delete;
  VirtualLibrary& operator=(const VirtualLibrary&) = delete;

  // Connects what is plugged and switches polling on; false unless `slots` slots connected.
  static bool Connect(int slots) {
    ZAVNConnectRx();
    ZAVNRoutineFunc();
    return AllConnected(slots);
  }

 private:
  std::int32_t previous_ = 0;
};

// The poll thread on the OS clock, measured through its thread's CPU clock.
class PollingLibrary {
 public:
  PollingLibrary() : library_(system_) {}

  // False unless `slots` slots are connected and the poll thread runs.
  bool Start(int slots, clockid_t& clock) {
    return VirtualLibrary::Connect(slots) && system_.WaitForThreadClock(clock);
  }

 private:
  ThreadClockSystem system_;
  VirtualLibrary library_;
};

void PlugSilentSlots() {
  for (int k = 0; k < kSlots; ++k) {
    ZAVNVirtualPlug(kVendor, kProduct, kReportLength, kOutputLength,
                    platform::virt::kReceiverProductString);
  }
}

// Beside the poll thread, a thread that does nothing but the poll thread's sleep of one cycle,
// again and again: what waking up 100 times a second costs a thread on this machine.
class Sleeper {
 public:
  Sleeper()
      : thread_([this] {
          published_ = pthread_getcpuclockid(pthread_self(), &clock_) == 0;
          while (!stop_) platform::OsSystem().SleepMs(core::kPollPeriodMs);
        }) {}
  ~Sleeper() {
    stop_ = true;
    thread_.join();
  }
  Sleeper(const Sleeper&) = delete;
  Sleeper& operator=(const Sleeper&) = delete;

  // Read only after the warm-up, by when the thread has long published its clock.
  double CpuSeconds() const { return published_ ? Seconds(clock_) : 0; }

 private:
  std::atomic<bool> stop_{false};
  std::atomic<bool> published_{false};
  clockid_t clock_{};
  std::thread thread_;
};

struct Window {
  double cpuSeconds = 0;
  double sleeperCpuSeconds = 0;
  double wallSeconds = 0;
  std::uint64_t allocations = 0;
};

// The poll thread's CPU time and the process's allocations over `seconds` of wall time.
Window Measure(const Sleeper& sleeper, clockid_t pollClock, double seconds) {
  const std::uint64_t allocations = Allocations();
  const double sleeping = sleeper.CpuSeconds();
  const double cpu = Seconds(pollClock);
  const double wall = Seconds(CLOCK_MONOTONIC);
  SleepSeconds(seconds);
  Window window;
  window.cpuSeconds = Seconds(pollClock) - cpu;
  window.sleeperCpuSeconds = sleeper.CpuSeconds() - sleeping;
  window.wallSeconds = Seconds(CLOCK_MONOTONIC) - wall;
  window.allocations = Allocations() - allocations;
  return window;
}

constexpr double kPercent = 100;

void BM_PollSilent(benchmark::State& state) {
  PollingLibrary library;
  PlugSilentSlots();
  clockid_t clock{};
  if (!library.Start(kSlots, clock)) return Fail(state, "four silent slots did not connect");
  const Sleeper sleeper;
  for (auto _ : state) {
    SleepSeconds(WarmUpSeconds());
    const Window window = Measure(sleeper, clock, RunOptions().pollSeconds);
    state.counters["cpu_percent"] = kPercent * window.cpuSeconds / window.wallSeconds;
    state.counters["sleeper_percent"] = kPercent * window.sleeperCpuSeconds / window.wallSeconds;
    state.counters["allocations_per_s"] =
        static_cast<double>(window.allocations) / window.wallSeconds;
  }
  if (!AllConnected(kSlots)) Fail(state, "a silent slot lost its link");
}

std::atomic<std::uint64_t> g_streamRecords{0};

void ZAVN_CALL CountRecord(std::int32_t, PlayerStatus*) {
  g_streamRecords.fetch_add(1, std::memory_order_relaxed);
}

void BM_PollStreaming(benchmark::State& state) {
  PollingLibrary library;
  if (ZAVNVirtualPlugReceiver(kSlots, kStreamRateHz) == 0) {
    return Fail(state, "the virtual receiver did not plug");
  }
  ZAVNInitGetRawDataCallBack(CountRecord);
  clockid_t clock{};
  if (!library.Start(kSlots, clock)) return Fail(state, "four transmitters did not connect");
  if (!AllocationHookActive()) return Fail(state, "the allocation counter sees nothing");
  const Sleeper sleeper;
  for (auto _ : state) {
    SleepSeconds(WarmUpSeconds());
    const std::uint64_t records = g_streamRecords.load();
    const Window window = Measure(sleeper, clock, RunOptions().pollSeconds);
    const double perSecond =
        static_cast<double>(g_streamRecords.load() - records) / window.wallSeconds;
    state.counters["cpu_percent"] = kPercent * window.cpuSeconds / window.wallSeconds;
    state.counters["sleeper_percent"] = kPercent * window.sleeperCpuSeconds / window.wallSeconds;
    state.counters["records_per_s"] = perSecond;
    state.counters["allocations_per_s"] =
        static_cast<double>(window.allocations) / window.wallSeconds;
    const double due = kSlots * kStreamRateHz;
    // A smoke run on a busy machine only has to see the stream at all.
    if (perSecond < (RunOptions().smoke ? 1.0 : kMinStreamShare * due)) {
      Fail(state, "the stream was not decoded at its rate");
    }
  }
}

// What the motion work of each record costs the poll thread at 4 players × 1000 records/s: the
// same stream measured in windows with the work skipped and with it, in the order skipped, done,
// done, skipped, ..., so that a drift of the machine's load falls on both alike.
constexpr std::int32_t kMotionRateHz = 1000;
constexpr int kMotionWindowPairs = 50;

void BM_PollMotion(benchmark::State& state) {
  PollingLibrary library;
  if (ZAVNVirtualPlugReceiver(kSlots, kMotionRateHz) == 0) {
    return Fail(state, "the virtual receiver did not plug");
  }
  ZAVNInitGetRawDataCallBack(CountRecord);
  clockid_t clock{};
  if (!library.Start(kSlots, clock)) return Fail(state, "four transmitters did not connect");
  const Sleeper sleeper;
  for (auto _ : state) {
    SleepSeconds(WarmUpSeconds());
    const std::uint64_t records = g_streamRecords.load();
    Window sums[2];  // [0] with the motion work skipped, [1] with it done
    for (int k = 0; k < 2 * kMotionWindowPairs; ++k) {
      const bool work = k % 4 == 1 || k % 4 == 2;
      input::SkipMotionWork(!work);
      const Window window = Measure(sleeper, clock, RunOptions().pollSeconds / kMotionWindowPairs);
      sums[work].cpuSeconds += window.cpuSeconds;
      sums[work].wallSeconds += window.wallSeconds;
    }
    input::SkipMotionWork(false);
    const double wall = sums[0].wallSeconds + sums[1].wallSeconds;
    const double perSecond = static_cast<double>(g_streamRecords.load() - records) / wall;
    state.counters["skipped_percent"] = kPercent * sums[0].cpuSeconds / sums[0].wallSeconds;
    state.counters["cpu_percent"] = kPercent * sums[1].cpuSeconds / sums[1].wallSeconds;
    state.counters["records_per_s"] = perSecond;
    if (perSecond < (RunOptions().smoke ? 1.0 : kMinStreamShare * kSlots * kMotionRateHz)) {
      Fail(state, "the stream was not decoded at its rate");
    }
  }
}

// One poll cycle's work on its own: the benchmark runs the cycles on a clock that it moves by
// the poll period each time, so every cycle meets what a cycle of the thread meets.
class ManualClockSystem final : public platform::System {
 public:
  std::uint32_t TickMs() override { return now_; }
  void SleepMs(std::uint32_t ms) override { now_ += ms; }
  std::uint32_t MaxInputBuffers() override { return 0; }
  // No thread: the benchmark runs the cycles.
  platform::ThreadHandle StartThread(platform::ThreadProc, void*) override { return nullptr; }
  bool RaiseThreadPriority(platform::ThreadHandle) override { return false; }
  std::uint32_t ThreadExitCode(platform::ThreadHandle) override { return 0; }
  bool JoinThread(platform::ThreadHandle) override { return false; }
  bool ExecutablePath(char (&path)[platform::kMaxPath]) override {
    return platform::OsSystem().ExecutablePath(path);
  }

 private:
  std::uint32_t now_ = 1000;  // tick 0 means "not taken yet" to the periodic report
};

// Past the player numbering and, for silent slots, the time-out grace.
constexpr int kWarmUpCycles = 100;
constexpr double kCyclesPerSecond = 1000.0 / core::kPollPeriodMs;

void RunCycle(platform::System& system) {
  {
    platform::LockGuard guard(core::Run().pollLock);
    core::PollCycle();
  }
  system.SleepMs(core::kPollPeriodMs);
}

void BM_Cycle(benchmark::State& state, bool streaming) {
  ManualClockSystem system;
  VirtualLibrary library(system);
  if (streaming) {
    if (ZAVNVirtualPlugReceiver(kSlots, kStreamRateHz) == 0) {
      return Fail(state, "the virtual receiver did not plug");
    }
    ZAVNInitGetRawDataCallBack(CountRecord);
  } else {
    PlugSilentSlots();
  }
  if (!VirtualLibrary::Connect(kSlots)) return Fail(state, "four slots did not connect");
  for (int k = 0; k < kWarmUpCycles; ++k) RunCycle(system);
  const std::uint64_t records = g_streamRecords.load();
  for (auto _ : state) RunCycle(system);
  if (!AllConnected(kSlots)) return Fail(state, "a slot lost its link");
  const double perCycle = static_cast<double>(g_streamRecords.load() - records) /
                          static_cast<double>(state.iterations());
  const double due = streaming ? kSlots * kStreamRateHz / kCyclesPerSecond : 0;
  if (perCycle < kMinStreamShare * due) return Fail(state, "the stream was not decoded");
  state.counters["records_per_cycle"] = perCycle;
}

// Latency: the bench thread queues numbered motion reports on four interfaces in turn, at a
// given rate each, with random gaps; the callback notes when each one arrives.
constexpr int kSequenceByte = 6;  // report bytes 6..9, big-endian; RawRecord keeps them in place
constexpr int kMotionLetter = 3;
constexpr double kDrainSeconds = 0.1;
constexpr unsigned kSeed = 12345;

std::unique_ptr<std::atomic<std::int64_t>[]> g_arrivals;
std::atomic<std::uint32_t> g_expected{0};

std::int64_t NowNs() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

void ZAVN_CALL NoteArrival(std::int32_t, PlayerStatus* status) {
  const std::uint8_t* bytes = status->RawRecord + kSequenceByte;
  const std::uint32_t sequence = (std::uint32_t{bytes[0]} << 24) | (std::uint32_t{bytes[1]} << 16) |
                                 (std::uint32_t{bytes[2]} << 8) | bytes[3];
  if (sequence < g_expected.load(std::memory_order_relaxed)) {
    g_arrivals[sequence].store(NowNs(), std::memory_order_relaxed);
  }
}

// A motion report that the poll pass decodes whatever its read gave ("An" at bytes 3 and 4).
void NumberedReport(std::uint32_t sequence, std::uint8_t (&report)[kReportLength]) {
  std::fill(std::begin(report), std::end(report), 0);
  report[0] = 0x02;
  report[kMotionLetter] = 'A';
  report[kMotionLetter + 1] = 'n';
  for (int k = 0; k < 4; ++k) {
    report[kSequenceByte + k] = static_cast<std::uint8_t>(sequence >> (24 - 8 * k));
  }
}

double Percentile(const std::vector<double>& sorted, double share) {
  const auto rank = static_cast<std::size_t>(std::ceil(share * static_cast<double>(sorted.size())));
  return sorted[std::clamp<std::size_t>(rank, 1, sorted.size()) - 1];
}

void SetLatencyCounters(benchmark::State& state, std::vector<double>& latencies) {
  std::sort(latencies.begin(), latencies.end());
  state.counters["p50_ms"] = Percentile(latencies, 0.50);
  state.counters["p99_ms"] = Percentile(latencies, 0.99);
  state.counters["max_ms"] = latencies.back();
  state.counters["reports"] = static_cast<double>(latencies.size());
}

void BM_Latency(benchmark::State& state, std::int32_t rateHz) {
  const auto reports = static_cast<std::uint32_t>(RunOptions().latencyReports);
  g_arrivals = std::make_unique<std::atomic<std::int64_t>[]>(reports);
  std::vector<std::int64_t> queued(reports, 0);
  PollingLibrary library;
  std::int32_t ids[kSlots];
  for (std::int32_t& id : ids) {
    id = ZAVNVirtualPlug(kVendor, kProduct, kReportLength, kOutputLength,
                         platform::virt::kReceiverProductString);
  }
  g_expected = reports;
  ZAVNInitGetRawDataCallBack(NoteArrival);
  clockid_t clock{};
  if (!library.Start(kSlots, clock)) return Fail(state, "the slots did not connect");
  // Gaps between 0.2 and 1.8 times the mean, four interfaces in turn.
  const double meanGap = 1.0 / (kSlots * rateHz);
  std::mt19937 random(kSeed);
  std::uniform_real_distribution<double> gap(0.2 * meanGap, 1.8 * meanGap);
  std::vector<double> latencies;
  latencies.reserve(reports);
  for (auto _ : state) {
    double next = Seconds(CLOCK_MONOTONIC);
    for (std::uint32_t k = 0; k < reports; ++k) {
      next += gap(random);
      while (Seconds(CLOCK_MONOTONIC) < next) {
        const double left = next - Seconds(CLOCK_MONOTONIC);
        if (left > 0) SleepSeconds(left);
      }
      std::uint8_t report[kReportLength];
      NumberedReport(k, report);
      queued[k] = NowNs();
      ZAVNVirtualQueueInput(ids[k % kSlots], report, kReportLength);
    }
    SleepSeconds(kDrainSeconds);
    for (std::uint32_t k = 0; k < reports; ++k) {
      const std::int64_t arrived = g_arrivals[k].load();
      if (arrived != 0) latencies.push_back(static_cast<double>(arrived - queued[k]) * 1e-6);
    }
  }
  ZAVNInitGetRawDataCallBack(nullptr);
  g_expected = 0;
  const bool complete = latencies.size() == reports;
  if (latencies.empty() || (!complete && !RunOptions().smoke)) {
    return Fail(state, "reports queued on the receiver never reached the callback");
  }
  SetLatencyCounters(state, latencies);
}

// The floor of the latency: a bare thread waiting on a signal, raised at random moments.
void BM_WakeFloor(benchmark::State& state) {
  const auto wakes = static_cast<std::uint32_t>(RunOptions().latencyReports);
  platform::Signal signal;
  std::atomic<std::int64_t> raisedAt{0};
  std::atomic<bool> stop{false};
  std::vector<double> latencies;
  latencies.reserve(wakes);
  std::thread waiter([&] {
    while (!stop) {
      if (signal.Wait(static_cast<std::uint32_t>(core::kPollPeriodMs)) && raisedAt != 0) {
        latencies.push_back(static_cast<double>(NowNs() - raisedAt.exchange(0)) * 1e-6);
      }
    }
  });
  std::mt19937 random(kSeed);
  std::uniform_real_distribution<double> gap(0.0002, 0.0018);
  for (auto _ : state) {
    for (std::uint32_t k = 0; k < wakes; ++k) {
      SleepSeconds(gap(random));
      raisedAt = NowNs();
      signal.Raise();
    }
    SleepSeconds(kDrainSeconds);
  }
  stop = true;
  waiter.join();
  if (latencies.empty()) return Fail(state, "the waiting thread never woke");
  SetLatencyCounters(state, latencies);
}

// A firmware update of player 1's receiver on the OS clock, the bench thread reconnecting as a
// host does whenever the receiver drops off; the other players' records are followed by the
// sample numbers the virtual transmitters put into them.
constexpr double kUpdateLimitSeconds = 120;
constexpr double kSmokeUpdateSeconds = 2;

struct StreamCount {
  std::atomic<bool> started{false};
  std::atomic<std::uint32_t> lastSample{0};
  std::atomic<std::int64_t> lastNs{0};
  std::atomic<std::uint64_t> lost{0};
  std::atomic<std::int64_t> longestSilenceNs{0};
};
StreamCount g_others[kSlots];
// The first player whose stream is followed.
std::atomic<std::int32_t> g_firstFollowed{2};

void ResetStreamCounts(std::int32_t firstFollowed) {
  g_firstFollowed = firstFollowed;
  for (StreamCount& s : g_others) {
    s.started = false;
    s.lost = 0;
    s.longestSilenceNs = 0;
  }
}

void SetStreamCounters(benchmark::State& state) {
  double lost = 0, silenceNs = 0;
  for (std::int32_t player = g_firstFollowed; player <= kSlots; ++player) {
    lost += static_cast<double>(g_others[player - 1].lost.load());
    silenceNs = std::max(silenceNs, static_cast<double>(g_others[player - 1].longestSilenceNs));
  }
  state.counters["lost"] = lost;
  state.counters["silence_ms"] = silenceNs * 1e-6;
}

void ZAVN_CALL FollowOthers(std::int32_t, PlayerStatus* status) {
  for (std::int32_t player = g_firstFollowed; player <= kSlots; ++player) {
    if (status != &input::LibraryStatus(player)) continue;
    StreamCount& s = g_others[player - 1];
    const std::uint8_t* n = status->RawRecord + platform::virt::kSampleNumberByte;
    const std::uint32_t sample = (std::uint32_t{n[0]} << 24) | (std::uint32_t{n[1]} << 16) |
                                 (std::uint32_t{n[2]} << 8) | n[3];
    const std::int64_t now = NowNs();
    if (s.started) {
      const std::uint32_t last = s.lastSample;
      if (sample > last) s.lost += sample - last - 1;
      s.longestSilenceNs = std::max<std::int64_t>(s.longestSilenceNs, now - s.lastNs);
    }
    s.started = true;
    s.lastSample = sample;
    s.lastNs = now;
  }
}

void BM_Update(benchmark::State& state, std::int32_t rateHz) {
  ResetStreamCounts(2);
  PollingLibrary library;
  const std::int32_t id = ZAVNVirtualPlugReceiver(kSlots, rateHz);
  if (id == 0) return Fail(state, "the virtual receiver did not plug");
  ZAVNInitGetRawDataCallBack(FollowOthers);
  clockid_t clock{};
  if (!library.Start(kSlots, clock)) return Fail(state, "four transmitters did not connect");
  const double limit = RunOptions().smoke ? kSmokeUpdateSeconds : kUpdateLimitSeconds;
  for (auto _ : state) {
    // Every machine back at its start, whatever an update before left.
    ZAVNBootLoaderFSM(1, ZAVN_UPDATE_RESET);
    SleepSeconds(WarmUpSeconds());
    const double start = Seconds(CLOCK_MONOTONIC);
    ZAVNBootLoaderFSM(1, ZAVN_UPDATE_RUN);
    while (ZAVNGetBootloaderStatus(1) != ZAVN_UPDATE_DONE &&
           Seconds(CLOCK_MONOTONIC) - start < limit) {
      SleepSeconds(core::kPollPeriodMs / 1000.0);
      if (ZAVNGetRxStatus(1) != LINK_OK) VirtualLibrary::Connect(1);
    }
    state.counters["update_s"] = Seconds(CLOCK_MONOTONIC) - start;
  }
  ZAVNBootLoaderFSM(1, ZAVN_UPDATE_STOP);
  ZAVNTerminate(0);
  if (!RunOptions().smoke && ZAVNGetBootloaderStatus(1) != ZAVN_UPDATE_DONE) {
    return Fail(state, "the update did not finish");
  }
  SetStreamCounters(state);
}

// Bursts of 100 connects back to back while three transmitters stream at 1000 records/s, beside
// the fourth slot free (so that every connect searches) and other vendors' devices: the longest
// any player waits for a record meanwhile, against the same time without connects, and what a
// connect takes.
constexpr int kForeignDevices = 8;
constexpr int kConnectsPerBurst = 100;
constexpr int kBursts = 10;
constexpr double kBetweenBurstsSeconds = 0.1;

double LongestSilenceMs() {
  double silenceNs = 0;
  for (std::int32_t player = g_firstFollowed; player < kSlots; ++player) {
    silenceNs = std::max(silenceNs, static_cast<double>(g_others[player - 1].longestSilenceNs));
  }
  return silenceNs * 1e-6;
}

void BM_Connect(benchmark::State& state) {
  PollingLibrary library;
  for (int k = 0; k < kForeignDevices; ++k) ZAVNVirtualPlug(0x046D, 0xC52B + k, 8, 8, "Mouse");
  if (ZAVNVirtualPlugReceiver(kSlots - 1, 1000) == 0) {
    return Fail(state, "the virtual receiver did not plug");
  }
  ZAVNInitGetRawDataCallBack(FollowOthers);
  clockid_t clock{};
  if (!library.Start(kSlots - 1, clock)) return Fail(state, "three transmitters did not connect");
  SleepSeconds(WarmUpSeconds());
  const int bursts = RunOptions().smoke ? 1 : kBursts;
  ResetStreamCounts(1);
  SleepSeconds(bursts * kBetweenBurstsSeconds);
  state.counters["baseline_silence_ms"] = LongestSilenceMs();
  for (auto _ : state) {
    ResetStreamCounts(1);
    double connecting = 0;
    for (int burst = 0; burst < bursts; ++burst) {
      const double start = Seconds(CLOCK_MONOTONIC);
      for (int k = 0; k < kConnectsPerBurst; ++k) ZAVNConnectRx();
      connecting += Seconds(CLOCK_MONOTONIC) - start;
      SleepSeconds(kBetweenBurstsSeconds);
    }
    state.counters["connect_ms"] = connecting * 1e3 / (bursts * kConnectsPerBurst);
  }
  ZAVNTerminate(0);
  state.counters["silence_ms"] = LongestSilenceMs();
  double lost = 0;
  for (std::int32_t player = 1; player < kSlots; ++player)
    lost += static_cast<double>(g_others[player - 1].lost.load());
  state.counters["lost"] = lost;
}

// A capture played back at its captured timing: four players' numbered reports, 1000 a second
// each with random gaps, written as the library writes captures. Each report's arrival at the
// callback is set against its captured time from the start of the replay, which is taken as the
// earliest arrival less its captured time: how far the replay strays from the captured timing.
constexpr double kReplayRateHz = 1000;
constexpr std::uint64_t kCaptureEpochUs = 1'765'000'000'000'000;
constexpr double kMinReplayShare = 0.99;

bool WriteNumberedCapture(const std::string& path, std::uint32_t reports,
                          std::vector<std::uint64_t>& timesUs) {
  namespace format = platform::capture;
  format::Bytes file = format::SectionHeader("zavn_bench");
  const format::Bytes interface = format::InterfaceDescription("zavn", "replay benchmark");
  file.insert(file.end(), interface.begin(), interface.end());
  const double meanGapUs = 1e6 / (kSlots * kReplayRateHz);
  std::mt19937 random(kSeed);
  std::uniform_real_distribution<double> gap(0.2 * meanGapUs, 1.8 * meanGapUs);
  double at = 0;
  for (std::uint32_t k = 0; k < reports; ++k) {
    std::uint8_t report[kReportLength];
    NumberedReport(k, report);
    timesUs.push_back(static_cast<std::uint64_t>(at));
    format::AppendPacket(file, {k, kCaptureEpochUs + timesUs.back(), static_cast<int>(k % kSlots),
                                false, report, kReportLength});
    at += gap(random);
  }
  std::FILE* out = std::fopen(path.c_str(), "wb");
  const bool written =
      out != nullptr && std::fwrite(file.data(), 1, file.size(), out) == file.size();
  return (out == nullptr || std::fclose(out) == 0) && written;
}

void BM_ReplayTiming(benchmark::State& state) {
  const auto reports = static_cast<std::uint32_t>(RunOptions().latencyReports);
  const std::string path = "/tmp/zavn-bench-replay-" + std::to_string(getpid()) + ".pcapng";
  std::vector<std::uint64_t> timesUs;
  if (!WriteNumberedCapture(path, reports, timesUs)) return Fail(state, "no capture written");
  g_arrivals = std::make_unique<std::atomic<std::int64_t>[]>(reports);
  g_expected = reports;
  PollingLibrary library;
  ZAVNInitGetRawDataCallBack(NoteArrival);
  char error[256] = {};
  clockid_t clock{};
  if (ZAVNVirtualPlugReplay(path.c_str(), ZAVN_REPLAY_CAPTURED_TIMING, 0, error, sizeof error) ==
          0 ||
      !library.Start(kSlots, clock)) {
    std::remove(path.c_str());
    return Fail(state, "the replay did not connect");
  }
  for (auto _ : state) SleepSeconds(static_cast<double>(timesUs.back()) * 1e-6 + kDrainSeconds);
  std::remove(path.c_str());
  ZAVNInitGetRawDataCallBack(nullptr);
  g_expected = 0;
  std::vector<double> strays;
  double start = 0;
  for (std::uint32_t k = 0; k < reports; ++k) {
    const std::int64_t arrived = g_arrivals[k].load();
    if (arrived == 0) continue;
    const double late =
        static_cast<double>(arrived) * 1e-6 - static_cast<double>(timesUs[k]) * 1e-3;
    start = strays.empty() ? late : std::min(start, late);
    strays.push_back(late);
  }
  if (static_cast<double>(strays.size()) < kMinReplayShare * reports && !RunOptions().smoke) {
    return Fail(state, "replayed reports never reached the callback");
  }
  if (strays.empty()) return Fail(state, "no replayed report reached the callback");
  for (double& late : strays) late -= start;
  SetLatencyCounters(state, strays);
}

}  // namespace

void RegisterPollBenchmarks() {
  const double minTime = RunOptions().minTime;
  benchmark::RegisterBenchmark(name::kCycleSilent, BM_Cycle, false)->MinTime(minTime);
  benchmark::RegisterBenchmark(name::kCycleStreaming, BM_Cycle, true)->MinTime(minTime);
  for (auto* benchmark : {benchmark::RegisterBenchmark(name::kPollSilent, BM_PollSilent),
                          benchmark::RegisterBenchmark(name::kPollStreaming, BM_PollStreaming),
                          benchmark::RegisterBenchmark(name::kPollMotion, BM_PollMotion),
                          benchmark::RegisterBenchmark(name::kLatency200, BM_Latency, 200),
                          benchmark::RegisterBenchmark(name::kLatency1000, BM_Latency, 1000),
                          benchmark::RegisterBenchmark(name::kWakeFloor, BM_WakeFloor),
                          benchmark::RegisterBenchmark(name::kUpdate200, BM_Update, 200),
                          benchmark::RegisterBenchmark(name::kUpdate1000, BM_Update, 1000),
                          benchmark::RegisterBenchmark(name::kConnect, BM_Connect),
                          benchmark::RegisterBenchmark(name::kReplay, BM_ReplayTiming)}) {
    benchmark->Iterations(1)->UseRealTime()->Unit(benchmark::kMillisecond);
  }
}

}  // namespace zavn::bench
