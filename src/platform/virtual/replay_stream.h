// A capture played back through a data interface of the virtual receiver: the reports captured
// from one of the recording's data interfaces come due at their captured times, scaled, once or
// over and over. As with the virtual transmitter, reports are produced when the library reads,
// from the library's clock, so no thread runs and a test on a stepped clock sees exactly the
// reports that are due.
#pragma once

#include <cstdint>
#include <memory>

#include "platform/capture/capture_reader.h"

namespace zavn::platform::virt {

// What the data interfaces of one replay share: the recording, how it is played, and its clock,
// which starts at the first read of any of them so that they keep their captured order.
class ReplaySession {
 public:
  // speedPercent 0 plays as fast as the library reads.
  ReplaySession(capture::Recording recording, std::int32_t speedPercent, bool loop);

  const capture::Recording& Recording() const { return recording_; }
  bool AsFastAsRead() const { return speedPercent_ == 0; }
  bool Loops() const { return loop_; }
  // One pass of the recording when it loops: its span and the mean gap of its densest stream.
  std::uint64_t PeriodUs() const { return periodUs_; }
  // Microseconds of the recording played by `nowUs`; the first call starts the clock.
  std::uint64_t PlayedUs(std::uint64_t nowUs);
  // The time `nowUs` at which the recording reaches `recordingUs` (the clock has started).
  std::uint64_t ClockAt(std::uint64_t recordingUs) const;

 private:
  capture::Recording recording_;
  std::int32_t speedPercent_;
  bool loop_;
  std::uint64_t periodUs_ = 0;
  bool started_ = false;
  std::uint64_t startUs_ = 0;
};

class ReplayStream {
 public:
  // Plays stream `stream` of the session from its first report.
  void Start(std::shared_ptr<ReplaySession> session, std::size_t stream);
  void Stop() { session_.reset(); }
  bool Playing() const { return session_ != nullptr; }
  std::uint32_t ReportLength() const;

  // Writes the reports due by `nowUs` into `reports` (ReportLength() bytes each), the oldest
  // first, at most `capacity` of them, and returns their number; call again while it returns
  // `capacity`. Of more than `keep` due reports only the newest `keep` are produced, as a full
  // driver queue keeps; played as fast as read, `room` reports are due at each call.
  int ProduceDue(std::uint64_t nowUs, std::uint8_t* reports, int capacity, int keep, int room);
  // Drops the reports due by `nowUs`: played while nobody listened.
  void SkipDue(std::uint64_t nowUs);
  // Microseconds from `nowUs` until the next report is due: 0 when one is due already (or the
  // replay runs as fast as read), kNever when none is left.
  static constexpr std::uint64_t kNever = ~std::uint64_t{0};
  std::uint64_t UsUntilNext(std::uint64_t nowUs);

 private:
  const capture::ReplayStream& Stream() const;
  // How many reports (counting every pass of a loop) are due by `nowUs`.
  std::uint64_t DueBy(std::uint64_t nowUs);
  // The recording time of report `index`, counting every pass of a loop.
  std::uint64_t RecordingTimeOf(std::uint64_t index) const;
  // The number of reports a replay that does not loop has.
  std::uint64_t End() const;

  std::shared_ptr<ReplaySession> session_;
  std::size_t stream_ = 0;
  std::uint64_t produced_ = 0;
};

}  // namespace zavn::platform::virt
