#include "calibrate_run.h"

#include <filesystem>
#include <fstream>
#include <system_error>

#include "players.h"
#include "views.h"
#include "zavn/zavn_commands.h"

namespace monitor {
namespace {

constexpr std::int32_t kMeasuredSensitivity = 1;  // +-4 g: counts per g as the profile keeps them
constexpr int kAskSerialEveryLooks = 10;
constexpr int kNoteCapacity = 512;

const char* const kAxes[] = {"x", "y", "z"};

const char* Say(const CalibrationStep& step) {
  static const char* const kLay[3][2] = {
      {"Lay it on its left side, right side up (+x up)",
       "Lay it on its right side, left side up (-x up)"},
      {"Stand it on its end, pointing up (+y up)", "Stand it on its tip, pointing down (-y up)"},
      {"Lay it face up (+z up)", "Lay it face down (-z up)"},
  };
  static const char* const kTurn[3] = {
      "Tip it end over end once about x, lay it back as it was",
      "Roll it once about y (where it points), lay it back as it was",
      "Spin it once flat on the table about z, lay it back as it was",
  };
  switch (step.act) {
    case CalibrationAct::kHoldStill:
      return "Lay it on a table and let go: the gyro at rest first";
    case CalibrationAct::kLay:
      return kLay[step.axis][step.sign > 0 ? 0 : 1];
    case CalibrationAct::kTurn:
      return kTurn[step.axis];
  }
  return "";
}

// The state's name in JSON, and its text for a person.
const char* StateName(StepState state) {
  constexpr const char* kNames[] = {"waiting", "measuring", "turn_now", "turning"};
  return kNames[static_cast<int>(state)];
}
const char* StateText(StepState state) {
  constexpr const char* kTexts[] = {"waiting for it to lie still as asked",
                                    "measuring: keep it still", "lying still: turn it now",
                                    "turning: lay it back as it was and let go"};
  return kTexts[static_cast<int>(state)];
}

// The name of the INI section a line opens, lower case; "" for other lines.
std::string SectionOf(const std::string& line) {
  const std::string text = tools::Trimmed(line);
  if (text.size() < 2 || text.front() != '[' || text.back() != ']') return "";
  return tools::Lowered(tools::Trimmed(text.substr(1, text.size() - 2)));
}

}  // namespace

CalibrationRun::CalibrationRun(int player) : player_(player) {
  ZAVNLoadMotionProfile(nullptr, nullptr, 0);
  ZAVNSetMotionCalibration(player_, ZAVN_CALIBRATION_OFF);
}

bool CalibrationRun::Look(const CalibrateDisplay& display) {
  ZAVNGetStatus(player_, status_.get());
  serial_ = Printable(status_->SerialBlock, sizeof status_->SerialBlock);
  if (serial_.empty() && looks_++ % kAskSerialEveryLooks == 0) {
    ZAVNAskSerialNumber(player_, 0, nullptr, 1);
  }
  const std::int32_t read =
      ZAVNReadMotion(player_, samples_.data(), static_cast<std::int32_t>(samples_.size()));
  // Measured from the first sample after the switch has gone out (until then the transmitter's
  // range is not known); the samples before are dropped.
  if (!switched_) {
    switched_ = ZAVNSwitchGSensitivity(player_, kMeasuredSensitivity) == 1;
  } else {
    for (std::int32_t k = 0; k < read; ++k) calibration_.Add(samples_[static_cast<std::size_t>(k)]);
  }
  if (calibration_.Revision() != shown_) {
    shown_ = calibration_.Revision();
    if (!calibration_.Done()) Show(display);
  }
  return calibration_.Done();
}

void CalibrationRun::Show(const CalibrateDisplay& display) {
  const CalibrationStep& step = Calibration::kPlan[calibration_.StepIndex()];
  const int number = calibration_.StepIndex() + 1;
  const std::string& hint = calibration_.Hint();
  if (!display.json) {
    // The step once, then a line per change of its state.
    if (announced_ != number) {
      std::fprintf(display.out, "\nStep %d of %d: %s.\n", number, Calibration::kSteps, Say(step));
      announced_ = number;
    }
    std::fprintf(display.out, "  %s%s%s\n", hint.c_str(), hint.empty() ? "" : "; ",
                 StateText(calibration_.State()));
    std::fflush(display.out);
    return;
  }
  std::string json = "{\"step\":" + std::to_string(number);
  json += ",\"of\":" + std::to_string(Calibration::kSteps);
  switch (step.act) {
    case CalibrationAct::kHoldStill:
      json += ",\"act\":\"hold_still\"";
      break;
    case CalibrationAct::kLay:
      json += ",\"act\":\"lay\",\"up\":\"";
      json += step.sign > 0 ? '+' : '-';
      json += kAxes[step.axis];
      json += '"';
      break;
    case CalibrationAct::kTurn:
      json += ",\"act\":\"turn\",\"axis\":\"";
      json += kAxes[step.axis];
      json += '"';
      break;
  }
  json += ",\"say\":" + Quoted(Say(step));
  json += ",\"state\":\"";
  json += StateName(calibration_.State());
  json += "\",\"hint\":" + Quoted(hint) + "}\n";
  std::fputs(json.c_str(), display.out);
  std::fflush(display.out);
}

std::string CalibrationRun::Section() const {
  return serial_.empty() ? "player " + std::to_string(player_) : "serial " + serial_;
}

bool CalibrationRun::Write(const std::string& path, const CalibrateDisplay& display,
                           std::string& error) {
  const std::string section = Section();
  const std::string lower = tools::Lowered(section);
  // The file's other sections as they are; this transmitter's, measured again, at its end.
  std::string text;
  {
    std::ifstream old(path);
    bool replaced = false;
    for (std::string line; std::getline(old, line);) {
      const std::string name = SectionOf(line);
      if (!name.empty()) replaced = name == lower;
      if (!replaced) text += line + '\n';
    }
  }
  while (text.size() >= 2 && text.ends_with("\n\n")) text.pop_back();
  if (!text.empty()) text += '\n';
  text += "[" + section + "]\n";
  text += "; measured by zavn-monitor --calibrate on player " + std::to_string(player_) + '\n';
  std::string lines[ZAVN_MOTION_CHANNELS];
  for (int k = 0; k < ZAVN_MOTION_CHANNELS; ++k) {
    lines[k] = calibration_.ProfileLine(k);
    text += lines[k] + '\n';
  }

  // Written beside it first, then put in its place: a failed write leaves the old file whole.
  const std::string fresh = path + ".new";
  {
    std::ofstream out(fresh, std::ios::binary | std::ios::trunc);
    out << text;
    out.flush();
    if (!out) {
      error = "cannot write " + fresh;
      std::filesystem::remove(fresh);
      return false;
    }
  }
  std::error_code failed;
  std::filesystem::rename(fresh, path, failed);
  if (failed) {
    error = "cannot replace " + path + ": " + failed.message();
    std::filesystem::remove(fresh);
    return false;
  }
  char note[kNoteCapacity] = {};
  if (ZAVNLoadMotionProfile(path.c_str(), note, sizeof note) != 1) {
    error = note;
    return false;
  }
  ZAVNSetMotionCalibration(player_, ZAVN_CALIBRATION_AUTO);

  if (display.json) {
    std::string json = "{\"written\":" + Quoted(path) + ",\"section\":" + Quoted(section);
    json += ",\"profile\":[";
    for (int k = 0; k < ZAVN_MOTION_CHANNELS; ++k) json += (k > 0 ? "," : "") + Quoted(lines[k]);
    json += "]}\n";
    std::fputs(json.c_str(), display.out);
  } else {
    std::fprintf(display.out, "\nDone. Written to %s, section [%s]:\n", path.c_str(),
                 section.c_str());
    for (const std::string& line : lines) std::fprintf(display.out, "  %s\n", line.c_str());
    std::fprintf(display.out,
                 "A host loads it with ZAVN_MOTION_PROFILE=%s or ZAVNLoadMotionProfile.\n",
                 path.c_str());
  }
  std::fflush(display.out);
  return true;
}

}  // namespace monitor
