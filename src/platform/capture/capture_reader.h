// Reads a capture of USB traffic back: the input reports of a receiver's data interfaces, with
// their times, for the virtual receiver to play. It takes pcap and pcapng files of Linux usbmon
// packets (link types 220 and 189, the library's own captures among them) and of USBPcap
// (link type 249). A receiver's data interfaces are told by the device and configuration
// descriptors the capture holds; for a device whose descriptors it lacks, by their reports'
// length and record letters.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace zavn::platform::capture {

inline constexpr std::size_t kMaxReplayStreams = 4;

// The input reports of one data interface, in capture order.
struct ReplayStream {
  std::uint32_t reportLength = 0;
  std::vector<std::uint8_t> reports;   // reportLength bytes each
  std::vector<std::uint64_t> timesUs;  // of each report, from the recording's first report
  std::size_t Count() const { return timesUs.size(); }
  const std::uint8_t* Report(std::size_t k) const { return &reports[k * reportLength]; }
};

// At most kMaxReplayStreams streams, ordered by bus, device address and endpoint.
struct Recording {
  std::vector<ReplayStream> streams;
};

// Reads the capture at `path`; false, with `error` naming the file and why, when it cannot be
// played (cannot be opened, over 1 GiB, not a pcap or pcapng capture, truncated before a whole
// packet, damaged, no USB traffic, no receiver's input reports). A file cut short after a whole
// packet plays up to the cut.
bool ReadRecording(const char* path, Recording& out, std::string& error);

// The same for a capture in memory, named `name` in the error.
bool ParseRecording(const std::uint8_t* data, std::size_t size, const std::string& name,
                    Recording& out, std::string& error);

}  // namespace zavn::platform::capture
