// Five of the six mode switches (the G-sensitivity switch is core/g_sensitivity.cpp, as the
// motion samples follow it) and ZAVNSendCMDToTx, their second entry for the first two.
#include "commands/senders.h"
#include "zavn/zavn_commands.h"

namespace zavn::commands {
namespace {
constexpr std::int32_t kBrowserCommand = 1;
constexpr std::int32_t kKeyboardCommand = 2;
}  // namespace
}  // namespace zavn::commands

using zavn::commands::SendSwitch;
namespace id = zavn::commands::id;

extern "C" {

ZAVN_API int32_t ZAVN_CALL ZAVNSwitchBrowser(int32_t playerIndex, int32_t value) {
  return SendSwitch(playerIndex, id::kBrowser, value);
}
ZAVN_API int32_t ZAVN_CALL ZAVNSwitchKeyboard(int32_t playerIndex, int32_t value) {
  return SendSwitch(playerIndex, id::kKeyboard, value);
}
ZAVN_API int32_t ZAVN_CALL ZAVNSwitchMotionKey(int32_t playerIndex, int32_t value) {
  return SendSwitch(playerIndex, id::kMotionKey, value);
}
ZAVN_API int32_t ZAVN_CALL ZAVNSwitchRawdata(int32_t playerIndex, int32_t value) {
  return SendSwitch(playerIndex, id::kRawData, value);
}
ZAVN_API int32_t ZAVN_CALL ZAVNSwitchGameMode(int32_t playerIndex, int32_t value) {
  return SendSwitch(playerIndex, id::kGameMode, value);
}

ZAVN_API int32_t ZAVN_CALL ZAVNSendCMDToTx(int32_t playerIndex, int32_t command,
                                           const uint8_t* value) {
  using namespace zavn::commands;
  if (value == nullptr) return kSwitchResult;
  if (command == kBrowserCommand) return ZAVNSwitchBrowser(playerIndex, *value);
  if (command == kKeyboardCommand) return ZAVNSwitchKeyboard(playerIndex, *value);
  return kSwitchResult;
}

}  // extern "C"
