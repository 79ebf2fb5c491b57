#include "platform/virtual/virtual_transmitter.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace zavn::platform::virt {
namespace {

constexpr double kTwoPi = 6.283185307179586;
constexpr int kCentre = 32768;
constexpr int kChannels = 6;
// Where the six values stand in the report: channel order 0, 1, 2, 5, 4, 3 from byte 4.
constexpr int kValueChannel[kChannels] = {0, 1, 2, 5, 4, 3};
constexpr int kFirstValueByte = 4;
// Button bits 0..7, 8..15 and 16..22 are in these report bytes.
constexpr int kButtonByte[3] = {25, 24, 23};
constexpr int kButtons = 23;
constexpr std::uint64_t kPressPeriodSeconds = 2;

}  // namespace

void VirtualTransmitter::Start(int player, int rateHz) {
  player_ = player;
  rateHz_ = rateHz;
  clockStarted_ = false;
  produced_ = 0;
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
    BuildMotionReport(player_, produced_++, rateHz_, reports[count++]);
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

void VirtualTransmitter::BuildMotionReport(int player, std::uint64_t sample, int rateHz,
                                           Report& report) {
  std::memset(report, 0, sizeof report);
  report[0] = 0x02;
  report[3] = 'A';
  for (int k = 0; k < 4; ++k) {
    report[kSampleNumberByte + k] = static_cast<std::uint8_t>(sample >> (8 * (3 - k)));
  }
  const double seconds = static_cast<double>(sample) / rateHz;
  for (int k = 0; k < kChannels; ++k) {
    const int channel = kValueChannel[k];
    const double hertz = 0.4 + 0.13 * channel + 0.07 * player;
    const double amplitude = 8000.0 + 1500.0 * player;
    const auto value = static_cast<std::uint16_t>(
        kCentre + std::lround(amplitude * std::sin(kTwoPi * hertz * seconds + player * 1.3)));
    report[kFirstValueByte + 2 * k] = static_cast<std::uint8_t>(value >> 8);
    report[kFirstValueByte + 2 * k + 1] = static_cast<std::uint8_t>(value & 0xFF);
  }
  const std::uint64_t period = kPressPeriodSeconds * rateHz;
  if (sample % period < period * 3 / 10) {
    const int button = static_cast<int>((player * 5 + sample / period) % kButtons);
    report[kButtonByte[button / 8]] |= static_cast<std::uint8_t>(1u << (button % 8));
  }
}

}  // namespace zavn::platform::virt
