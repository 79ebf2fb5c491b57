// ParseRecording on arbitrary files, from an exactly-sized heap copy so that a read past the
// input is reported. Checked: a recording of 1..4 streams, each of whole reports with one time
// each, timed from the earliest report; or an error that names the file.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz_support.h"
#include "platform/capture/capture_reader.h"

namespace {

namespace capture = zavn::platform::capture;
using zavn::fuzz::Require;

const std::string kName = "capture.pcapng";

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const auto file = zavn::fuzz::ExactCopy(data, size, size);
  capture::Recording recording;
  std::string error;
  if (!capture::ParseRecording(file.get(), size, kName, recording, error)) {
    Require(error.rfind(kName + ": ", 0) == 0, "an error names the file");
    Require(recording.streams.empty(), "a failed read returns no streams");
    return 0;
  }
  Require(!recording.streams.empty() && recording.streams.size() <= capture::kMaxReplayStreams,
          "1..4 streams");
  std::uint64_t first = ~std::uint64_t{0};
  for (const capture::ReplayStream& stream : recording.streams) {
    Require(stream.reportLength > 0 && stream.Count() > 0, "a stream holds reports");
    Require(stream.reports.size() == stream.Count() * stream.reportLength, "whole reports");
    for (const std::uint64_t timeUs : stream.timesUs) first = std::min(first, timeUs);
  }
  Require(first == 0, "times count from the earliest report");
  return 0;
}
