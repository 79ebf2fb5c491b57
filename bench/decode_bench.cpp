// The decoder and the snapshot, each beside the plain memory operation over the same bytes:
// memchr over the decoder's buffer, memcpy of a whole PlayerStatus.
#include <benchmark/benchmark.h>

#include <array>
#include <cstring>
#include <memory>

#include "input/decoder.h"
#include "transport/input_buffer.h"
#include "zavn/zavn.h"

namespace {

constexpr int kReports = 64;
constexpr int kReportLength = 32;

// A buffer as one read leaves it: 64 short motion reports, then zeros.
zavn::transport::InputBuffer MotionBuffer() {
  zavn::transport::InputBuffer buffer{};
  for (int k = 0; k < kReports; ++k) {
    std::uint8_t* report = &buffer[static_cast<std::size_t>(k * kReportLength)];
    report[0] = 0x02;
    report[3] = 'A';
    for (int byte = 4; byte < 16; ++byte) report[byte] = static_cast<std::uint8_t>(k + byte);
  }
  return buffer;
}

// Each iteration refills the buffer, since a decode clears it; the baseline does the same.
void BM_DecodeMotionBuffer(benchmark::State& state) {
  ZAVNReset();
  const zavn::transport::InputBuffer filled = MotionBuffer();
  zavn::transport::InputBuffer buffer;
  for (auto _ : state) {
    std::memcpy(buffer.data(), filled.data(), buffer.size());
    zavn::input::Decode(buffer, 2);
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(buffer.size()));
}
BENCHMARK(BM_DecodeMotionBuffer);

void BM_MemchrMotionBuffer(benchmark::State& state) {
  const zavn::transport::InputBuffer filled = MotionBuffer();
  zavn::transport::InputBuffer buffer;
  for (auto _ : state) {
    std::memcpy(buffer.data(), filled.data(), buffer.size());
    benchmark::DoNotOptimize(std::memchr(buffer.data(), 0xFF, buffer.size()));
    std::memset(buffer.data(), 0, buffer.size());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(buffer.size()));
}
BENCHMARK(BM_MemchrMotionBuffer);

void BM_GetStatus(benchmark::State& state) {
  ZAVNReset();
  zavn::transport::InputBuffer buffer = MotionBuffer();
  zavn::input::Decode(buffer, 1);  // a completed decode: the history part is handed over
  auto out = std::make_unique<PlayerStatus>();
  for (auto _ : state) {
    ZAVNGetStatus(1, out.get());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(sizeof(PlayerStatus)));
}
BENCHMARK(BM_GetStatus);

void BM_MemcpyPlayerStatus(benchmark::State& state) {
  auto from = std::make_unique<PlayerStatus>();
  auto to = std::make_unique<PlayerStatus>();
  std::memset(from.get(), 1, sizeof(PlayerStatus));
  for (auto _ : state) {
    std::memcpy(to.get(), from.get(), sizeof(PlayerStatus));
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(sizeof(PlayerStatus)));
}
BENCHMARK(BM_MemcpyPlayerStatus);

}  // namespace

BENCHMARK_MAIN();
