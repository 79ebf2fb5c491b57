// Every motion record each player's raw-data callback had, with the clock's time: written on the
// poll thread, read by the test under a lock.
#pragma once

#include <algorithm>
#include <array>
#include <initializer_list>
#include <mutex>
#include <vector>

#include "input/status_records.h"
#include "platform/system.h"
#include "support/eventually.h"
#include "support/report_builder.h"
#include "zavn/zavn.h"

namespace zavn::testing {

struct Sample {
  std::uint32_t number = 0;  // the virtual transmitter's
  std::uint32_t tickMs = 0;
  std::array<std::int32_t, ZAVN_MOTION_CHANNELS + ZAVN_BUTTON_COUNT> decoded{};  // then buttons
};

// A player's records so far: the last, those lost or repeated by number, the longest wait for
// the next.
struct Stream {
  Sample last;
  std::uint64_t lost = 0, repeated = 0;
  std::uint32_t longestGapMs = 0;
};

class SampleRecorder {
 public:
  // Takes the raw-data callback; the recorder installed last records.
  void Install() {
    active_ = this;
    ZAVNInitGetRawDataCallBack(&OnRecord);
  }
  std::vector<Sample> Of(int player) const {
    std::lock_guard lock(mutex_);
    return samples_[player - 1];
  }
  std::size_t Count(int player) const {
    std::lock_guard lock(mutex_);
    return samples_[player - 1].size();
  }
  Stream StreamOf(int player) const {
    std::lock_guard lock(mutex_);
    const std::vector<Sample>& samples = samples_[player - 1];
    Stream s;
    if (!samples.empty()) s.last = samples.front();
    for (std::size_t k = 1; k < samples.size(); ++k) {
      const Sample& sample = samples[k];
      if (sample.number <= s.last.number) {
        ++s.repeated;
      } else {
        s.lost += sample.number - s.last.number - 1;
        s.longestGapMs = std::max(s.longestGapMs, sample.tickMs - s.last.tickMs);
        s.last = sample;
      }
    }
    return s;
  }
  // Whether each of `players` has `more` records than now within Eventually's wait.
  bool AwaitMore(std::initializer_list<int> players, std::size_t more) const {
    std::size_t target[5] = {};
    for (const int p : players) target[p] = Count(p) + more;
    return Eventually([&] {
      return std::all_of(players.begin(), players.end(),
                         [&](int p) { return Count(p) >= target[p]; });
    });
  }

 private:
  static void ZAVN_CALL OnRecord(std::int32_t, PlayerStatus* status) {
    for (int p = 0; p < 4; ++p) {
      if (status != &input::LibraryStatus(p + 1)) continue;
      Sample sample{SampleOf(status->RawRecord), platform::ActiveSystem().TickMs()};
      std::copy_n(status->Motion, ZAVN_MOTION_CHANNELS, sample.decoded.begin());
      std::copy_n(status->Buttons, ZAVN_BUTTON_COUNT, &sample.decoded[ZAVN_MOTION_CHANNELS]);
      std::lock_guard lock(active_->mutex_);
      active_->samples_[p].push_back(sample);
    }
  }

  static inline SampleRecorder* active_ = nullptr;
  mutable std::mutex mutex_;
  std::vector<Sample> samples_[4];
};

}  // namespace zavn::testing
