// ZAVNGetStatus of player 1 beside memcpy + memset of the bytes it copies and clears, and one
// output command through the write convention beside the virtual interface's own write.
#include <cstddef>
#include <cstring>
#include <memory>

#include "bench_support.h"
#include "input/decoder.h"
#include "platform/virtual/virtual_receiver.h"
#include "transport/discovery.h"
#include "transport/hid_device.h"
#include "zavn/zavn.h"
#include "zavn/zavn_virtual.h"

namespace zavn::bench {
namespace {

// Player 1's snapshot copies every field but RawRecord, SecondaryRecordCount, BootBlock[0..1]
// and the padding, and clears the 21 history rings.
constexpr std::size_t kNotCopied = sizeof PlayerStatus::RawRecord +
                                   sizeof PlayerStatus::SecondaryRecordCount + 2 +
                                   sizeof PlayerStatus::Padding1 + sizeof PlayerStatus::Padding2;
constexpr std::size_t kCopiedBytes = sizeof(PlayerStatus) - kNotCopied;
constexpr std::size_t kClearedBytes =
    sizeof PlayerStatus::MotionHistory + sizeof PlayerStatus::ReservedAHistory +
    sizeof PlayerStatus::ExtensionHistory + sizeof PlayerStatus::ReservedBHistory +
    sizeof PlayerStatus::SecondaryHistory;

void BM_GetStatus(benchmark::State& state) {
  ZAVNReset();
  transport::InputBuffer buffer{};
  input::Decode(buffer, 1);  // a completed decode: the history part is handed over
  auto out = std::make_unique<PlayerStatus>();
  for (auto _ : state) {
    ZAVNGetStatus(1, out.get());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(state.iterations() *
                          static_cast<std::int64_t>(kCopiedBytes + kClearedBytes));
}

void BM_MemcpyMemset(benchmark::State& state) {
  auto from = std::make_unique<PlayerStatus>();
  auto to = std::make_unique<PlayerStatus>();
  std::memset(from.get(), 1, sizeof(PlayerStatus));
  for (auto _ : state) {
    std::memcpy(to.get(), from.get(), kCopiedBytes);
    std::memset(from.get(), 0, kClearedBytes);
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(state.iterations() *
                          static_cast<std::int64_t>(kCopiedBytes + kClearedBytes));
}

constexpr std::int32_t kVendor = 0xFFFF;
constexpr std::int32_t kProduct = 0x0008;
constexpr std::int32_t kInputLength = 32;
constexpr std::int32_t kOutputLength = 33;

// One receiver data interface opened into slot 1, with no poll thread.
class OpenedVirtualSlot {
 public:
  OpenedVirtualSlot() : previous_(ZAVNVirtualSelect(1)) {
    ZAVNReset();
    ZAVNVirtualClear();
    id_ = ZAVNVirtualPlug(kVendor, kProduct, kInputLength, kOutputLength,
                          platform::virt::kReceiverProductString);
    opened_ = transport::OpenRxByIndex(0, 0) == LINK_OK;
  }
  ~OpenedVirtualSlot() {
    ZAVNReset();
    ZAVNVirtualClear();
    ZAVNVirtualSelect(previous_);
  }
  OpenedVirtualSlot(const OpenedVirtualSlot&) = delete;
  OpenedVirtualSlot& operator=(const OpenedVirtualSlot&) = delete;

  bool opened() const { return opened_; }
  std::int32_t id() const { return id_; }

 private:
  std::int32_t previous_;
  std::int32_t id_ = 0;
  bool opened_ = false;
};

constexpr std::int32_t kGameModeValue = 1;

void BM_SwitchGameMode(benchmark::State& state) {
  OpenedVirtualSlot slot;
  if (!slot.opened()) return Fail(state, "the virtual interface did not open");
  for (auto _ : state) benchmark::DoNotOptimize(ZAVNSwitchGameMode(1, kGameModeValue));
  // Every report must have reached the interface.
  if (platform::virt::Receiver().TakeOutput(slot.id(), nullptr, 0) != 2) {
    Fail(state, "the command did not reach the virtual interface");
  }
}

void BM_VirtualWrite(benchmark::State& state) {
  OpenedVirtualSlot slot;
  if (!slot.opened()) return Fail(state, "the virtual interface did not open");
  platform::virt::VirtualReceiver& receiver = platform::virt::Receiver();
  const platform::HidHandle handle = transport::Slot(0).Handle();
  const std::uint8_t report[2] = {0x05, kGameModeValue};
  for (auto _ : state) {
    benchmark::DoNotOptimize(receiver.SetOutputReport(handle, report, sizeof report));
  }
}

}  // namespace

void RegisterStatusBenchmarks() {
  const double minTime = RunOptions().minTime;
  benchmark::RegisterBenchmark(name::kGetStatus, BM_GetStatus)->MinTime(minTime);
  benchmark::RegisterBenchmark(name::kStatusBytes, BM_MemcpyMemset)->MinTime(minTime);
  benchmark::RegisterBenchmark(name::kCommand, BM_SwitchGameMode)->MinTime(minTime);
  benchmark::RegisterBenchmark(name::kVirtualWrite, BM_VirtualWrite)->MinTime(minTime);
}

}  // namespace zavn::bench
