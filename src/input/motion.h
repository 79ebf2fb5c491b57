// Motion in physical units: each motion record of a player becomes a timestamped sample in g
// and deg/s, with the gyro bias taken out and the attitude brought forward, kept in a ring per
// player for ZAVNReadMotion (zavn/zavn_motion.h).
//
// Locks: a player's lock is a leaf, held while a sample goes into or out of its ring, or its
// calibration is switched; the profile's lock is a leaf too, held while the profile in use is
// swapped or taken. The decoder adds a record under the status lock.
#pragma once

#include <cstdint>

#include "zavn/zavn_status.h"

namespace zavn::input {

// Where a record stands in the read that brought it: the read's time (ZAVNTimeUs's clock), and
// the record's index among the read's `records`.
struct MotionRead {
  std::int64_t timeUs = 0;
  int index = 0;
  int records = 1;
};

// Folds the record just decoded into player 1..4's samples. A player whose slot has taken
// another interface since starts afresh: sample numbers from 1, attitude from gravity, bias
// unmeasured.
void AddMotionRecord(std::int32_t player, const PlayerStatus& status, const MotionRead& read);

// While set, AddMotionRecord returns at once. It exists for the benchmark that measures what the
// motion work costs the poll thread, by running the same stream with and without it.
void SkipMotionWork(bool skip);

// The G-sensitivity value the host switched player 1..4 to: the acceleration's scale from then on.
void NoteGSensitivity(std::int32_t player, std::int32_t value);

// Every player's samples, calibration and G-sensitivity back to their start; the profile stays.
void ResetMotion();

// Loads ZAVN_MOTION_PROFILE's file, if the variable is set; a bad file is said on stderr.
void LoadMotionProfileFromEnvironment();

}  // namespace zavn::input
