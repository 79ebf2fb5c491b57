// The benchmark program: runs every benchmark, then prints one table of each figure beside its
// limit, both measured in this run. `--smoke` runs everything very briefly and only checks that
// it runs; other arguments go to Google Benchmark (e.g. --benchmark_filter=decode).
#include <pthread.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <map>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "bench_support.h"

namespace zavn::bench {
namespace {

Options g_options;
std::atomic<int> g_failures{0};

constexpr double kNsPerSecond = 1e9;

}  // namespace

const Options& RunOptions() {
  return g_options;
}

void Fail(benchmark::State& state, const char* why) {
  g_failures.fetch_add(1);
  state.SkipWithError(why);
}

int Failures() {
  return g_failures.load();
}

double Seconds(clockid_t clock) {
  timespec now{};
  clock_gettime(clock, &now);
  return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / kNsPerSecond;
}

platform::ThreadHandle ThreadClockSystem::StartThread(platform::ThreadProc proc, void* argument) {
  proc_ = proc;
  argument_ = argument;
  published_ = false;
  return os_.StartThread(Run, this);
}

std::uint32_t ThreadClockSystem::Run(void* self) {
  auto* system = static_cast<ThreadClockSystem*>(self);
  if (pthread_getcpuclockid(pthread_self(), &system->clock_) == 0) system->published_ = true;
  return system->proc_(system->argument_);
}

bool ThreadClockSystem::WaitForThreadClock(clockid_t& clock) {
  constexpr int kPolls = 1000;
  for (int k = 0; k < kPolls && !published_; ++k) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  if (!published_) return false;
  clock = clock_;
  return true;
}

namespace {

struct Figure {
  double ns = 0;  // real time per iteration
  std::map<std::string, double> counters;
};

// Keeps each benchmark's figure for the table and passes the runs on to the console.
class Collector final : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& run : runs) {
      if (run.run_type != Run::RT_Iteration || Failed(run) || run.iterations == 0) continue;
      // The name as registered, without the run's settings (min_time, iterations).
      Figure& figure = figures_[run.run_name.function_name];
      figure.ns = run.real_accumulated_time * kNsPerSecond / static_cast<double>(run.iterations);
      for (const auto& [key, counter] : run.counters) figure.counters[key] = counter.value;
    }
    ConsoleReporter::ReportRuns(runs);
  }

  const Figure* Find(const char* name) const {
    const auto found = figures_.find(name);
    return found == figures_.end() ? nullptr : &found->second;
  }

 private:
  // Google Benchmark 1.7 calls a failed run an error, later versions a skipped one.
  template <typename AnyRun>
  static bool Failed(const AnyRun& run) {
    if constexpr (requires { run.error_occurred; }) {
      return run.error_occurred;
    } else {
      return run.skipped != 0;
    }
  }

  std::map<std::string, Figure> figures_;
};

std::string Time(double ns) {
  char text[32];
  if (ns < 1e3) {
    std::snprintf(text, sizeof text, "%.0f ns", ns);
  } else if (ns < 1e6) {
    std::snprintf(text, sizeof text, "%.2f µs", ns / 1e3);
  } else {
    std::snprintf(text, sizeof text, "%.2f ms", ns / 1e6);
  }
  return text;
}

std::string Number(const char* format, double value) {
  char text[48];
  std::snprintf(text, sizeof text, format, value);
  return text;
}

// A figure whose benchmark failed or was left out by a filter.
constexpr const char* kNotMeasured = "not measured";

class Table {
 public:
  explicit Table(const Collector& figures) : figures_(figures) {}

  // A figure with a goal: met when value <= limit.
  void Goal(const std::string& label, double value, double limit, const std::string& valueText,
            const std::string& limitText) {
    const std::string ratio = limit > 0 ? Number("%.2f", value / limit) : "-";
    const std::string met = value <= limit ? "met" : "**not met**";
    rows_.push_back({label, valueText, limitText, ratio, met});
  }
  void Reference(const std::string& label, const std::string& valueText,
                 const std::string& beside = "-", const std::string& ratio = "-") {
    rows_.push_back({label, valueText, beside, ratio, "-"});
  }
  void Missing(const std::string& label) { rows_.push_back({label, kNotMeasured, "-", "-", "-"}); }

  const Figure* Find(const char* name) const { return figures_.Find(name); }
  bool Has(const char* name, const char* counter) const {
    const Figure* figure = Find(name);
    return figure != nullptr && figure->counters.count(counter) != 0;
  }
  double Counter(const char* name, const char* counter) const {
    return Find(name)->counters.at(counter);
  }

