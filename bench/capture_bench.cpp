// What a capture costs the poll thread: the copy of one report into the capture's ring, with a
// capture writing to a file meanwhile, beside the same call with no capture under way.
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <thread>

#include "bench_support.h"
#include "transport/capture.h"

namespace zavn::bench {
namespace {

constexpr std::uint32_t kReportLength = 32;
// Fewer than the ring holds; between two batches the writer empties it.
constexpr int kBatch = 1024;
constexpr int kBatches = 64;
constexpr auto kDrain = std::chrono::milliseconds(30);

void BM_CaptureReport(benchmark::State& state, bool capturing) {
  const std::string path = "/tmp/zavn-bench-" + std::to_string(getpid()) + ".pcapng";
  if (capturing && !transport::StartCapture(path.c_str())) {
    return Fail(state, "the capture did not start");
  }
  std::uint8_t report[kReportLength] = {0x02, '1', ';', 'A'};
  int inBatch = 0;
  for (auto _ : state) {
    transport::CaptureInput(inBatch % 4, report, kReportLength, kReportLength);
    if (++inBatch == kBatch && capturing) {
      state.PauseTiming();
      std::this_thread::sleep_for(kDrain);
      inBatch = 0;
      state.ResumeTiming();
    }
  }
  if (capturing && transport::StopCapture() != 0) Fail(state, "the capture dropped reports");
  std::remove(path.c_str());
}

}  // namespace

void RegisterCaptureBenchmarks() {
  // A fixed count: the pauses that let the writer catch up would stretch a timed run.
  const int batches = RunOptions().smoke ? 1 : kBatches;
  benchmark::RegisterBenchmark(name::kCaptureOn, BM_CaptureReport, true)
      ->Iterations(batches * kBatch);
  benchmark::RegisterBenchmark(name::kCaptureOff, BM_CaptureReport, false)
      ->Iterations(batches * kBatch);
}

}  // namespace zavn::bench
