// zavn-monitor --calibrate FILE: guides a user through the calibration of one player's
// controller, step by step, and writes the measured sensor profile into FILE.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "calibration.h"
#include "zavn/zavn.h"

namespace monitor {

struct CalibrateDisplay {
  std::FILE* out;
  bool json;  // one JSON object per step and change; else a line of text per change
};

class CalibrationRun {
 public:
  // Reads the player's samples with the default profile, no gyro correction and the
  // G-sensitivity at 1 (+-4 g: the profile's own counts per g), as the measurement needs.
  explicit CalibrationRun(int player);

  // Reads the samples since the last look and shows what changed; true once every step is done.
  bool Look(const CalibrateDisplay& display);

  // Writes the profile into `path`: the transmitter's section ("[serial TEXT]", or "[player N]"
  // while its serial number is unknown) replaces the same section there, other sections stay.
  // Then loads the file, so that the samples read with it from now on. False with the reason.
  bool Write(const std::string& path, const CalibrateDisplay& display, std::string& error);

 private:
  void Show(const CalibrateDisplay& display);
  std::string Section() const;

  int player_;
  Calibration calibration_;
  int shown_ = -1;     // the revision shown last
  int announced_ = 0;  // the step whose text was shown last
  int looks_ = 0;
  bool switched_ = false;
  std::string serial_;
  std::unique_ptr<PlayerStatus> status_ = std::make_unique<PlayerStatus>();
  std::vector<ZAVNMotionSample> samples_ = std::vector<ZAVNMotionSample>(ZAVN_MOTION_RING);
};

}  // namespace monitor
