#include "input/attitude.h"

#include <algorithm>
#include <cmath>

namespace zavn::input {
namespace {

constexpr float kRadPerDeg = 3.14159265358979f / 180;
// Below this, 1 - (y axis' vertical component)^2: the forward axis points within about 10
// degrees of straight up or down, where its heading hardly exists; the correction's heading
// term is held at this level.
constexpr float kMinLevel = 0.03f;
// Half the turn of one record, squared, up to which the series of cos and sin/x below are exact
// to float precision (half a radian: 57 degrees a record).
constexpr float kSeriesLimit = 0.25f;

}  // namespace

void Attitude::StartFromGravity(const float a[3], float norm) {
  // Gravity (world up) in the controller's frame is (-cos p sin r, sin p, cos p cos r) for pitch
  // p about x and roll r about y; the attitude is pitch then roll, yaw 0.
  const float pitch = std::asin(std::clamp(a[1] / norm, -1.0f, 1.0f));
  const float roll = std::atan2(-a[0], a[2]);
  const float cp = std::cos(pitch / 2), sp = std::sin(pitch / 2);
  const float cr = std::cos(roll / 2), sr = std::sin(roll / 2);
  q_[0] = cp * cr;
  q_[1] = sp * cr;
  q_[2] = cp * sr;
  q_[3] = sp * sr;
  started_ = true;
}

void Attitude::Update(const float a[3], const float gyroDps[3], float dt) {
  const float norm = std::sqrt(a[0] * a[0] + a[1] * a[1] + a[2] * a[2]);
  if (!started_) {
    if (norm > 0 && std::isfinite(norm)) StartFromGravity(a, norm);
    return;
  }
  if (!(dt > 0)) return;
  const float w = q_[0], x = q_[1], y = q_[2], z = q_[3];
  float rate[3] = {gyroDps[0] * kRadPerDeg, gyroDps[1] * kRadPerDeg, gyroDps[2] * kRadPerDeg};
  if (std::fabs(norm - 1) <= kGravityGateG) {
    // Gravity as the attitude has it, in the controller's frame: the world's z axis.
    const float v[3] = {2 * (x * z - w * y), 2 * (y * z + w * x), w * w - x * x - y * y + z * z};
    // The rate that turns v towards the measured gravity: gain times measured x estimated, at
    // most the whole error in one record (a long dt would overshoot).
    const float k = (gain_ * dt > 1 ? 1 / dt : gain_) / norm;
    float c[3] = {k * (a[1] * v[2] - a[2] * v[1]), k * (a[2] * v[0] - a[0] * v[2]),
                  k * (a[0] * v[1] - a[1] * v[0])};
    // c is horizontal; its effect on the y axis' heading is v[1] c[1] / (1 - v[1]^2), cancelled
    // by that much rate about the vertical.
    const float turn = v[1] * c[1] / std::max(1 - v[1] * v[1], kMinLevel);
    for (int i = 0; i < 3; ++i) rate[i] += c[i] + turn * v[i];
  }
  // The rotation of a constant rate over dt, exactly: the quaternion (cos h, sin h * axis) with
  // h half the angle, by series in h^2 (no square root, no trig) for any turn a record can make.
  const float h2 = (rate[0] * rate[0] + rate[1] * rate[1] + rate[2] * rate[2]) * dt * dt / 4;
  float cosH, scale;  // scale = sin(h) / |rate|, which times rate is sin(h) * axis
  if (h2 < kSeriesLimit) {
    cosH = 1 - h2 / 2 * (1 - h2 / 12 * (1 - h2 / 30));
    scale = dt / 2 * (1 - h2 / 6 * (1 - h2 / 20 * (1 - h2 / 42)));
  } else {
    const float h = std::sqrt(h2);
    cosH = std::cos(h);
    scale = dt / 2 * std::sin(h) / h;
  }
  const float p = rate[0] * scale, r = rate[1] * scale, s = rate[2] * scale;
  // q times the step's rotation (the rate is in the controller's frame), then normalized.
  float n[4] = {w * cosH - x * p - y * r - z * s, w * p + x * cosH + y * s - z * r,
                w * r - x * s + y * cosH + z * p, w * s + x * r - y * p + z * cosH};
  const float length = std::sqrt(n[0] * n[0] + n[1] * n[1] + n[2] * n[2] + n[3] * n[3]);
  for (int i = 0; i < 4; ++i) q_[i] = n[i] * (1 / length);
}

}  // namespace zavn::input
