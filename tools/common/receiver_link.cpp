#include "receiver_link.h"

#include <cstdio>

#include "receiver_nodes.h"
#include "zavn/zavn.h"
#include "zavn/zavn_virtual.h"

namespace tools {
namespace {

constexpr int kPlayers = 4;
constexpr int kDefaultTransmitters = 2;
constexpr auto kRetryEvery = std::chrono::milliseconds(500);
constexpr int kErrorCapacity = 512;
constexpr double kCapturedTimingPercent = ZAVN_REPLAY_CAPTURED_TIMING;

bool AnyLinkUp() {
  for (int player = 1; player <= kPlayers; ++player) {
    if (ZAVNGetRxStatus(player) == LINK_OK) return true;
  }
  return false;
}

}  // namespace

bool ReceiverLink::Connect() {
  ZAVNConnectRx();
  ZAVNRoutineFunc();
  lastTry_ = Clock::now();
  return AnyLinkUp();
}

// After the reset and the first connect, which tells at once what is there: from now on the
// library connects the receiver's interfaces as they arrive (a firmware update's re-enumerations
// too) and gives up those removed. Off when the system cannot report them: Keep reconnects then.
void ReceiverLink::Follow() {
  following_ = ZAVNSwitchHotplug(1) == 1;
}

bool ReceiverLink::Open(const LinkOptions& options, std::string& error) {
  ZAVNInit();
  if (!options.replayFile.empty()) return OpenReplay(options, error);
  if (options.virtualTransmitters == 0) {
    ZAVNVirtualSelect(0);
    ZAVNReset();
    if (Connect()) {
      description_ = "a real receiver (" + RealReceiverPlace() + ")";
      Follow();
      return true;
    }
    // A receiver the user may not open is not replaced by the virtual one behind their back.
    const std::string refusal = ReceiverRefusal();
    if (!refusal.empty()) {
      error = refusal;
      if (!options.realOnly) error += "\n(or --virtual 2 to use the virtual receiver)";
      return false;
    }
    if (options.realOnly && options.waitForReal) {
      description_ = "no receiver yet: waiting for a " + RealReceiverSought();
      Follow();
      return true;
    }
    if (options.realOnly) {
      error = "found no " + RealReceiverSought() +
              " (plug it in, or leave out --real to use the virtual one)";
      return false;
    }
  }
  const int transmitters =
      options.virtualTransmitters > 0 ? options.virtualTransmitters : kDefaultTransmitters;
  ZAVNVirtualSelect(1);
  ZAVNReset();
  ZAVNVirtualClear();
  if (ZAVNVirtualPlugReceiver(transmitters, options.rateHz) == 0 || !Connect()) {
    error = "the virtual receiver could not be connected";
    return false;
  }
  virtual_ = true;
  description_ = "the virtual receiver with " + std::to_string(transmitters) + " transmitter" +
                 (transmitters == 1 ? "" : "s");
  if (options.virtualTransmitters == 0) notice_ = "no " + RealReceiverSought();
  Follow();
  return true;
}

bool ReceiverLink::OpenReplay(const LinkOptions& options, std::string& error) {
  ZAVNVirtualSelect(1);
  ZAVNReset();
  ZAVNVirtualClear();
  char why[kErrorCapacity] = {};
  const auto speedPercent = static_cast<int>(options.replaySpeed * kCapturedTimingPercent + 0.5);
  if (ZAVNVirtualPlugReplay(options.replayFile.c_str(), speedPercent, options.replayLoop ? 1 : 0,
                            why, kErrorCapacity) == 0) {
    error = why;
    return false;
  }
  if (!Connect()) {
    error = "the virtual receiver could not be connected";
    return false;
  }
  virtual_ = true;
  description_ = "a replay of " + options.replayFile;
  Follow();
  return true;
}

void ReceiverLink::Keep(int player) {
  if (following_) return;
  const bool needed = player != 0 ? ZAVNGetRxStatus(player) != LINK_OK : !AnyLinkUp();
  if (!needed || Clock::now() - lastTry_ < kRetryEvery) return;
  Connect();
}

void ReceiverLink::Close() {
  ZAVNSwitchHotplug(0);  // first: nothing is connected again behind the disconnects
  for (int player = 1; player <= kPlayers; ++player) ZAVNDisconnectRx(player);
  // The capture, if any, ends with the links; reports a slow disk made it drop are said.
  const int dropped = ZAVNStopCapture();
  if (dropped > 0) {
    std::fprintf(stderr, "%s: the capture lacks %d reports: the disk did not keep up\n", program_,
                 dropped);
  }
  ZAVNTerminate(0);
  if (virtual_) ZAVNVirtualClear();
}

}  // namespace tools
