// The status reset: every owner puts its own state back to its defaults.
#pragma once

namespace zavn::core {

// Runs with the poll thread ended. Returns 1 (it cannot fail).
int ResetLibraryState();

}  // namespace zavn::core
