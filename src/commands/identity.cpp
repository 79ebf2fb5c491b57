// Serial number, version number, account data and the boot command of the host.
#include "commands/senders.h"
#include "zavn/zavn_commands.h"

namespace {
constexpr int32_t kQueryForm = 1;
constexpr int32_t kDataForm = 2;
}  // namespace

extern "C" {

ZAVN_API void ZAVN_CALL ZAVNAskSerialNumber(int32_t playerIndex, int32_t subCommand,
                                            const uint8_t* data, int32_t form) {
  using namespace zavn::commands;
  if (form == kDataForm) {
    SendSerialData(subCommand, playerIndex, data);
  } else if (form == kQueryForm) {
    SendSerialQuery(playerIndex, subCommand);
  }
}

ZAVN_API void ZAVN_CALL ZAVNReadWriteVersionNum(int32_t playerIndex, int32_t operation,
                                                const uint8_t* version) {
  using namespace zavn::commands;
  if (version != nullptr) Send(playerIndex, BuildVersion(operation, version));
}

ZAVN_API void ZAVN_CALL ZAVNWriteAccountData(int32_t playerIndex, int32_t first, int32_t second,
                                             const uint8_t* digits) {
  using namespace zavn::commands;
  if (digits != nullptr) Send(playerIndex, BuildAccount(first, second, digits));
}

ZAVN_API int32_t ZAVN_CALL ZAVNReadFWNumBootNum(int32_t playerIndex, int32_t selector) {
  return zavn::commands::SendBootCommand(selector, playerIndex);
}

}  // extern "C"
