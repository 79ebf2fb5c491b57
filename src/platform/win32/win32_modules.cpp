// The module seam on Windows.
#include <windows.h>

#include "platform/modules.h"

namespace zavn::platform {

ModuleHandle OpenLibrary(const char* path) {
  return LoadLibraryA(path);
}

void* LibraryFunction(ModuleHandle module, const char* name) {
  return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(module), name));
}

void CloseLibrary(ModuleHandle module) {
  FreeLibrary(static_cast<HMODULE>(module));
}

}  // namespace zavn::platform
