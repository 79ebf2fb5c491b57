// Motor, player number, antenna, host keyboard/mouse and joystick data, screen and application
// information.
#include "commands/senders.h"
#include "zavn/zavn_commands.h"

namespace {
constexpr int32_t kSentResult = 1;
}  // namespace

extern "C" {

ZAVN_API int32_t ZAVN_CALL ZAVNSetMotorAction(int32_t playerIndex, const uint8_t* bytes) {
  return zavn::commands::SendMotorAction(playerIndex, bytes);
}

ZAVN_API void ZAVN_CALL ZAVNSelectPlayerNum(int32_t playerIndex, int32_t number) {
  using namespace zavn::commands;
  Send(playerIndex, BuildValue(id::kPlayerNumber, number));
}

ZAVN_API void ZAVN_CALL ZAVNSwitchRFAntenna(int32_t playerIndex, int32_t antenna) {
  using namespace zavn::commands;
  Send(playerIndex, BuildValue(id::kAntenna, antenna));
}

ZAVN_API void ZAVN_CALL ZAVNSendAPIKeyboardMouse(int32_t playerIndex, const int32_t* values) {
  using namespace zavn::commands;
  if (values != nullptr) Send(playerIndex, BuildKeyboardMouse(values));
}

ZAVN_API void ZAVN_CALL ZAVNSendAPINewKeyJoystick(int32_t playerIndex, const int32_t* values) {
  using namespace zavn::commands;
  if (values != nullptr) Send(playerIndex, BuildJoystick(values));
}

ZAVN_API int32_t ZAVN_CALL ZAVNSendScrResolMSXYPos(int32_t playerIndex, int32_t width,
                                                   int32_t height, int32_t mouseX, int32_t mouseY) {
  using namespace zavn::commands;
  Send(playerIndex, BuildScreen(width, height, mouseX, mouseY));
  return kSentResult;
}

ZAVN_API int32_t ZAVN_CALL ZAVNSendAppInfoToDongle(int32_t playerIndex, int32_t first,
                                                   int32_t second) {
  using namespace zavn::commands;
  Send(playerIndex, BuildAppInfo(first, second));
  return kSentResult;
}

}  // extern "C"
