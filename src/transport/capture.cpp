#include "transport/capture.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "platform/capture/capture_format.h"
#include "platform/never_destroyed.h"
#include "platform/system.h"
#include "zavn/zavn.h"

namespace zavn::transport {
namespace {

using platform::LockGuard;
namespace capture = platform::capture;

// Reports longer than this keep their first bytes only; the receiver's are at most 64.
constexpr std::uint32_t kCapturedBytes = 256;
// About a second of four receivers at 1000 reports a second each.
constexpr std::size_t kRingRecords = 4096;
constexpr std::uint32_t kWriteEveryMs = 10;
constexpr const char* kApplication = "ZAVN_Main";

struct Record {
  std::uint64_t timeUs;
  std::uint16_t length;
  std::uint8_t slot;
  std::uint8_t output;
  std::uint8_t data[kCapturedBytes];
};

std::uint64_t NowUs() {
  return static_cast<std::uint64_t>(std::chrono::duration_cast<std::chrono::microseconds>(
                                        std::chrono::system_clock::now().time_since_epoch())
                                        .count());
}

class Recorder {
 public:
  // Starts a capture into path, ending one under way first.
  bool Start(const char* path) {
    LockGuard guard(switchLock_);
    StopLocked();
    return StartLocked(path);
  }

  // Starts a capture into path unless one is under way (busy then).
  bool StartIfIdle(const char* path, bool& busy) {
    LockGuard guard(switchLock_);
    busy = thread_ != nullptr;
    return !busy && StartLocked(path);
  }

  std::int64_t Stop() {
    LockGuard guard(switchLock_);
    return StopLocked();
  }

  void Add(int slot, bool output, const std::uint8_t* data, std::uint32_t length,
           std::uint64_t timeUs) {
    LockGuard ring(ringLock_);
    // Acquire: the ring that Start sized before raising the flag.
    if (!active_.load(std::memory_order_acquire)) return;
    if (count_ == ring_.size()) {
      ++dropped_;
      return;
    }
    Record& record = ring_[(head_ + count_) % ring_.size()];
    record.timeUs = timeUs;
    record.length = static_cast<std::uint16_t>(std::min(length, kCapturedBytes));
    record.slot = static_cast<std::uint8_t>(slot);
    record.output = output ? 1 : 0;
    std::memcpy(record.data, data, record.length);
    ++count_;
  }

  bool Active() const { return active_.load(std::memory_order_relaxed); }

 private:
  // Under switchLock_, with no capture under way.
  bool StartLocked(const char* path) {
    if (path == nullptr || path[0] == '\0') return false;
    file_ = std::fopen(path, "wb");
    if (file_ == nullptr) return false;
    // Unbuffered: each batch goes out in one write, whose result says what the file took.
    std::setvbuf(file_, nullptr, _IONBF, 0);
    capture::Bytes start = capture::SectionHeader(kApplication);
    const capture::Bytes interface =
        capture::InterfaceDescription("zavn", "ZAVN receiver: slots 1-4 as device addresses 1-4");
    start.insert(start.end(), interface.begin(), interface.end());
    whole_ = 0;
    bool written = Append(start);
    if (written) {
      ring_.assign(kRingRecords, Record{});
      nextId_ = 0;
      missingWritten_ = 0;
      lost_ = 0;
      {
        LockGuard ring(ringLock_);
        head_ = count_ = 0;
        dropped_ = 0;
        stop_ = false;
      }
      thread_ = platform::OsSystem().StartThread(Thread, this);
      written = thread_ != nullptr;
    }
    if (!written) {
      std::fclose(file_);
      file_ = nullptr;
      return false;
    }
    active_.store(true, std::memory_order_release);
    return true;
  }

  // Under switchLock_.
  std::int64_t StopLocked() {
    if (thread_ == nullptr) return -1;
    {
      LockGuard ring(ringLock_);
      active_.store(false, std::memory_order_relaxed);
      stop_ = true;
    }
    wake_.Raise();
    platform::OsSystem().JoinThread(thread_);
    thread_ = nullptr;
    const std::uint64_t missing = dropped_ + lost_;
    Append(capture::DropStatistics(NowUs(), missing));
    std::fclose(file_);
    file_ = nullptr;
    ring_ = {};
    return static_cast<std::int64_t>(missing);
  }

  static std::uint32_t Thread(void* self) {
    static_cast<Recorder*>(self)->Write();
    return 0;
  }

