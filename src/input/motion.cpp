#include "input/motion.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "input/attitude.h"
#include "input/gyro_bias.h"
#include "input/motion_profile.h"
#include "platform/never_destroyed.h"
#include "platform/system.h"
#include "transport/hid_device.h"
#include "zavn/zavn_motion.h"

namespace zavn::input {
namespace {

using platform::LockGuard;

constexpr int kPlayers = 4;
// A sample further from the one before than this starts the filters' step afresh: the link
// stalled, and integrating across the gap would turn the attitude by what the gap's last
// reading says.
constexpr std::int64_t kLongestStepUs = 100000;
// How quickly the estimate of the record interval follows what the reads show.
constexpr double kIntervalFollow = 0.05;

// The profile set in use; null: the defaults. Its lock is a leaf.
struct Profiles {
  platform::Lock lock;
  std::shared_ptr<const ProfileSet> set;  // under lock
  std::atomic<std::uint32_t> generation{1};
};
platform::NeverDestroyed<Profiles> g_profiles;

std::shared_ptr<const ProfileSet> CurrentProfiles() {
  LockGuard guard(g_profiles->lock);
  if (g_profiles->set == nullptr) g_profiles->set = std::make_shared<const ProfileSet>();
  return g_profiles->set;
}

// One channel's counts to its unit, sign included, resolved from the profile.
struct ChannelScale {
  bool gyro = false;
  int axis = 0;
  float zero = 0;
  float unitsPerCount = 0;
};

struct PlayerMotion {
  // The poll thread's, under the status lock.
  bool started = false;
  std::uint32_t takes = 0;
  std::uint32_t sample = 0;
  std::int64_t lastUs = 0, lastReadUs = 0;
  double intervalUs = 0;  // between records, as the reads show it
  GyroBias bias;
  Attitude attitude;
  std::uint32_t resolvedGeneration = 0;
  std::int32_t resolvedSensitivity = -1;
  std::uint8_t serial[sizeof(PlayerStatus::SerialBlock)] = {};  // as last resolved
  std::array<ChannelScale, ZAVN_MOTION_CHANNELS> scale;
  std::atomic<std::int32_t> sensitivity{-1};  // the host's last switch; -1: none yet
  std::atomic<std::int32_t> mode{ZAVN_CALIBRATION_AUTO};
  std::atomic<bool> restart{false};

