// zavn-monitor --update: a firmware update of player 1's receiver with its progress.
#pragma once

#include <atomic>
#include <cstdio>

#include "receiver_link.h"

namespace monitor {

struct UpdateDisplay {
  std::FILE* out;
  bool terminal;  // a progress bar redrawn in place; else one line per change
  bool json;
};

// Why an update of the receiver `link` holds must not start, or null when it may: placeholder
// firmware images go to the virtual receiver only.
const char* UpdateRefusal(const ReceiverLink& link);

// True when the update is done; false when it was interrupted or took longer than
// `limitSeconds`.
bool RunUpdate(ReceiverLink& link, const UpdateDisplay& display, double limitSeconds,
               const std::atomic<bool>& interrupted);

// The step of an update that a progress value stands for.
const char* UpdatePhase(int progress);

}  // namespace monitor
