// The poll thread's output reports, written by a thread of their own. A write can wait in the
// kernel (on Linux every hidraw write waits while any hidraw node is being opened, through
// usbhid's 50 ms settle), and no read is to wait behind one. Reports go out in the order they
// were queued, each to the interface its slot held when it was queued.
#pragma once

#include <cstdint>

namespace zavn::transport {

inline constexpr std::uint32_t kMaxQueuedReportBytes = 64;

// From now on the calling thread's writes are queued: the poll thread, for its whole life.
void QueueWritesOfThisThread();
bool WritesAreQueuedOnThisThread();

// Queues one report (report ID first) for slot 0..3, starting the writer's thread when none
// runs; false when the queue is full, the report longer than kMaxQueuedReportBytes or no thread
// can be started.
bool QueueOutputReport(int slot, const std::uint8_t* report, std::uint32_t length);

// How many reports have been queued so far; the writer writes them in that order.
std::uint32_t ReportsQueued();
// Whether the first `queued` reports have been written (or given up).
bool ReportsWritten(std::uint32_t queued);

// Waits until every report queued so far is written.
void AwaitQueuedWrites();

// Writes what is queued, then ends the writer's thread. Caller holds no lock but lifecycleLock.
void StopQueuedWrites();

}  // namespace zavn::transport