  void Print() const {
    std::printf("| figure | value | limit | ratio | goal |\n|---|---|---|---|---|\n");
    for (const Row& row : rows_) {
      std::printf("| %s | %s | %s | %s | %s |\n", row.label.c_str(), row.value.c_str(),
                  row.limit.c_str(), row.ratio.c_str(), row.met.c_str());
    }
  }
  int MissingRows() const {
    int missing = 0;
    for (const Row& row : rows_) missing += row.value == kNotMeasured ? 1 : 0;
    return missing;
  }

 private:
  struct Row {
    std::string label, value, limit, ratio, met;
  };
  const Collector& figures_;
  std::vector<Row> rows_;
};

constexpr double kDecodeLimit = 4;
constexpr double kStatusLimit = 1.5;
constexpr double kSilentLimitPercent = 0.1;
constexpr double kStreamingLimitPercent = 1.0;
constexpr double kLatencyP50LimitMs = 0.3;
constexpr double kLatencyP99LimitMs = 1;
constexpr double kCyclesPerSecond = 100;

void DecodeRows(Table& table) {
  const Figure* refill = table.Find(name::kRefill);
  const struct {
    const char* name;
    const char* label;
  } decodes[] = {{name::kDecodeShort, "decode, 4096 B of 64 short motion reports"},
                 {name::kDecodeLong, "decode, 4096 B of 32 long motion reports"},
                 {name::kDecodeEmpty, "decode, empty 4096 B buffer"}};
  for (const auto& decode : decodes) {
    const Figure* figure = table.Find(decode.name);
    if (figure == nullptr || refill == nullptr) {
      table.Missing(decode.label);
      continue;
    }
    // Each iteration refills the buffer first: the refill's own time comes off.
    const double ns = std::max(figure->ns - refill->ns, 0.0);
    const double limit = kDecodeLimit * refill->ns;
    table.Goal(decode.label, ns, limit, Time(ns), "4 × memcpy = " + Time(limit));
  }
  if (refill != nullptr) table.Reference("memcpy of 4096 B", Time(refill->ns));
  if (const Figure* memchr = table.Find(name::kMemchr)) {
    table.Reference("memchr over 4096 B", Time(memchr->ns));
  }
}

void StatusRows(Table& table) {
  const Figure* status = table.Find(name::kGetStatus);
  const Figure* bytes = table.Find(name::kStatusBytes);
  if (status == nullptr || bytes == nullptr) {
    table.Missing("ZAVNGetStatus, player 1");
  } else {
    const double limit = kStatusLimit * bytes->ns;
    table.Goal("ZAVNGetStatus, player 1", status->ns, limit, Time(status->ns),
               "1.5 × (memcpy + memset) = " + Time(limit));
    table.Reference("memcpy + memset of those bytes", Time(bytes->ns));
  }
  const Figure* command = table.Find(name::kCommand);
  const Figure* write = table.Find(name::kVirtualWrite);
  if (command == nullptr || write == nullptr) {
    table.Missing("ZAVNSwitchGameMode to a virtual interface");
  } else {
    table.Reference("ZAVNSwitchGameMode to a virtual interface", Time(command->ns),
                    "virtual write = " + Time(write->ns), Number("%.2f", command->ns / write->ns));
  }
}

void PollRows(Table& table) {
  const struct {
    const char* name;
    const char* cycle;
    const char* label;
    double limit;
  } polls[] = {{name::kPollSilent, name::kCycleSilent, "poll thread CPU, 4 slots silent",
                kSilentLimitPercent},
               {name::kPollStreaming, name::kCycleStreaming,
                "poll thread CPU, 4 players × 200 records/s", kStreamingLimitPercent}};
  for (const auto& poll : polls) {
    if (!table.Has(poll.name, "cpu_percent")) {
      table.Missing(poll.label);
    } else {
      const double percent = table.Counter(poll.name, "cpu_percent");
      const double sleep = table.Counter(poll.name, "sleeper_percent");
      table.Goal(poll.label, percent, poll.limit, Number("%.3f %% of a core", percent),
                 Number("%.1f %%", poll.limit));
      table.Reference("… a thread that only sleeps 10 ms a cycle, same window",
                      Number("%.3f %%", sleep));
    }
    // The same cycles run back to back on a moved clock: their work alone, without the sleep.
    if (const Figure* cycle = table.Find(poll.cycle)) {
      const double percent = cycle->ns * kCyclesPerSecond / kNsPerSecond * 100;
      table.Goal("one cycle's work × 100 cycles/s", percent, poll.limit,
                 Time(cycle->ns) + Number(" = %.3f %%", percent), Number("%.1f %%", poll.limit));
    } else {
      table.Missing("one cycle's work");
    }
  }

  if (table.Has(name::kPollStreaming, "allocations_per_s")) {
    const double allocations = table.Counter(name::kPollStreaming, "allocations_per_s");
    table.Goal("heap allocations per second, streaming", allocations, 0,
               Number("%.1f", allocations), "0");
  } else {
    table.Missing("heap allocations per second, streaming");
  }
  // Report queued to raw-data callback, beside a bare thread's wake-up in the same run.
  for (const auto& [benchmark, rate] :
       {std::pair{name::kLatency200, "200"}, std::pair{name::kLatency1000, "1000"}}) {
    const std::string label = std::string("latency to callback, 4 players × ") + rate + "/s";
    if (!table.Has(benchmark, "p99_ms")) {
      table.Missing(label);
      continue;
    }
    const double p50 = table.Counter(benchmark, "p50_ms");
    const double p99 = table.Counter(benchmark, "p99_ms");
    table.Goal(label + ", p50", p50, kLatencyP50LimitMs, Number("%.3f ms", p50),
               Number("%.1f ms", kLatencyP50LimitMs));
    table.Goal(label + ", p99", p99, kLatencyP99LimitMs, Number("%.3f ms", p99),
               Number("%.0f ms", kLatencyP99LimitMs));
    table.Reference(label + ", max", Number("%.2f ms", table.Counter(benchmark, "max_ms")));
  }
  if (!table.Has(name::kWakeFloor, "p99_ms")) {
    table.Missing("a bare thread's wake-up");
    return;
  }
  table.Reference("… a bare thread's wake-up, p50 / p99",
                  Number("%.3f ms", table.Counter(name::kWakeFloor, "p50_ms")) +
                      Number(" / %.3f ms", table.Counter(name::kWakeFloor, "p99_ms")));
}

