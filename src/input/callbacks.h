// The host's callback registrations. Only the raw-data callback is ever called.
#pragma once

#include "zavn/zavn.h"

namespace zavn::input {

// The registered raw-data callback, or null.
ZAVNRawDataCallback RawDataCallback();

}  // namespace zavn::input
