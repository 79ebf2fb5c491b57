// The shared library loaded with dlopen, streaming, and closed with dlclose: without
// ZAVNTerminate its poll thread goes on running in it, so dlclose must leave it mapped; with
// ZAVNTerminate no thread of ours is left behind.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include "support/eventually.h"
#include "support/process_threads.h"
#include "zavn/zavn.h"
#include "zavn/zavn_virtual.h"

namespace {

using zavn::testing::Eventually;
using zavn::testing::ProcessThreads;

// The exported functions the cycles call, looked up with dlsym.
#define ZAVN_UNLOAD_API(X) \
  X(ZAVNInit)              \
  X(ZAVNReset)             \
  X(ZAVNConnectRx)         \
  X(ZAVNRoutineFunc)       \
  X(ZAVNGetTxStatus)       \
  X(ZAVNDisconnectRx)      \
  X(ZAVNTerminate)         \
  X(ZAVNVirtualSelect)     \
  X(ZAVNVirtualClear)      \
  X(ZAVNVirtualPlugReceiver)

struct Api {
#define ZAVN_UNLOAD_FIELD(name) decltype(&::name) name = nullptr;
  ZAVN_UNLOAD_API(ZAVN_UNLOAD_FIELD)
};

// Opens the library and starts a receiver's stream; returns once the poll thread has read
// motion records from it.
void* OpenAndStream(Api& api) {
  void* library = dlopen(ZAVN_MAIN_PATH, RTLD_NOW | RTLD_LOCAL);
  if (library == nullptr) {
    ADD_FAILURE() << dlerror();
    return nullptr;
  }
#define ZAVN_UNLOAD_FIND(name)                                            \
  api.name = reinterpret_cast<decltype(api.name)>(dlsym(library, #name)); \
  if (api.name == nullptr) {                                              \
    ADD_FAILURE() << #name << " not exported";                            \
    return library;                                                       \
  }
  ZAVN_UNLOAD_API(ZAVN_UNLOAD_FIND)
  api.ZAVNVirtualSelect(1);
  // What a previous cycle left plugged goes; its thread, if it still polls, loses the link.
  api.ZAVNVirtualClear();
  EXPECT_GT(api.ZAVNVirtualPlugReceiver(1, 200), 0);
  api.ZAVNInit();
  api.ZAVNReset();
  api.ZAVNConnectRx();
  api.ZAVNRoutineFunc();
  EXPECT_TRUE(Eventually([&api] { return api.ZAVNGetTxStatus(1) == LINK_OK; }));
  return library;
}

TEST(UnloadTest, DlcloseWhileThePollThreadRunsAndAfterTerminate) {
  Api api;
  for (int cycle = 0; cycle < 200; ++cycle) {
    void* library = OpenAndStream(api);
    ASSERT_NE(library, nullptr);
    ASSERT_EQ(dlclose(library), 0) << dlerror();
    // The thread runs on in it, so the library stays mapped; the next cycle's reset stops it.
    void* resident = dlopen(ZAVN_MAIN_PATH, RTLD_NOW | RTLD_NOLOAD);
    ASSERT_NE(resident, nullptr) << cycle;
    dlclose(resident);
  }

  for (int cycle = 0; cycle < 200; ++cycle) {
    void* library = OpenAndStream(api);
    ASSERT_NE(library, nullptr);
    const int streaming = ProcessThreads();
    for (std::int32_t player = 1; player <= 4; ++player) api.ZAVNDisconnectRx(player);
    api.ZAVNTerminate(0);
    ASSERT_EQ(dlclose(library), 0) << dlerror();
    // The poll thread is gone (the kernel may list a joined thread a moment longer).
    ASSERT_TRUE(Eventually([streaming] { return ProcessThreads() < streaming; })) << cycle;
  }
}

}  // namespace
