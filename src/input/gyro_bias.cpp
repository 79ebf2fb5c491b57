#include "input/gyro_bias.h"

#include <cmath>

namespace zavn::input {

void GyroBias::StartWindow(const float gyroDps[3], const float accelG[3]) {
  seconds_ = 0;
  for (int k = 0; k < 3; ++k) {
    first_[k] = gyroDps[k];
    first_[k + 3] = accelG[k];
  }
  for (int k = 0; k < 6; ++k) sum_[k] = squares_[k] = 0;
}

void GyroBias::Add(const float gyroDps[3], const float accelG[3], float dtSeconds) {
  // A record with no time since the previous one (read in the same batch) weighs nothing.
  if (dtSeconds <= 0) return;
  // The first record of a window is the reference of its sums (its own differences are 0); a
  // record after a gap starts a window, and counts no time in it.
  if (seconds_ <= 0 || !(dtSeconds <= kMaxRecordGapSeconds)) {
    StartWindow(gyroDps, accelG);
    seconds_ = dtSeconds <= kMaxRecordGapSeconds ? dtSeconds : 0;
    return;
  }
  for (int k = 0; k < 6; ++k) {
    const float d = (k < 3 ? gyroDps[k] : accelG[k - 3]) - first_[k];
    sum_[k] += d * dtSeconds;
    squares_[k] += d * d * dtSeconds;
  }
  seconds_ += dtSeconds;
  if (seconds_ >= kBiasWindowSeconds) EndWindow();
}

void GyroBias::EndWindow() {
  float mean[6];
  still_ = true;
  for (int k = 0; k < 6; ++k) {
    const float offset = sum_[k] / seconds_;
    const float variance = squares_[k] / seconds_ - offset * offset;
    const float spread = k < 3 ? kStillGyroSpreadDps : kStillAccelSpreadG;
    still_ = still_ && variance <= spread * spread;
    mean[k] = first_[k] + offset;
  }
  const float rate = std::sqrt(mean[0] * mean[0] + mean[1] * mean[1] + mean[2] * mean[2]);
  const float gravity = std::sqrt(mean[3] * mean[3] + mean[4] * mean[4] + mean[5] * mean[5]);
  still_ = still_ && rate <= kMaxBiasDps && std::fabs(gravity - 1) <= kStillGravityToleranceG;
  if (still_) {
    ++stillWindows_;
    const float weight = std::fmax(1.0f / static_cast<float>(stillWindows_), kBiasSteadyWeight);
    for (int k = 0; k < 3; ++k) bias_[k] += (mean[k] - bias_[k]) * weight;
  }
  seconds_ = 0;  // the next record starts the next window
}

}  // namespace zavn::input