  platform::Lock lock;  // a leaf: the ring, the reading position and the published bias
  std::array<ZAVNMotionSample, ZAVN_MOTION_RING> ring{};
  std::uint64_t written = 0, read = 0;
  float publishedBias[3] = {};
  bool biasMeasured = false;
};
platform::NeverDestroyed<std::array<PlayerMotion, kPlayers>> g_players;

std::atomic<bool> g_skipWork{false};  // SkipMotionWork's flag

void Resolve(PlayerMotion& m, std::int32_t player, const std::uint8_t (&serial)[16],
             std::uint32_t generation, std::int32_t sensitivity) {
  const std::shared_ptr<const ProfileSet> set = CurrentProfiles();
  const SensorProfile& profile = set->For(player, PrintableSerial(serial));
  const float factor = sensitivity >= 0 && sensitivity < kGSensitivityValues
                           ? profile.gSensitivityFactor[sensitivity]
                           : 1.0f;
  for (int k = 0; k < ZAVN_MOTION_CHANNELS; ++k) {
    const ChannelRule& rule = profile.channels[k];
    const float counts = rule.countsPerUnit * (rule.gyro ? 1.0f : factor);
    m.scale[k] = {rule.gyro, rule.axis, rule.zero, rule.sign / counts};
  }
  std::memcpy(m.serial, serial, sizeof m.serial);
  m.resolvedGeneration = generation;
  m.resolvedSensitivity = sensitivity;
}

// A new interface in the player's slot: a controller's motion starts afresh.
void Start(PlayerMotion& m, std::uint32_t takes) {
  m.started = true;
  m.takes = takes;
  m.sample = 0;
  m.lastUs = m.lastReadUs = 0;
  m.intervalUs = 0;
  m.bias.Reset();
  m.attitude.Reset();
  LockGuard guard(m.lock);
  m.read = m.written;
  m.biasMeasured = false;
  std::fill(std::begin(m.publishedBias), std::end(m.publishedBias), 0.0f);
}

// When the record was sampled: its read's time, less the record interval for each record that
// came after it in the same read, never before the previous sample.
std::int64_t SampleTime(PlayerMotion& m, const MotionRead& read) {
  if (read.index == 0) {
    const std::int64_t sinceRead = read.timeUs - m.lastReadUs;
    if (m.lastReadUs != 0 && sinceRead > 0 && sinceRead < kLongestStepUs && read.records > 0) {
      const double observed = static_cast<double>(sinceRead) / read.records;
      m.intervalUs =
          m.intervalUs == 0 ? observed : m.intervalUs + kIntervalFollow * (observed - m.intervalUs);
    }
    m.lastReadUs = read.timeUs;
  }
  const auto behind = static_cast<std::int64_t>(m.intervalUs * (read.records - 1 - read.index));
  std::int64_t at = read.timeUs - std::max<std::int64_t>(behind, 0);
  if (m.sample > 0) at = std::max(at, m.lastUs + 1);
  return std::min(at, read.timeUs);
}

void ApplyCalibrationMode(PlayerMotion& m) {
  if (m.restart.exchange(false)) m.bias.Reset();
  if (m.mode == ZAVN_CALIBRATION_OFF) m.bias.Reset();
}

}  // namespace

void AddMotionRecord(std::int32_t player, const PlayerStatus& status, const MotionRead& read) {
  if (g_skipWork.load(std::memory_order_relaxed)) return;
  if (player < 1 || player > kPlayers) return;
  PlayerMotion& m = (*g_players)[player - 1];
  const std::uint32_t takes = transport::Slot(player - 1).Takes();
  if (!m.started || takes != m.takes) Start(m, takes);
  const std::uint32_t generation = g_profiles->generation;
  const std::int32_t sensitivity = m.sensitivity;
  // The profile is looked up again only when what selects it changed, not at every record.
  if (generation != m.resolvedGeneration || sensitivity != m.resolvedSensitivity ||
      std::memcmp(status.SerialBlock, m.serial, sizeof m.serial) != 0) {
    Resolve(m, player, status.SerialBlock, generation, sensitivity);
  }

  ZAVNMotionSample out{};
  out.timeUs = SampleTime(m, read);
  out.sample = ++m.sample;
  for (int k = 0; k < ZAVN_BUTTON_COUNT && k < 32; ++k) {
    out.buttons |= static_cast<std::uint32_t>(status.Buttons[k] & 1) << k;
  }
  for (int k = 0; k < ZAVN_MOTION_CHANNELS; ++k) {
    const ChannelScale& c = m.scale[k];
    const float value = (static_cast<float>(status.Motion[k]) - c.zero) * c.unitsPerCount;
    (c.gyro ? out.gyroDps : out.accelG)[c.axis] = value;
  }
  const std::int64_t stepUs = out.sample == 1 ? 0 : out.timeUs - m.lastUs;
  const float dt = stepUs > 0 && stepUs < kLongestStepUs ? static_cast<float>(stepUs) * 1e-6f : 0;
  m.lastUs = out.timeUs;

  ApplyCalibrationMode(m);
  if (m.mode != ZAVN_CALIBRATION_OFF) {
    m.bias.Add(out.gyroDps, out.accelG, dt);
    const float* bias = m.bias.BiasDps();
    for (int k = 0; k < 3; ++k) out.gyroDps[k] -= bias[k];
  }
  m.attitude.Update(out.accelG, out.gyroDps, dt);
  std::memcpy(out.orientation, m.attitude.Quaternion(), sizeof out.orientation);

  LockGuard guard(m.lock);
  m.ring[m.written % ZAVN_MOTION_RING] = out;
  ++m.written;
  std::memcpy(m.publishedBias, m.bias.BiasDps(), sizeof m.publishedBias);
  m.biasMeasured = m.bias.Measured();
}

void SkipMotionWork(bool skip) {
  g_skipWork.store(skip, std::memory_order_relaxed);
}

void NoteGSensitivity(std::int32_t player, std::int32_t value) {
  if (player >= 1 && player <= kPlayers) (*g_players)[player - 1].sensitivity = value;
}

void ResetMotion() {
  for (PlayerMotion& m : *g_players) {
    m.started = false;
    m.sensitivity = -1;
    m.mode = ZAVN_CALIBRATION_AUTO;
    m.restart = false;
    LockGuard guard(m.lock);
    m.read = m.written;
  }
}

void LoadMotionProfileFromEnvironment() {
  const char* path = std::getenv("ZAVN_MOTION_PROFILE");
  if (path == nullptr || *path == '\0') return;
  char error[512];
  if (ZAVNLoadMotionProfile(path, error, sizeof error) == 0) {
    std::fprintf(stderr, "ZAVN_MOTION_PROFILE: %s (the defaults stay)\n", error);
  }
}

}  // namespace zavn::input

