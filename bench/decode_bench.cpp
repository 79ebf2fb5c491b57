// The decoder over whole buffers as one read leaves them, beside memchr and memcpy over the same
// 4096 bytes. A decode clears its buffer, so each iteration first refills it with one memcpy of
// 4096 bytes: the table takes the memcpy benchmark's time off the decode's.
#include <cstring>

#include "bench_support.h"
#include "input/decoder.h"
#include "input/status_records.h"
#include "platform/virtual/virtual_transmitter.h"
#include "transport/input_buffer.h"
#include "zavn/zavn.h"

namespace zavn::bench {
namespace {

using transport::InputBuffer;
using transport::kInputBufferSize;

constexpr int kShortReports = 64;
constexpr int kLongReports = 32;
constexpr int kShortLength = 32;
constexpr int kLongLength = 64;
constexpr int kStreamRateHz = 200;
// Not player 1: its records also go to the game plug-in dispatch, which the reset switches off.
constexpr std::int32_t kDecodePlayer = 2;

// The extension half of a long report: "J", a valid triple, two bytes and flags.
constexpr int kExtensionLetter = 32;
constexpr int kExtensionTriple = kExtensionLetter + 7;
constexpr int kExtensionFlags = kExtensionLetter + 15;
constexpr std::uint8_t kValidWithFlags = 0x85;

// Motion reports as the virtual transmitter streams them, one after another from byte 0.
InputBuffer MotionBuffer(int reports, int stride) {
  InputBuffer buffer{};
  platform::virt::VirtualTransmitter transmitter;
  transmitter.Start(1, kStreamRateHz);
  for (int k = 0; k < reports; ++k) {
    platform::virt::VirtualTransmitter::Report motion;
    transmitter.BuildMotionReport(static_cast<std::uint64_t>(k), motion);
    std::uint8_t* report = &buffer[static_cast<std::size_t>(k * stride)];
    std::memcpy(report, motion, sizeof motion);
    if (stride == kLongLength) {
      report[kExtensionLetter] = 'J';
      for (int byte = 0; byte < 6; ++byte) {
        report[kExtensionTriple + byte] = static_cast<std::uint8_t>(0x30 + k + byte);
      }
      report[kExtensionFlags] = kValidWithFlags;
    }
  }
  return buffer;
}

void BM_Decode(benchmark::State& state, int reports, int stride) {
  ZAVNReset();
  const InputBuffer filled = MotionBuffer(reports, stride);
  InputBuffer buffer = filled;
  input::Decode(buffer, kDecodePlayer);
  // The buffer must be walked record by record, not passed over for too many letters.
  if (input::LibraryStatus(kDecodePlayer).MotionCount != reports) {
    Fail(state, "the buffer did not decode into one sample per report");
    return;
  }
  for (auto _ : state) {
    std::memcpy(buffer.data(), filled.data(), kInputBufferSize);
    input::Decode(buffer, kDecodePlayer);
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(kInputBufferSize));
}

void BM_Memcpy(benchmark::State& state) {
  const InputBuffer filled = MotionBuffer(kShortReports, kShortLength);
  InputBuffer buffer;
  benchmark::DoNotOptimize(buffer.data());
  for (auto _ : state) {
    std::memcpy(buffer.data(), filled.data(), kInputBufferSize);
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(kInputBufferSize));
}

void BM_Memchr(benchmark::State& state) {
  InputBuffer buffer = MotionBuffer(kShortReports, kShortLength);
  benchmark::DoNotOptimize(buffer.data());
  for (auto _ : state) {
    benchmark::DoNotOptimize(std::memchr(buffer.data(), 0xFF, kInputBufferSize));
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(kInputBufferSize));
}

}  // namespace

void RegisterDecodeBenchmarks() {
  const double minTime = RunOptions().minTime;
  benchmark::RegisterBenchmark(name::kDecodeShort, BM_Decode, kShortReports, kShortLength)
      ->MinTime(minTime);
  benchmark::RegisterBenchmark(name::kDecodeLong, BM_Decode, kLongReports, kLongLength)
      ->MinTime(minTime);
  benchmark::RegisterBenchmark(name::kDecodeEmpty, BM_Decode, 0, kShortLength)->MinTime(minTime);
  benchmark::RegisterBenchmark(name::kRefill, BM_Memcpy)->MinTime(minTime);
  benchmark::RegisterBenchmark(name::kMemchr, BM_Memchr)->MinTime(minTime);
}

}  // namespace zavn::bench
