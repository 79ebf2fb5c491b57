// A virtual transmitter: streams motion records through its receiver's data interface at a fixed
// rate. Records are produced when the library reads, from the library's clock, so no thread runs
// and tests on a stepped clock see exactly the records that are due.
#pragma once

#include <cstdint>

namespace zavn::platform::virt {

inline constexpr int kStreamReportLength = 32;
inline constexpr int kMaxStreamRateHz = 1000;

class VirtualTransmitter {
 public:
  using Report = std::uint8_t[kStreamReportLength];

  // Starts streaming as the given player (0..3) at rateHz (1..kMaxStreamRateHz); 0 stops.
  void Start(int player, int rateHz);
  bool Streaming() const { return rateHz_ > 0; }

  // Writes the reports due by `now` into `reports`, at most `capacity` of them (the newest, as a
  // full driver queue keeps), and returns their number. The first call starts the clock.
  int ProduceDue(std::uint32_t now, Report* reports, int capacity);

  // The motion report of one sample: smooth motion distinct per player, with a button held
  // for 0.6 s every two seconds.
  static void BuildMotionReport(int player, std::uint64_t sample, int rateHz, Report& report);

 private:
  int player_ = 0;
  int rateHz_ = 0;
  bool clockStarted_ = false;
  std::uint32_t startTick_ = 0;
  std::uint64_t produced_ = 0;
};

}  // namespace zavn::platform::virt
