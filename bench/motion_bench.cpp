// The motion work of one record on the poll thread: the gyro bias's window and the attitude
// filter, over a ring of records half lying still and half a hand's turn with tremor and tilt.
#include <cmath>

#include "bench_support.h"
#include "input/attitude.h"
#include "input/gyro_bias.h"

namespace zavn::bench {
namespace {

constexpr int kRecords = 2048;
constexpr float kDt = 0.001f;  // 1000 records/s
constexpr float kTwoPi = 6.2831853f;

struct Record {
  float gyroDps[3];
  float accelG[3];
};

void BM_MotionRecord(benchmark::State& state) {
  static Record records[kRecords];
  for (int n = 0; n < kRecords; ++n) {
    const float t = static_cast<float>(n) * kDt;
    const float moving = n < kRecords / 2 ? 0.0f : 1.0f;
    const float tremor = std::sin(kTwoPi * 7 * t);
    records[n] = {{1.5f + moving * 20 * tremor, -1 + 0.01f * tremor, 0.8f + moving * 90},
                  {moving * 0.2f * std::sin(kTwoPi * t), 0.003f * tremor, 1 - moving * 0.05f}};
  }
  input::GyroBias bias;
  input::Attitude attitude;
  const auto run = [&](const Record& record) {
    bias.Add(record.gyroDps, record.accelG, kDt);
    float rate[3];
    for (int k = 0; k < 3; ++k) rate[k] = record.gyroDps[k] - bias.BiasDps()[k];
    attitude.Update(record.accelG, rate, kDt);
  };
  // Once through the ring first: its still half must measure the bias.
  for (const Record& record : records) run(record);
  if (!bias.Measured()) return Fail(state, "the still records did not measure the bias");
  int n = 0;
  for (auto _ : state) {
    run(records[n]);
    benchmark::DoNotOptimize(attitude.Quaternion()[0]);
    n = (n + 1) % kRecords;
  }
}

}  // namespace

void RegisterMotionBenchmarks() {
  benchmark::RegisterBenchmark(name::kMotionRecord, BM_MotionRecord)->MinTime(RunOptions().minTime);
}

}  // namespace zavn::bench
