#include "calibration.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace monitor {
namespace {

constexpr int kAxes = 3;
constexpr int kGyro = 3;  // Motion[3..5] rotate about x, y, z in the default profile
// Stillness is judged over blocks of this length; a step measures over kMeasuredBlocks of them.
constexpr std::int64_t kBlockUs = 500000;
constexpr int kMeasuredBlocks = 2;
// Still: spreads below these (a controller lying on a table, not one in a hand).
constexpr double kStillAccelSpreadG = 0.02;
constexpr double kStillGyroSpreadDps = 1.0;
constexpr double kRestingDps = 2.0;  // and, once the gyro's rest is known, turning at most this
// Lying as asked: the axis asked up reads over kUpG, the others under kLevelG.
constexpr double kUpG = 0.7;
constexpr double kLevelG = 0.3;
// A turn starts when a rate passes this; it counts when it was about one full turn about the
// axis asked (the others turning at most kOffAxisShare of it) and ended as it started.
constexpr double kMovingDps = 20;
constexpr double kTurnDeg = 360;
constexpr double kTurnLowDeg = 270, kTurnHighDeg = 450;
constexpr double kOffAxisShare = 0.25;
constexpr double kSamePoseG = 0.1;
// Longer gaps between samples are a lost link, not time to integrate over.
constexpr std::int64_t kMaxGapUs = 100000;

const char kAxisName[kAxes] = {'X', 'Y', 'Z'};

std::string Face(int axis, int sign) {
  return std::string(1, sign > 0 ? '+' : '-') + static_cast<char>(kAxisName[axis] + 'a' - 'A');
}

}  // namespace

const CalibrationStep Calibration::kPlan[kSteps] = {
    {CalibrationAct::kHoldStill, 0, 0}, {CalibrationAct::kLay, 2, +1},
    {CalibrationAct::kLay, 2, -1},      {CalibrationAct::kLay, 0, +1},
    {CalibrationAct::kLay, 0, -1},      {CalibrationAct::kLay, 1, +1},
    {CalibrationAct::kLay, 1, -1},      {CalibrationAct::kTurn, 0, 0},
    {CalibrationAct::kTurn, 1, 0},      {CalibrationAct::kTurn, 2, 0},
};

bool Calibration::Block::Still() const {
  for (int k = 0; k < ZAVN_MOTION_CHANNELS; ++k) {
    const double mean = Mean(k);
    const double spread = std::sqrt(std::max(0.0, squares[k] / count - mean * mean));
    if (spread > (k < kGyro ? kStillAccelSpreadG : kStillGyroSpreadDps)) return false;
  }
  return true;
}

void Calibration::Add(const ZAVNMotionSample& sample) {
  if (Done()) return;
  if (block_.count == 0) block_.startUs = sample.timeUs;
  ++block_.count;
  for (int a = 0; a < kAxes; ++a) {
    const double accel = sample.accelG[a], gyro = sample.gyroDps[a];
    block_.sum[a] += accel;
    block_.squares[a] += accel * accel;
    block_.sum[kGyro + a] += gyro;
    block_.squares[kGyro + a] += gyro * gyro;
  }
  const std::int64_t gapUs = sample.timeUs - lastUs_;
  lastUs_ = sample.timeUs;
  if (state_ == StepState::kTurnNow || state_ == StepState::kTurning) {
    if (gapUs < 0 || gapUs > kMaxGapUs) {
      Set(StepState::kWaiting, "samples were lost; lay it still and turn it again");
      block_ = {};
      return;
    }
    for (int a = 0; a < kAxes; ++a) {
      const double rate = sample.gyroDps[a] - GyroZero(a);
      turned_[a] += rate * static_cast<double>(gapUs) / 1e6;
      moved_ = moved_ || std::abs(rate) > kMovingDps;
    }
  }
  if (sample.timeUs - block_.startUs >= kBlockUs) EndBlock();
}

bool Calibration::Resting(const Block& block) const {
  if (!block.Still()) return false;
  // Once the gyro's rest is known, a steady turn (as still as a rest by its spread) is no rest.
  for (int a = 0; a < kAxes && gyroZeroSteps_ > 0; ++a) {
    if (std::abs(block.Mean(kGyro + a) - GyroZero(a)) > kRestingDps) return false;
  }
  return true;
}

double Calibration::GyroZero(int axis) const {
  return gyroZeroSum_[axis] / gyroZeroSteps_;
}

