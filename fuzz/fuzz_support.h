// What the fuzz targets share: exactly-sized heap copies of the input, so that AddressSanitizer
// reports any read past the bytes a function was given, invariant checks that keep the input,
// and the virtual receiver opened into the device slots without a poll thread.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "input/input_report.h"
#include "platform/virtual/virtual_receiver.h"
#include "transport/discovery.h"
#include "transport/hid_device.h"
#include "zavn/zavn.h"
#include "zavn/zavn_virtual.h"

namespace zavn::fuzz {

// A broken invariant ends the run; libFuzzer then writes the input out as the artifact.
inline void Require(bool holds, const char* what) {
  if (holds) return;
  std::fprintf(stderr, "invariant broken: %s\n", what);
  std::abort();
}

// `length` bytes on the heap with nothing readable after them: the input, cut to that length
// or padded with zeros.
inline std::unique_ptr<std::uint8_t[]> ExactCopy(const std::uint8_t* data, std::size_t size,
                                                 std::size_t length) {
  auto copy = std::make_unique<std::uint8_t[]>(length);  // value-initialised: zeros
  if (size > 0) std::memcpy(copy.get(), data, size < length ? size : length);
  return copy;
}

// The one report the last call sent to interface `id`, and its length (0 for none); a second
// report breaks an invariant.
inline std::int32_t TakeOnlyReport(std::int32_t id,
                                   std::uint8_t (&report)[ZAVN_VIRTUAL_MAX_REPORT_LENGTH]) {
  const std::int32_t length = ZAVNVirtualTakeOutput(id, report, sizeof report);
  std::uint8_t more[ZAVN_VIRTUAL_MAX_REPORT_LENGTH];
  Require(ZAVNVirtualTakeOutput(id, more, sizeof more) == 0, "at most one report per call");
  return length;
}

using SlotIds = std::array<std::int32_t, transport::kSlotCount>;

// Resets the library on the virtual receiver, plugs one receiver data interface per slot and
// opens the n-th into slot n as a connect would, but starts no poll thread: every call the
// target makes then runs alone. Returns the interfaces' ids, slot by slot.
inline SlotIds OpenVirtualSlots(const char* product = platform::virt::kReceiverProductString) {
  ZAVNVirtualSelect(1);
  ZAVNReset();
  ZAVNVirtualClear();
  SlotIds ids{};
  for (std::int32_t& id : ids) {
    id = ZAVNVirtualPlug(platform::virt::kReceiverVendor, platform::virt::kReceiverProduct,
                         input::report::kShortLength, platform::virt::kDataOutputLength, product);
    Require(id != 0, "a virtual data interface is plugged");
  }
  for (int slot = 0; slot < transport::kSlotCount; ++slot) {
    Require(transport::OpenRxByIndex(slot, slot) == LINK_OK, "each slot opens its interface");
  }
  return ids;
}

}  // namespace zavn::fuzz
