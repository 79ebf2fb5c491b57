#include "input/callbacks.h"

#include <atomic>

namespace zavn::input {
namespace {
// Registered on host threads, read by the poll thread once per motion record. The reset leaves
// them alone.
std::atomic<ZAVNRawDataCallback> g_rawData{nullptr};
std::atomic<ZAVNFingerCallback> g_finger{nullptr};
std::atomic<ZAVNScrResolCallback> g_scrResol{nullptr};
}  // namespace

ZAVNRawDataCallback RawDataCallback() {
  return g_rawData.load(std::memory_order_acquire);
}

}  // namespace zavn::input

extern "C" {

ZAVN_API void ZAVN_CALL ZAVNInitGetRawDataCallBack(ZAVNRawDataCallback callback) {
  zavn::input::g_rawData.store(callback, std::memory_order_release);
}

ZAVN_API void ZAVN_CALL ZAVNInitGetFingerCallBack(ZAVNFingerCallback callback) {
  zavn::input::g_finger.store(callback, std::memory_order_release);
}

ZAVN_API void ZAVN_CALL ZAVNInitSendScrResolMSXYPosCallBack(ZAVNScrResolCallback callback) {
  zavn::input::g_scrResol.store(callback, std::memory_order_release);
}

}  // extern "C"
