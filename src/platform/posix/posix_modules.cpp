// The module seam on POSIX: dlopen with every symbol bound at load, kept to the module.
#include <dlfcn.h>

#include "platform/modules.h"

namespace zavn::platform {

ModuleHandle OpenLibrary(const char* path) {
  return dlopen(path, RTLD_NOW | RTLD_LOCAL);
}

void* LibraryFunction(ModuleHandle module, const char* name) {
  return module == nullptr ? nullptr : dlsym(module, name);
}

void CloseLibrary(ModuleHandle module) {
  if (module != nullptr) dlclose(module);
}

}  // namespace zavn::platform