// A firmware update of player 1's receiver while the other three players stream.
constexpr double kSilenceLimitMs = 50;

void UpdateRows(Table& table) {
  for (const auto& [benchmark, rate] :
       {std::pair{name::kUpdate200, "200"}, std::pair{name::kUpdate1000, "1000"}}) {
    const std::string label =
        std::string("firmware update of player 1, 4 players × ") + rate + " records/s";
    if (!table.Has(benchmark, "update_s")) {
      table.Missing(label);
      continue;
    }
    table.Reference(label, Number("%.1f s", table.Counter(benchmark, "update_s")));
    const double lost = table.Counter(benchmark, "lost");
    table.Goal("… records players 2 to 4 lost meanwhile", lost, 0, Number("%.0f", lost), "0");
    const double silence = table.Counter(benchmark, "silence_ms");
    table.Goal("… their longest wait for a record", silence, kSilenceLimitMs,
               Number("%.1f ms", silence), Number("%.0f ms", kSilenceLimitMs));
  }
}

// Connects back to back beside three players streaming at 1000 records/s.
constexpr double kConnectSilenceLimitMs = 2;

void ConnectRows(Table& table) {
  const std::string label = "ZAVNConnectRx, 100 back to back, 3 players × 1000 records/s";
  if (!table.Has(name::kConnect, "connect_ms")) {
    table.Missing(label);
    return;
  }
  table.Reference(label, Number("%.3f ms a connect", table.Counter(name::kConnect, "connect_ms")));
  table.Reference("… the players' longest wait for a record without connects",
                  Number("%.1f ms", table.Counter(name::kConnect, "baseline_silence_ms")));
  const double lost = table.Counter(name::kConnect, "lost");
  table.Goal("… records the players lost meanwhile", lost, 0, Number("%.0f", lost), "0");
  const double silence = table.Counter(name::kConnect, "silence_ms");
  table.Goal("… their longest wait for a record", silence, kConnectSilenceLimitMs,
             Number("%.1f ms", silence), Number("%.0f ms", kConnectSilenceLimitMs));
}

// What recording a report into a capture costs the poll thread (4 players × 1000 records/s
// are 4000 a second).
constexpr double kCaptureLimitNs = 2000;

void CaptureRows(Table& table) {
  const Figure* on = table.Find(name::kCaptureOn);
  const Figure* off = table.Find(name::kCaptureOff);
  if (on == nullptr || off == nullptr) {
    table.Missing("a report recorded into a capture");
    return;
  }
  table.Goal("a report recorded into a capture, poll thread's cost", on->ns, kCaptureLimitNs,
             Time(on->ns), Time(kCaptureLimitNs));
  table.Reference("… the same call with no capture under way", Time(off->ns));
}

// A capture replayed at its captured timing: each report's arrival against its captured time.
constexpr double kReplayStrayLimitMs = 1;

void ReplayRows(Table& table) {
  const std::string label = "replay at the captured timing, 4 players × 1000/s: stray";
  if (!table.Has(name::kReplay, "p99_ms")) {
    table.Missing(label);
    return;
  }
  const double p99 = table.Counter(name::kReplay, "p99_ms");
  table.Goal(label + ", p99", p99, kReplayStrayLimitMs, Number("%.3f ms", p99),
             Number("%.0f ms", kReplayStrayLimitMs));
  table.Reference(label + ", p50 / max",
                  Number("%.3f ms", table.Counter(name::kReplay, "p50_ms")) +
                      Number(" / %.2f ms", table.Counter(name::kReplay, "max_ms")));
}

