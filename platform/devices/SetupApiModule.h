#pragma once
// SetupApiModule: the built-in "SetupApi.dll": the device-setup functions of this layer and the
// other entry points a caller may bind, which fail with ERROR_CALL_NOT_IMPLEMENTED.

#include "platform/Additions.h"

namespace win::detail {

BuiltinModule SetupApiModule();

}  // namespace win::detail
