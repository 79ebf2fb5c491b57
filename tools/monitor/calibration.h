// zavn-monitor --calibrate: the steps a user takes to measure a controller's sensors (hold it
// still, lay it on each face, turn it once about each axis) and what each step measures from
// the player's motion samples, read with the default profile and no gyro correction.
#pragma once

#include <cstdint>
#include <string>

#include "zavn/zavn.h"

namespace monitor {

enum class CalibrationAct { kHoldStill, kLay, kTurn };

struct CalibrationStep {
  CalibrationAct act;
  int axis;  // kLay, kTurn: x, y, z
  int sign;  // kLay: +1 with that axis pointing up, -1 down
};

// The state of the step under way.
enum class StepState {
  kWaiting,    // for the controller to lie still (as asked)
  kMeasuring,  // it lies still as asked: measuring
  kTurnNow,    // kTurn: it lies still; the turn may start
  kTurning,    // kTurn: it turns; measured once it lies still again
};

class Calibration {
 public:
  static constexpr int kSteps = 10;
  static const CalibrationStep kPlan[kSteps];

  void Add(const ZAVNMotionSample& sample);
  bool Done() const { return step_ == kSteps; }
  int StepIndex() const { return step_; }  // 0..kSteps-1 while under way
  StepState State() const { return state_; }
  // Why the step started over, or "" (e.g. "it lies with -x up").
  const std::string& Hint() const { return hint_; }
  // Rises whenever the step, its state or its hint changes.
  int Revision() const { return revision_; }

  // Once done: each channel's rule in a profile file, "Motion0 = +AccelX 32790.1 8601.35".
  std::string ProfileLine(int channel) const;

 private:
  // Per channel over a block of samples: count, sum and sum of squares, in default units.
  struct Block {
    int count = 0;
    int blocks = 0;  // of a measurement: the blocks added to it
    std::int64_t startUs = 0;
    double sum[ZAVN_MOTION_CHANNELS] = {};
    double squares[ZAVN_MOTION_CHANNELS] = {};
    double Mean(int k) const { return sum[k] / count; }
    bool Still() const;
  };

  bool Resting(const Block& block) const;
  double GyroZero(int axis) const;  // the gyro's rest in default units, once measured
  void EndBlock();
  void StillBlock(const Block& block);
  void TurnEnded(const Block& block);
  void Set(StepState state, std::string hint = "");
  void Next();

  int step_ = 0;
  StepState state_ = StepState::kWaiting;
  std::string hint_;
  int revision_ = 0;

  Block block_;
  Block measured_;  // the still blocks of the step's measurement
  std::int64_t lastUs_ = 0;

  // kTurn: the gravity at the start, the rotation integrated since, whether it moved.
  double startGravity_[3] = {};
  double turned_[3] = {};  // degrees, default scale, measured gyro zero taken out
  bool moved_ = false;

  // Results, in default units: gyro zero over every still step; gravity per face; turns.
  double gyroZeroSum_[3] = {};
  int gyroZeroSteps_ = 0;
  double face_[3][2] = {};  // [axis][0: axis up, 1: axis down], that axis's mean
  double turn_[3] = {};     // |degrees| about each axis for one true turn
};

}  // namespace monitor