using zavn::input::g_players;

extern "C" {

ZAVN_API int32_t ZAVN_CALL ZAVNReadMotion(int32_t playerIndex, ZAVNMotionSample* samples,
                                          int32_t capacity) {
  if (playerIndex < 1 || playerIndex > 4 || samples == nullptr || capacity <= 0) return 0;
  auto& m = (*g_players)[playerIndex - 1];
  zavn::platform::LockGuard guard(m.lock);
  // What was overwritten before the host came is gone; the gap shows in `sample`.
  m.read = std::max(m.read, m.written > ZAVN_MOTION_RING ? m.written - ZAVN_MOTION_RING : 0);
  const auto count = static_cast<int32_t>(
      std::min<std::uint64_t>(m.written - m.read, static_cast<std::uint64_t>(capacity)));
  for (int32_t k = 0; k < count; ++k) samples[k] = m.ring[(m.read + k) % ZAVN_MOTION_RING];
  m.read += static_cast<std::uint64_t>(count);
  return count;
}

ZAVN_API int64_t ZAVN_CALL ZAVNTimeUs(void) {
  return static_cast<int64_t>(zavn::platform::ActiveSystem().TickUs());
}

ZAVN_API int32_t ZAVN_CALL ZAVNLoadMotionProfile(const char* file, char* error,
                                                 int32_t errorCapacity) {
  using namespace zavn::input;
  std::shared_ptr<const ProfileSet> set;
  if (file != nullptr) {
    std::string message;
    set = ReadProfileFile(file, message);
    if (set == nullptr) {
      if (error != nullptr && errorCapacity > 0) {
        const std::size_t bytes =
            std::min(message.size(), static_cast<std::size_t>(errorCapacity) - 1);
        std::memcpy(error, message.data(), bytes);
        error[bytes] = '\0';
      }
      return 0;
    }
  }
  zavn::platform::LockGuard guard(g_profiles->lock);
  g_profiles->set = std::move(set);
  ++g_profiles->generation;
  return 1;
}

ZAVN_API int32_t ZAVN_CALL ZAVNSetMotionCalibration(int32_t playerIndex, int32_t mode) {
  if (playerIndex < 1 || playerIndex > 4) return 0;
  if (mode != ZAVN_CALIBRATION_OFF && mode != ZAVN_CALIBRATION_AUTO &&
      mode != ZAVN_CALIBRATION_RESTART) {
    return 0;
  }
  auto& m = (*g_players)[playerIndex - 1];
  if (mode == ZAVN_CALIBRATION_RESTART) m.restart = true;
  m.mode = mode == ZAVN_CALIBRATION_OFF ? ZAVN_CALIBRATION_OFF : ZAVN_CALIBRATION_AUTO;
  return 1;
}

ZAVN_API int32_t ZAVN_CALL ZAVNGetGyroBias(int32_t playerIndex, float* biasDps) {
  if (playerIndex < 1 || playerIndex > 4 || biasDps == nullptr) return 0;
  auto& m = (*g_players)[playerIndex - 1];
  zavn::platform::LockGuard guard(m.lock);
  std::memcpy(biasDps, m.publishedBias, sizeof m.publishedBias);
  return m.biasMeasured ? 1 : 0;
}

}  // extern "C"
