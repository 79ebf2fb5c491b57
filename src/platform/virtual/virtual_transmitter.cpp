#include "platform/virtual/virtual_transmitter.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace zavn::platform::virt {
namespace {

// Where the six values stand in the report: channel order 0, 1, 2, 5, 4, 3 from byte 4.
constexpr int kValueChannel[kMotionChannels] = {0, 1, 2, 5, 4, 3};
constexpr int kFirstValueByte = 4;
// Button bits 0..7, 8..15 and 16..22 are in these report bytes.
constexpr int kButtonByte[3] = {25, 24, 23};
constexpr int kButtons = 23;
constexpr std::uint64_t kPressPeriodSeconds = 2;
// The G-sensitivity switch: output report 06 and its value.
constexpr std::uint8_t kGSensitivitySwitch = 0x06;
constexpr std::uint32_t kSwitchLength = 2;
// Each transmitter's noise is its own, and the same in every run.
constexpr std::uint64_t kNoiseSeed = 0x5A56'0000;

bool Finite(const float* values, int count) {
  return values == nullptr ||
         std::all_of(values, values + count, [](float v) { return std::isfinite(v); });
}

}  // namespace

void VirtualTransmitter::Start(int player, int rateHz) {
  player_ = player;
  rateHz_ = rateHz;
  clockStarted_ = false;
  produced_ = 0;
  motion_.Start(player);
  sensor_.Start(kNoiseSeed + static_cast<std::uint64_t>(player));
}

bool VirtualTransmitter::HoldMotion(const float* accelG, const float* gyroDps) {
  if (!Finite(accelG, 3) || !Finite(gyroDps, 3)) return false;
  motion_.Hold(accelG, gyroDps);
  return true;
}

bool VirtualTransmitter::SetGyroBias(const float* biasDps) {
  if (!Finite(biasDps, 3)) return false;
  sensor_.SetGyroBias(biasDps);
  return true;
}

bool VirtualTransmitter::SetSensorErrors(const float* scale, const std::int32_t* zeroCounts) {
  if (!Finite(scale, kMotionChannels)) return false;
  sensor_.SetErrors(scale, zeroCounts);
  return true;
}

void VirtualTransmitter::Accept(const std::uint8_t* report, std::uint32_t length) {
  if (length == kSwitchLength && report[0] == kGSensitivitySwitch) {
    sensor_.SetGSensitivity(report[1]);
  }
}

std::uint64_t VirtualTransmitter::DueBy(std::uint32_t now) {
  if (!clockStarted_) {
    clockStarted_ = true;
    startTick_ = now;
  }
  return std::uint64_t{now - startTick_} * rateHz_ / 1000;
}

int VirtualTransmitter::ProduceDue(std::uint32_t now, Report* reports, int capacity, int keep) {
  if (!Streaming() || capacity <= 0 || keep <= 0) return 0;
  const std::uint64_t due = DueBy(now);
  if (due <= produced_) return 0;
  if (due - produced_ > static_cast<std::uint64_t>(keep)) produced_ = due - keep;
  int count = 0;
  while (produced_ < due && count < capacity) {
    BuildMotionReport(produced_++, reports[count++]);
  }
  return count;
}

std::uint32_t VirtualTransmitter::MsUntilNext(std::uint32_t now) {
  if (!Streaming() || DueBy(now) > produced_) return 0;
  // Report n is due once (now - start) * rate / 1000 exceeds n: from start + ceil((n + 1) * 1000
  // / rate) on.
  const std::uint64_t dueAt = ((produced_ + 1) * 1000 + rateHz_ - 1) / rateHz_;
  const std::uint64_t elapsed = now - startTick_;
  return dueAt > elapsed ? static_cast<std::uint32_t>(dueAt - elapsed) : 0;
}

void VirtualTransmitter::SkipDue(std::uint32_t now) {
  if (Streaming()) produced_ = std::max(produced_, DueBy(now));
}

void VirtualTransmitter::BuildMotionReport(std::uint64_t sample, Report& report) const {
  std::memset(report, 0, sizeof report);
  report[0] = 0x02;
  report[3] = 'A';
  for (int k = 0; k < 4; ++k) {
    report[kSampleNumberByte + k] = static_cast<std::uint8_t>(sample >> (8 * (3 - k)));
  }
  std::uint16_t counts[kMotionChannels];
  sensor_.Counts(motion_.At(static_cast<double>(sample) / rateHz_), sample, counts);
  for (int k = 0; k < kMotionChannels; ++k) {
    const std::uint16_t value = counts[kValueChannel[k]];
    report[kFirstValueByte + 2 * k] = static_cast<std::uint8_t>(value >> 8);
    report[kFirstValueByte + 2 * k + 1] = static_cast<std::uint8_t>(value & 0xFF);
  }
  const std::uint64_t period = kPressPeriodSeconds * rateHz_;
  if (sample % period < period * 3 / 10) {
    const int button = static_cast<int>((player_ * 5 + sample / period) % kButtons);
    report[kButtonByte[button / 8]] |= static_cast<std::uint8_t>(1u << (button % 8));
  }
}

}  // namespace zavn::platform::virt
