// The module seam: loading a shared library by path, finding an exported function, unloading.
#pragma once

namespace zavn::platform {

using ModuleHandle = void*;

// Null when the library cannot be loaded.
ModuleHandle OpenLibrary(const char* path);
// Null when the module does not export `name`.
void* LibraryFunction(ModuleHandle module, const char* name);
void CloseLibrary(ModuleHandle module);

}  // namespace zavn::platform
