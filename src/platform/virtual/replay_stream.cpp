#include "platform/virtual/replay_stream.h"

#include <algorithm>
#include <cstring>
#include <utility>

namespace zavn::platform::virt {
namespace {

constexpr std::int32_t kCapturedTiming = 100;  // percent
// The gap after the last report of a loop's pass when the recording has no gaps to go by.
constexpr std::uint64_t kLoneReportGapUs = 10000;

// Times in capture order that never go back: a capture may hold a packet stamped a little
// earlier than the one before it, and the order is the one the device sent them in.
void MakeMonotonic(capture::ReplayStream& stream) {
  for (std::size_t k = 1; k < stream.timesUs.size(); ++k) {
    stream.timesUs[k] = std::max(stream.timesUs[k], stream.timesUs[k - 1]);
  }
}

// The place in the stream of report `index`, counting every pass of a loop.
std::size_t InPass(std::uint64_t index, const capture::ReplayStream& stream) {
  return static_cast<std::size_t>(index % stream.Count());
}

std::uint64_t LoopPeriod(const capture::Recording& recording) {
  std::uint64_t span = 0;
  const capture::ReplayStream* densest = nullptr;
  for (const capture::ReplayStream& stream : recording.streams) {
    if (stream.Count() == 0) continue;
    span = std::max(span, stream.timesUs.back());
    if (densest == nullptr || stream.Count() > densest->Count()) densest = &stream;
  }
  const std::uint64_t gap =
      densest == nullptr || densest->Count() < 2 || densest->timesUs.back() == densest->timesUs[0]
          ? kLoneReportGapUs
          : (densest->timesUs.back() - densest->timesUs[0]) / (densest->Count() - 1);
  return span + std::max<std::uint64_t>(gap, 1);
}

}  // namespace

ReplaySession::ReplaySession(capture::Recording recording, std::int32_t speedPercent, bool loop)
    : recording_(std::move(recording)), speedPercent_(speedPercent), loop_(loop) {
  for (capture::ReplayStream& stream : recording_.streams) MakeMonotonic(stream);
  periodUs_ = LoopPeriod(recording_);
}

std::uint64_t ReplaySession::PlayedUs(std::uint64_t nowUs) {
  if (!started_) {
    started_ = true;
    startUs_ = nowUs;
  }
  return nowUs < startUs_ ? 0 : (nowUs - startUs_) * speedPercent_ / kCapturedTiming;
}

std::uint64_t ReplaySession::ClockAt(std::uint64_t recordingUs) const {
  const auto speed = static_cast<std::uint64_t>(speedPercent_);
  return startUs_ + (recordingUs * kCapturedTiming + speed - 1) / speed;
}

void ReplayStream::Start(std::shared_ptr<ReplaySession> session, std::size_t stream) {
  session_ = std::move(session);
  stream_ = stream;
  produced_ = 0;
}

const capture::ReplayStream& ReplayStream::Stream() const {
  return session_->Recording().streams[stream_];
}

std::uint32_t ReplayStream::ReportLength() const {
  return Playing() ? Stream().reportLength : 0;
}

std::uint64_t ReplayStream::End() const {
  return session_->Loops() ? kNever : Stream().Count();
}

std::uint64_t ReplayStream::RecordingTimeOf(std::uint64_t index) const {
  const capture::ReplayStream& stream = Stream();
  return index / stream.Count() * session_->PeriodUs() + stream.timesUs[InPass(index, stream)];
}

std::uint64_t ReplayStream::DueBy(std::uint64_t nowUs) {
  const capture::ReplayStream& stream = Stream();
  const std::uint64_t played = session_->PlayedUs(nowUs);
  const std::uint64_t passes = session_->Loops() ? played / session_->PeriodUs() : 0;
  const std::uint64_t within = session_->Loops() ? played % session_->PeriodUs() : played;
  const auto inPass = static_cast<std::uint64_t>(
      std::upper_bound(stream.timesUs.begin(), stream.timesUs.end(), within) -
      stream.timesUs.begin());
  return passes * stream.Count() + inPass;
}

int ReplayStream::ProduceDue(std::uint64_t nowUs, std::uint8_t* reports, int capacity, int keep,
                             int room) {
  if (!Playing() || Stream().Count() == 0 || capacity <= 0 || keep <= 0) return 0;
  const std::uint64_t due =
      session_->AsFastAsRead()
          ? std::min(End(), produced_ + static_cast<std::uint64_t>(std::max(room, 0)))
          : DueBy(nowUs);
  if (due <= produced_) return 0;
  if (due - produced_ > static_cast<std::uint64_t>(keep)) produced_ = due - keep;
  const capture::ReplayStream& stream = Stream();
  int count = 0;
  for (; produced_ < due && count < capacity; ++count, ++produced_) {
    std::memcpy(reports + static_cast<std::size_t>(count) * stream.reportLength,
                stream.Report(InPass(produced_, stream)), stream.reportLength);
  }
  return count;
}

void ReplayStream::SkipDue(std::uint64_t nowUs) {
  if (Playing() && Stream().Count() != 0 && !session_->AsFastAsRead()) {
    produced_ = std::max(produced_, DueBy(nowUs));
  }
}

std::uint64_t ReplayStream::UsUntilNext(std::uint64_t nowUs) {
  if (!Playing() || Stream().Count() == 0 || produced_ >= End()) return kNever;
  if (session_->AsFastAsRead() || DueBy(nowUs) > produced_) return 0;
  const std::uint64_t dueAt = session_->ClockAt(RecordingTimeOf(produced_));
  return dueAt > nowUs ? dueAt - nowUs : 0;
}

}  // namespace zavn::platform::virt
