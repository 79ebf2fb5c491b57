#include "commands/senders.h"

#include "commands/image_checksum.h"

namespace zavn::commands {
namespace {
constexpr std::uint8_t kSerialDataSubCommand = 2;
constexpr std::int32_t kMotorResult = 16;
constexpr std::int32_t kWriteSucceeded = 1;
}  // namespace

std::int32_t SendSwitch(std::int32_t playerIndex, std::uint8_t reportId, std::int32_t value) {
  Send(playerIndex, BuildSwitch(reportId, value));
  return kSwitchResult;
}

void SendSerialQuery(std::int32_t playerIndex, std::int32_t subCommand) {
  Send(playerIndex, BuildSerialQuery(subCommand));
}

void SendSerialData(std::int32_t subCommand, std::int32_t playerIndex, const std::uint8_t* serial) {
  const bool carriesData = (subCommand & 0xFF) == kSerialDataSubCommand;
  if (carriesData && serial == nullptr) return;
  Send(playerIndex, BuildSerialData(subCommand, carriesData ? serial : nullptr));
}

std::int32_t SendMotorAction(std::int32_t playerIndex, const std::uint8_t* bytes) {
  if (bytes != nullptr) Send(playerIndex, BuildMotor(bytes));
  return kMotorResult;
}

std::int32_t SendBootCommand(std::int32_t selector, std::int32_t playerIndex) {
  if (selector < 0 || selector >= kBootSelectors) return 0;
  const std::uint32_t sum = commands::VUKChecksum();
  const platform::WriteOutcome outcome = Send(playerIndex, BuildBootCommand(selector, sum));
  if (outcome.written && selector == kChecksumSelector) SentChecksum() = sum;
  if (outcome.written) return kWriteSucceeded;
  return static_cast<std::int32_t>(outcome.error);
}

}  // namespace zavn::commands