void Calibration::EndBlock() {
  const Block block = block_;
  block_ = {};
  if (!Resting(block)) {
    measured_ = {};
    if (state_ == StepState::kMeasuring) Set(StepState::kWaiting, "it moved");
    if (state_ == StepState::kTurnNow && moved_) Set(StepState::kTurning);
    return;
  }
  const CalibrationStep& step = kPlan[step_];
  if (step.act == CalibrationAct::kTurn) {
    if (state_ == StepState::kTurning) {
      TurnEnded(block);
      if (Done() || kPlan[step_].act != CalibrationAct::kTurn) return;
    }
    // Lying still: the turn starts from here.
    for (int a = 0; a < kAxes; ++a) {
      startGravity_[a] = block.Mean(a);
      turned_[a] = 0;
    }
    moved_ = false;
    if (state_ != StepState::kTurnNow) Set(StepState::kTurnNow, hint_);
    return;
  }
  if (step.act == CalibrationAct::kLay) {
    int up = 0;  // the axis that points most nearly up
    for (int a = 1; a < kAxes; ++a) {
      if (std::abs(block.Mean(a)) > std::abs(block.Mean(up))) up = a;
    }
    bool asked = block.Mean(step.axis) * step.sign > kUpG;
    for (int a = 0; a < kAxes; ++a)
      asked = asked && (a == step.axis || std::abs(block.Mean(a)) < kLevelG);
    if (!asked) {
      measured_ = {};
      Set(StepState::kWaiting, "it lies with " + Face(up, block.Mean(up) > 0 ? 1 : -1) + " up");
      return;
    }
  }
  StillBlock(block);
}

void Calibration::StillBlock(const Block& block) {
  for (int k = 0; k < ZAVN_MOTION_CHANNELS; ++k) {
    measured_.sum[k] += block.sum[k];
    measured_.squares[k] += block.squares[k];
  }
  measured_.count += block.count;
  if (++measured_.blocks < kMeasuredBlocks) {
    Set(StepState::kMeasuring);
    return;
  }
  for (int a = 0; a < kAxes; ++a) gyroZeroSum_[a] += measured_.Mean(kGyro + a);
  ++gyroZeroSteps_;
  const CalibrationStep& step = kPlan[step_];
  if (step.act == CalibrationAct::kLay)
    face_[step.axis][step.sign > 0 ? 0 : 1] = measured_.Mean(step.axis);
  Next();
}

void Calibration::TurnEnded(const Block& block) {
  const int axis = kPlan[step_].axis;
  const double about = std::abs(turned_[axis]);
  char hint[160];
  bool sameAxis = true, samePose = true;
  for (int a = 0; a < kAxes; ++a) {
    sameAxis = sameAxis && (a == axis || std::abs(turned_[a]) <= kOffAxisShare * about);
    samePose = samePose && std::abs(block.Mean(a) - startGravity_[a]) <= kSamePoseG;
  }
  if (about < kTurnLowDeg || about > kTurnHighDeg || !sameAxis) {
    std::snprintf(hint, sizeof hint, "that turned %.0f, %.0f and %.0f degrees about x, y and z",
                  turned_[0], turned_[1], turned_[2]);
  } else if (!samePose) {
    std::snprintf(hint, sizeof hint, "it did not end as it started");
  } else {
    turn_[axis] = about;
    Next();
    return;
  }
  hint_ = hint;  // the turn starts again from here, with this hint
  state_ = StepState::kWaiting;
}

void Calibration::Set(StepState state, std::string hint) {
  if (state == state_ && hint == hint_) return;
  state_ = state;
  hint_ = std::move(hint);
  ++revision_;
}

void Calibration::Next() {
  ++step_;
  measured_ = {};
  state_ = StepState::kWaiting;
  hint_.clear();
  ++revision_;
}

std::string Calibration::ProfileLine(int channel) const {
  const bool gyro = channel >= kGyro;
  const int axis = channel % kGyro;
  double zero = 0, perUnit = 0;
  if (gyro) {
    // One true turn is `turn_` degrees on the default scale.
    zero = ZAVN_MOTION_DEFAULT_ZERO +
           gyroZeroSum_[axis] / gyroZeroSteps_ * ZAVN_MOTION_DEFAULT_COUNTS_PER_DPS;
    perUnit = turn_[axis] / kTurnDeg * ZAVN_MOTION_DEFAULT_COUNTS_PER_DPS;
  } else {
    // +1 g with the axis up, -1 g with it down.
    const double up = ZAVN_MOTION_DEFAULT_ZERO + face_[axis][0] * ZAVN_MOTION_DEFAULT_COUNTS_PER_G;
    const double down =
        ZAVN_MOTION_DEFAULT_ZERO + face_[axis][1] * ZAVN_MOTION_DEFAULT_COUNTS_PER_G;
    zero = (up + down) / 2;
    perUnit = (up - down) / 2;
  }
  char line[96];
  std::snprintf(line, sizeof line, "Motion%d = %c%s%c %.1f %.4f", channel, perUnit < 0 ? '-' : '+',
                gyro ? "Gyro" : "Accel", kAxisName[axis], zero, std::abs(perUnit));
  return line;
}

}  // namespace monitor