// The poll thread's whole motion work of a record has this goal (4 players x 1000 records/s are
// 4000 a second): counts to units, the time, the bias window, the attitude filter and the ring.
constexpr double kMotionLimitNs = 500;

// What the motion work adds to the poll thread's CPU at 4 players × 1000 records/s: the same
// stream with the work skipped and done, in alternating windows.
constexpr double kMotionPollLimitPercent = 0.3;
constexpr double kMotionRecordsPerSecond = 4000;

void MotionRows(Table& table) {
  const std::string label = "motion work of one record (units, bias, attitude, ring)";
  const Figure* motion = table.Find(name::kMotionRecord);
  if (motion != nullptr) {
    table.Goal(label, motion->ns, kMotionLimitNs, Time(motion->ns), Time(kMotionLimitNs));
  } else {
    table.Missing(label);
  }
  const std::string poll = "poll thread CPU, 4 players × 1000 records/s";
  if (!table.Has(name::kPollMotion, "skipped_percent")) {
    table.Missing(poll);
    return;
  }
  const double skipped = table.Counter(name::kPollMotion, "skipped_percent");
  const double done = table.Counter(name::kPollMotion, "cpu_percent");
  table.Reference(poll + ", motion work skipped", Number("%.3f %% of a core", skipped));
  table.Reference("… with the motion work, windows alternating", Number("%.3f %% of a core", done));
  table.Goal("… what the motion work adds", done - skipped, kMotionPollLimitPercent,
             Number("%.3f %% of a core", done - skipped),
             Number("%.1f %%", kMotionPollLimitPercent));
  if (motion != nullptr) {
    table.Reference("… one record's motion work × 4000 records/s",
                    Number("%.3f %%", motion->ns * kMotionRecordsPerSecond / kNsPerSecond * 100));
  }
}

// zavn-bridge's sample to DSU packet on loopback, as a client sees it: arrival less motion time.
constexpr double kBridgeP99LimitMs = 2;

void BridgeRows(Table& table) {
  const std::string label = "zavn-bridge sample → DSU packet, 4 players × 1000 records/s";
  if (!table.Has(name::kBridgeDsu, "p99_ms")) {
    table.Missing(label);
    return;
  }
  table.Reference(label + ", p50 / max",
                  Number("%.3f ms", table.Counter(name::kBridgeDsu, "p50_ms")) +
                      Number(" / %.2f ms", table.Counter(name::kBridgeDsu, "max_ms")));
  const double p99 = table.Counter(name::kBridgeDsu, "p99_ms");
  table.Goal(label + ", p99", p99, kBridgeP99LimitMs, Number("%.3f ms", p99),
             Number("%.0f ms", kBridgeP99LimitMs));
}

}  // namespace
}  // namespace zavn::bench

int main(int argc, char** argv) {
  using namespace zavn::bench;
  std::vector<char*> arguments;
  for (int k = 0; k < argc; ++k) {
    if (std::strcmp(argv[k], "--smoke") == 0) {
      g_options = {true, 0.001, 0.3, 50};
    } else {
      arguments.push_back(argv[k]);
    }
  }
  int count = static_cast<int>(arguments.size());
  benchmark::Initialize(&count, arguments.data());
  if (benchmark::ReportUnrecognizedArguments(count, arguments.data())) return 2;

  RegisterDecodeBenchmarks();
  RegisterStatusBenchmarks();
  RegisterPollBenchmarks();
  RegisterCaptureBenchmarks();
  RegisterMotionBenchmarks();
  RegisterBridgeBenchmarks();

  // The runs' details go to standard error, the table to standard output.
  Collector collector;
  collector.SetOutputStream(&std::cerr);
  collector.SetErrorStream(&std::cerr);
  benchmark::RunSpecifiedBenchmarks(&collector);
  benchmark::Shutdown();

  if (g_options.smoke) std::printf("smoke run: every benchmark ran, the figures mean nothing\n\n");
  Table table(collector);
  DecodeRows(table);
  StatusRows(table);
  PollRows(table);
  UpdateRows(table);
  ConnectRows(table);
  CaptureRows(table);
  ReplayRows(table);
  MotionRows(table);
  BridgeRows(table);
  table.Print();
  if (Failures() != 0 || table.MissingRows() != 0) {
    std::fprintf(stderr, "%d benchmark(s) failed, %d figure(s) missing\n", Failures(),
                 table.MissingRows());
    return 1;
  }
  return 0;
}
