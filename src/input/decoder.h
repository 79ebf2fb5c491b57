// The input decoder: walks a slot's buffer of consecutive input reports and folds every record
// it recognises into the player's PlayerStatus.
#pragma once

#include <cstdint>

#include "transport/input_buffer.h"
#include "zavn/zavn_status.h"

namespace zavn::input {

// What the poll thread adds to every motion record. Both run with no library lock held.
class MotionListener {
 public:
  // Asked after each call out of the library: false ends the decode after the current record
  // (the host stopped the poll thread meanwhile).
  virtual bool KeepDecoding() = 0;
  // After the raw-data callback, once the record is complete.
  virtual void AfterMotion(std::int32_t player, PlayerStatus& status) = 0;

 protected:
  ~MotionListener() = default;
};

// Decodes the buffer into player 1..4's record, one record at a time under the status lock,
// then zeroes the buffer. The raw-data callback and the listener run with the lock released.
// Reads nothing outside the buffer and allocates nothing. A reset of the records during a call
// out ends the decode at once and leaves the buffer and the records to the reset.
void Decode(transport::InputBuffer& buffer, std::int32_t player,
            MotionListener* listener = nullptr);

// The held extension triples and the last motion position back to 0.
void ResetDecoderState();

}  // namespace zavn::input
