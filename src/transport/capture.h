// Capture: every input report read from a slot and every output report written to one, with
// its time, into a pcapng file that Wireshark and tshark read as USB traffic.
//
// The poll thread and the senders only copy a report into a bounded ring (one brief lock, no
// allocation, nothing when no capture is under way); a thread of the capture's own writes the
// ring out every few ms, and flushes after each batch, so that the file is whole up to its last
// block whenever the host ends. When the ring is full a report is counted as dropped instead:
// the stream to the host loses nothing, and the file's statistics block says how many are
// missing.
//
// Locks: the switch lock (Start, Stop) is taken before the ring's lock; the ring's lock is a
// leaf, taken by the poll thread, the senders and the writer thread, never across file I/O.
#pragma once

#include <cstdint>

namespace zavn::transport {

// Starts capturing into `path` (a capture under way ends first); false when the file cannot be
// created or the writer thread cannot start.
bool StartCapture(const char* path);
// Ends the capture under way once what it recorded is written; the reports dropped, or -1 when
// none was under way.
std::int64_t StopCapture();
// Starts the capture that ZAVN_CAPTURE names, once per process.
void StartCaptureFromEnvironment();

// Whether a capture is under way: the callers below are cheap to skip then.
bool Capturing();
// The reports of one read of slot 0..3: `bytes` of consecutive reports of `reportLength` each.
void CaptureInput(int slot, const std::uint8_t* reports, std::uint32_t bytes,
                  std::uint32_t reportLength);
// One output report written to slot 0..3.
void CaptureOutput(int slot, const std::uint8_t* report, std::uint32_t length);

}  // namespace zavn::transport
