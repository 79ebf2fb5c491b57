// A virtual transmitter: streams motion records through its receiver's data interface at a fixed
// rate. Records are produced when the library reads, from the library's clock, so no thread runs
// and tests on a stepped clock see exactly the records that are due.
#pragma once

#include <cstdint>

namespace zavn::platform::virt {

inline constexpr int kStreamReportLength = 32;
inline constexpr int kMaxStreamRateHz = 1000;
// Each motion report carries its sample number (from 0, wrapping), big-endian, in bytes the
// library does not decode but hands on in RawRecord at the same offset: a host can count
// records lost or repeated.
inline constexpr int kSampleNumberByte = 16;

class VirtualTransmitter {
 public:
  using Report = std::uint8_t[kStreamReportLength];

  // Starts streaming as the given player (0..3) at rateHz (1..kMaxStreamRateHz); 0 stops.
  void Start(int player, int rateHz);
  bool Streaming() const { return rateHz_ > 0; }

  // Writes the reports due by `now` into `reports`, the oldest first, at most `capacity` of them,
  // and returns their number; call again while it returns `capacity`. Of more than `keep` due
  // reports only the newest `keep` are produced, as a full driver queue keeps. The first call
  // starts the clock.
  int ProduceDue(std::uint32_t now, Report* reports, int capacity, int keep);
  // Drops the reports due by `now`: sent while nobody listened.
  void SkipDue(std::uint32_t now);
  // Milliseconds from `now` until the next report is due; 0 when one is due already.
  std::uint32_t MsUntilNext(std::uint32_t now);

  // The motion report of one sample: smooth motion distinct per player, with a button held
  // for 0.6 s every two seconds.
  static void BuildMotionReport(int player, std::uint64_t sample, int rateHz, Report& report);

 private:
  std::uint64_t DueBy(std::uint32_t now);

  int player_ = 0;
  int rateHz_ = 0;
  bool clockStarted_ = false;
  std::uint32_t startTick_ = 0;
  std::uint64_t produced_ = 0;
};

}  // namespace zavn::platform::virt
