// What the benchmark programs share: their run options, failure reporting, the heap allocation
// counter and the System that lets a benchmark read the poll thread's CPU clock.
#pragma once

#include <benchmark/benchmark.h>

#include <atomic>
#include <cstdint>
#include <ctime>

#include "platform/system.h"

namespace zavn::bench {

struct Options {
  bool smoke = false;      // every benchmark very briefly: only whether it runs counts
  double minTime = 0.5;    // seconds per microbenchmark
  double pollSeconds = 5;  // measuring window of the poll thread figures
  int latencyReports = 2000;
};
const Options& RunOptions();

// Marks the benchmark failed: its figures are left out and the program ends with status 1.
void Fail(benchmark::State& state, const char* why);
int Failures();

// Heap allocations made by any thread of the process so far (malloc and its relatives, which
// operator new uses); AllocationHookActive() is false when the count cannot be trusted.
std::uint64_t Allocations();
bool AllocationHookActive();

// Seconds of a clock, as a double.
double Seconds(clockid_t clock);

// The OS system with one difference: the thread it starts publishes its CPU clock, so that a
// benchmark can measure the poll thread without the library knowing.
class ThreadClockSystem final : public platform::System {
 public:
  std::uint32_t TickMs() override { return os_.TickMs(); }
  std::uint64_t TickUs() override { return os_.TickUs(); }
  void SleepMs(std::uint32_t ms) override { os_.SleepMs(ms); }
  std::uint32_t MaxInputBuffers() override { return os_.MaxInputBuffers(); }
  platform::ThreadHandle StartThread(platform::ThreadProc proc, void* argument) override;
  bool RaiseThreadPriority(platform::ThreadHandle thread) override {
    return os_.RaiseThreadPriority(thread);
  }
  std::uint32_t ThreadExitCode(platform::ThreadHandle thread) override {
    return os_.ThreadExitCode(thread);
  }
  bool JoinThread(platform::ThreadHandle thread) override { return os_.JoinThread(thread); }
  bool ExecutablePath(char (&path)[platform::kMaxPath]) override {
    return os_.ExecutablePath(path);
  }

  // Waits up to a second for the last started thread to publish its clock.
  bool WaitForThreadClock(clockid_t& clock);

 private:
  static std::uint32_t Run(void* self);

  platform::System& os_ = platform::OsSystem();
  platform::ThreadProc proc_ = nullptr;
  void* argument_ = nullptr;
  std::atomic<bool> published_{false};
  clockid_t clock_{};
};

// The benchmarks' names, as the table looks them up.
namespace name {
inline constexpr const char* kDecodeShort = "decode/64_short_reports";
inline constexpr const char* kDecodeLong = "decode/32_long_reports";
inline constexpr const char* kDecodeEmpty = "decode/empty";
inline constexpr const char* kRefill = "memcpy/4096";  // also each decode's refill of its buffer
inline constexpr const char* kMemchr = "memchr/4096";
inline constexpr const char* kGetStatus = "ZAVNGetStatus/player_1";
inline constexpr const char* kStatusBytes = "memcpy_memset/status_bytes";
inline constexpr const char* kCommand = "ZAVNSwitchGameMode/virtual";
inline constexpr const char* kVirtualWrite = "virtual_write/2_bytes";
inline constexpr const char* kCycleSilent = "poll_cycle/4_slots_silent";
inline constexpr const char* kCycleStreaming = "poll_cycle/4_players_streaming";
inline constexpr const char* kPollSilent = "poll_thread/4_slots_silent";
inline constexpr const char* kPollStreaming = "poll_thread/4_players_streaming";
inline constexpr const char* kPollMotion = "poll_thread/4_players_1000_per_s_motion_skipped_done";
inline constexpr const char* kLatency200 = "latency/4_players_200_per_s";
inline constexpr const char* kLatency1000 = "latency/4_players_1000_per_s";
inline constexpr const char* kWakeFloor = "latency/bare_thread_wake";
inline constexpr const char* kUpdate200 = "update/4_players_200_per_s";
inline constexpr const char* kUpdate1000 = "update/4_players_1000_per_s";
inline constexpr const char* kConnect = "connect/3_players_1000_per_s";
inline constexpr const char* kCaptureOn = "capture/report_while_capturing";
inline constexpr const char* kCaptureOff = "capture/report_not_capturing";
inline constexpr const char* kReplay = "replay/4_players_1000_per_s_captured_timing";
inline constexpr const char* kMotionRecord = "motion/per_record";
inline constexpr const char* kBridgeDsu = "bridge/sample_to_dsu_packet_4_players_1000_per_s";
}  // namespace name

// Registration of each benchmark file's benchmarks, after the options are known.
void RegisterDecodeBenchmarks();
void RegisterStatusBenchmarks();
void RegisterPollBenchmarks();
void RegisterCaptureBenchmarks();
void RegisterMotionBenchmarks();
void RegisterBridgeBenchmarks();

}  // namespace zavn::bench
