// The per-slot buffer that one read fills with consecutive input reports.
#pragma once

#include <array>
#include <cstdint>

namespace zavn::transport {

inline constexpr std::uint32_t kInputBufferSize = 4096;
// One read asks for up to this many queued input reports (as many as fit the buffer for
// reports longer than 40 bytes). A pass reads again while reads come back full.
inline constexpr std::uint32_t kReportsPerRead = 100;

using InputBuffer = std::array<std::uint8_t, kInputBufferSize>;

// Bytes one read requests: kReportsPerRead reports, limited to the whole reports that fit the
// buffer.
constexpr std::uint32_t ReadRequestBytes(std::uint32_t inputReportLength) {
  if (inputReportLength == 0) return 0;
  const std::uint32_t fit = kInputBufferSize / inputReportLength;
  return (fit < kReportsPerRead ? fit : kReportsPerRead) * inputReportLength;
}

// Full reads that empty a queue of `queuedReports` reports of this length.
constexpr std::uint32_t ReadsToEmpty(std::uint32_t queuedReports, std::uint32_t inputReportLength) {
  const std::uint32_t bytes = ReadRequestBytes(inputReportLength);
  if (bytes == 0) return 1;
  const std::uint32_t perRead = bytes / inputReportLength;
  return (queuedReports + perRead - 1) / perRead;
}

}  // namespace zavn::transport
