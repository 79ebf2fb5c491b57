// The gyro's bias (what it reads at rest; it drifts with temperature), measured whenever the
// controller lies still, so that a still controller reads no rotation and its attitude does not
// turn by itself. Runs on the poll thread for every motion record: float sums, no allocation.
//
// Records are taken in windows of kBiasWindowSeconds of time (summed dtSeconds, so the rule is
// the same at 100 and at 1000 records/s), each record weighted by its dt. A window is still when
//  - on each axis the rotation rate's standard deviation is at most kStillGyroSpreadDps: sensor
//    noise is at most 0.1 deg/s RMS, a hand's tremor well beyond it even while it pans slowly;
//  - on each axis the acceleration's standard deviation is at most kStillAccelSpreadG (noise is
//    at most 0.01 g RMS), and the mean acceleration is within kStillGravityToleranceG of 1 g;
//  - the mean rotation rate's magnitude is at most kMaxBiasDps: a steadier rate than a hand's
//    but a larger one is a turn (a turntable), not a bias.
// A still window's mean rate moves the bias by the weight 1/n for the n-th still window (the
// mean of them all: a fast start), never less than kBiasSteadyWeight: a bias that changes (the
// sensor warming up) is followed within a few windows, 3 % left after five. A record after a gap
// longer than kMaxRecordGapSeconds starts the window anew; one with no time since the previous
// weighs nothing. What the rule cannot tell: a rotation slower than kMaxBiasDps about the vertical,
// smooth as no hand holds it, reads as a bias.
#pragma once

namespace zavn::input {

inline constexpr float kBiasWindowSeconds = 0.5f;
inline constexpr float kStillGyroSpreadDps = 0.3f;
inline constexpr float kStillAccelSpreadG = 0.03f;
inline constexpr float kStillGravityToleranceG = 0.1f;
inline constexpr float kMaxBiasDps = 5.0f;
inline constexpr float kBiasSteadyWeight = 0.5f;
inline constexpr float kMaxRecordGapSeconds = 0.1f;

class GyroBias {
 public:
  // One record: the rotation rate as measured (deg/s, bias not taken out), the acceleration
  // (g), and the seconds since the previous record.
  void Add(const float gyroDps[3], const float accelG[3], float dtSeconds);
  // The bias to subtract from the rotation rate, deg/s; zeros until measured.
  const float* BiasDps() const { return bias_; }
  bool Measured() const { return stillWindows_ > 0; }
  // Whether the last whole window was still.
  bool Still() const { return still_; }
  // Forgets the bias; it is measured anew.
  void Reset() { *this = GyroBias(); }

 private:
  void StartWindow(const float gyroDps[3], const float accelG[3]);
  void EndWindow();

  float bias_[3] = {};
  int stillWindows_ = 0;
  bool still_ = false;
  // The window: time, and per channel (gyro x, y, z, accel x, y, z) the dt-weighted sums of
  // each record's difference from the window's first record (which keeps the spread exact in
  // float even beside a large rate).
  float seconds_ = 0;
  float first_[6] = {};
  float sum_[6] = {};
  float squares_[6] = {};
};

}  // namespace zavn::input
