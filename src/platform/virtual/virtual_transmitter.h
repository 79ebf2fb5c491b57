// A virtual transmitter: streams motion records through its receiver's data interface at a fixed
// rate. Records are produced when the library reads, from the library's clock, so no thread runs
// and tests on a stepped clock see exactly the records that are due.
#pragma once

#include <cstdint>

#include "platform/virtual/motion_model.h"
#include "platform/virtual/sensor_model.h"

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

  // Starts streaming as the given player (0..3) at rateHz (1..kMaxStreamRateHz); 0 stops. Its
  // motion follows the player's path, its sensors exact but for their noise.
  void Start(int player, int rateHz);
  bool Streaming() const { return rateHz_ > 0; }
  // Whether a read has started the clock: before, no record is due.
  bool ClockStarted() const { return clockStarted_; }

  // Changes that apply to the records built from now on; false, changing nothing, for a value
  // that is not finite (null pointers: see MotionModel::Hold and SensorModel).
  bool HoldMotion(const float* accelG, const float* gyroDps);
  bool SetGyroBias(const float* biasDps);
  bool SetSensorErrors(const float* scale, const std::int32_t* zeroCounts);
  // A host output report: the G-sensitivity switch sets the accelerometer's range.
  void Accept(const std::uint8_t* report, std::uint32_t length);

  // Writes the reports due by `now` into `reports`, the oldest first, at most `capacity` of them,
  // and returns their number; call again while it returns `capacity`. Of more than `keep` due
  // reports only the newest `keep` are produced, as a full driver queue keeps. The first call
  // starts the clock.
  int ProduceDue(std::uint32_t now, Report* reports, int capacity, int keep);
  // Drops the reports due by `now`: sent while nobody listened.
  void SkipDue(std::uint32_t now);
  // Milliseconds from `now` until the next report is due; 0 when one is due already.
  std::uint32_t MsUntilNext(std::uint32_t now);

  // The motion report of one sample: what the sensors read of the motion at the sample's time,
  // with a button held for 0.6 s every two seconds.
  void BuildMotionReport(std::uint64_t sample, Report& report) const;

 private:
  std::uint64_t DueBy(std::uint32_t now);

  int player_ = 0;
  int rateHz_ = 0;
  bool clockStarted_ = false;
  std::uint32_t startTick_ = 0;
  std::uint64_t produced_ = 0;
  MotionModel motion_;
  SensorModel sensor_;
};

}  // namespace zavn::platform::virt