  // Writes the ring out until the capture stops, then once more.
  void Write() {
    capture::Bytes out;
    for (bool last = false; !last;) {
      wake_.Wait(kWriteEveryMs);
      std::size_t head = 0, taken = 0;
      std::uint64_t dropped = 0;
      {
        LockGuard ring(ringLock_);
        last = stop_;
        head = head_;
        taken = count_;
        dropped = dropped_;
      }
      // The records taken stay in the ring, out of the senders' way, until they are written
      // out: only then does the ring give their room back.
      out.clear();
      for (std::size_t k = 0; k < taken; ++k) {
        const Record& record = ring_[(head + k) % ring_.size()];
        capture::AppendPacket(out, {nextId_++, record.timeUs, record.slot, record.output != 0,
                                    record.data, record.length});
      }
      {
        LockGuard ring(ringLock_);
        head_ = (head + taken) % ring_.size();
        count_ -= taken;
      }
      // Reports missing since the last batch (dropped, or in a batch the file could not take)
      // are counted in the file before the next ones.
      const std::uint64_t missing = dropped + lost_;
      const bool counted = missing != missingWritten_;
      if (counted) {
        const capture::Bytes statistics = capture::DropStatistics(NowUs(), missing);
        out.insert(out.end(), statistics.begin(), statistics.end());
      }
      if (out.empty()) continue;
      if (Append(out)) {
        if (counted) missingWritten_ = missing;
      } else {
        lost_ += taken;
      }
    }
  }

  // Writes out after what the file holds whole. A write the file cannot take (a full disk, a
  // lost share) is undone as far as it can be: what it wrote of its blocks is cut off again and
  // the next one starts where this one did, so that the file reads whole to its last block
  // whenever the host ends.
  bool Append(const capture::Bytes& out) {
    std::fpos_t at;
    if (std::fgetpos(file_, &at) != 0) return false;
    if (std::fwrite(out.data(), 1, out.size(), file_) == out.size()) {
      whole_ += out.size();
      return true;
    }
    std::clearerr(file_);
    platform::TruncateFile(file_, whole_);
    std::fsetpos(file_, &at);
    return false;
  }

  platform::Lock switchLock_;
  platform::Lock ringLock_;
  platform::Signal wake_;
  std::atomic<bool> active_{false};
  platform::ThreadHandle thread_ = nullptr;  // under switchLock_
  std::FILE* file_ = nullptr;                // the writer thread's while it runs
  std::vector<Record> ring_;                 // sized under switchLock_, filled under ringLock_
  std::size_t head_ = 0, count_ = 0;         // under ringLock_
  std::uint64_t dropped_ = 0;                // under ringLock_
  bool stop_ = false;                        // under ringLock_
  std::uint64_t nextId_ = 0;                 // the writer thread's
  std::uint64_t missingWritten_ = 0;         // the writer thread's
  std::uint64_t lost_ = 0;                   // the writer thread's, then Stop's
  std::uint64_t whole_ = 0;                  // the bytes of whole blocks in the file; as file_
};

platform::NeverDestroyed<Recorder> g_recorder;

}  // namespace

bool StartCapture(const char* path) {
  return g_recorder->Start(path);
}

std::int64_t StopCapture() {
  return g_recorder->Stop();
}

void StartCaptureFromEnvironment() {
  static std::atomic<bool> done{false};
  if (done.exchange(true)) return;
  const char* path = std::getenv("ZAVN_CAPTURE");
  if (path == nullptr || path[0] == '\0') return;
  // A capture the host started first is its own: the environment's does not replace it.
  bool busy = false;
  if (g_recorder->StartIfIdle(path, busy)) return;
  if (busy) {
    std::fprintf(stderr, "ZAVN_Main: ZAVN_CAPTURE=%s is not started: the host's capture runs\n",
                 path);
  } else {
    std::fprintf(stderr, "ZAVN_Main: cannot capture into %s\n", path);
  }
}

bool Capturing() {
  return g_recorder->Active();
}

void CaptureInput(int slot, const std::uint8_t* reports, std::uint32_t bytes,
                  std::uint32_t reportLength) {
  if (!g_recorder->Active() || reports == nullptr || bytes == 0) return;
  const std::uint64_t now = NowUs();
  const std::uint32_t step = reportLength != 0 ? reportLength : bytes;
  for (std::uint32_t at = 0; at < bytes; at += step) {
    g_recorder->Add(slot, false, reports + at, std::min(step, bytes - at), now);
  }
}

void CaptureOutput(int slot, const std::uint8_t* report, std::uint32_t length) {
  if (!g_recorder->Active() || report == nullptr || length == 0) return;
  g_recorder->Add(slot, true, report, length, NowUs());
}

}  // namespace zavn::transport

extern "C" ZAVN_API int32_t ZAVN_CALL ZAVNStartCapture(const char* file) {
  return zavn::transport::StartCapture(file) ? 1 : 0;
}

extern "C" ZAVN_API int32_t ZAVN_CALL ZAVNStopCapture(void) {
  const std::int64_t dropped = zavn::transport::StopCapture();
  return static_cast<int32_t>(std::min<std::int64_t>(dropped, INT32_MAX));
}
