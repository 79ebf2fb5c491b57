// The motion work of one record on the poll thread, whole: the profile's counts to g and deg/s,
// the record's time, the gyro bias's window, the attitude filter and the ring, over a ring of
// records half lying still and half a hand's turn with tremor and tilt.
#include <cmath>
#include <memory>

#include "bench_support.h"
#include "input/motion.h"
#include "zavn/zavn_motion.h"

namespace zavn::bench {
namespace {

constexpr int kRecords = 2048;
constexpr std::int64_t kIntervalUs = 1000;  // 1000 records/s
constexpr float kTwoPi = 6.2831853f;

void BM_MotionRecord(benchmark::State& state) {
  static std::int32_t counts[kRecords][ZAVN_MOTION_CHANNELS];
  for (int n = 0; n < kRecords; ++n) {
    const float t = static_cast<float>(n) * 1e-3f;
    const float moving = n < kRecords / 2 ? 0.0f : 1.0f;
    const float tremor = std::sin(kTwoPi * 7 * t);
    const float accel[3] = {moving * 0.2f * std::sin(kTwoPi * t), 0.003f * tremor,
                            1 - moving * 0.05f};
    const float gyro[3] = {1.5f + moving * 20 * tremor, -1 + 0.01f * tremor, 0.8f + moving * 90};
    const auto count = [](float value, double perUnit) {
      return static_cast<std::int32_t>(ZAVN_MOTION_DEFAULT_ZERO + std::lround(value * perUnit));
    };
    for (int k = 0; k < 3; ++k) {
      counts[n][k] = count(accel[k], ZAVN_MOTION_DEFAULT_COUNTS_PER_G);
      counts[n][3 + k] = count(gyro[k], ZAVN_MOTION_DEFAULT_COUNTS_PER_DPS);
    }
  }
  auto status = std::make_unique<PlayerStatus>();
  input::ResetMotion();
  std::int64_t now = 0;
  int n = 0;
  const auto run = [&] {
    std::copy(std::begin(counts[n]), std::end(counts[n]), status->Motion);
    input::AddMotionRecord(1, *status, {now += kIntervalUs, 0, 1});
    n = (n + 1) % kRecords;
  };
  // Once through the ring first: its still half must measure the bias.
  for (int k = 0; k < kRecords; ++k) run();
  float bias[3];
  if (ZAVNGetGyroBias(1, bias) != 1)
    return Fail(state, "the still records did not measure the bias");
  for (auto _ : state) run();
  input::ResetMotion();
}

}  // namespace

void RegisterMotionBenchmarks() {
  benchmark::RegisterBenchmark(name::kMotionRecord, BM_MotionRecord)->MinTime(RunOptions().minTime);
}

}  // namespace zavn::bench
