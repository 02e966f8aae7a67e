#pragma once
// SpFormat and SpExpandDeviceName: texts of the serial port component: message filling, device
// names, system error texts. Names and system texts are data: they are substituted, never used as a
// format.

#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>
#include <variant>

#include "platform/Win32.h"

using TSpFormatArg = std::variant<std::int64_t, std::string_view>;

// Fills "%d" and "%s" of `format` with `args` in order ("%%" gives "%"). Any other directive,
// and a directive with no argument left, stays as literal text.
std::string SpFormat(std::string_view format, std::initializer_list<TSpFormatArg> args);

// Replaces every "%d" of `name` with `portNum` and every "%%" with "%"; everything else, other
// directives included, is kept as it is.
std::string SpExpandDeviceName(std::string_view name, std::int32_t portNum);
