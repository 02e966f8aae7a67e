#include "serial/SpCommText.h"

using namespace win;

namespace {

void AppendArg(std::string& out, const TSpFormatArg& arg) {
  if (const auto* number = std::get_if<std::int64_t>(&arg)) {
    out += std::to_string(*number);
  } else {
    out += std::get<std::string_view>(arg);
  }
}

}  // namespace

std::string SpFormat(std::string_view format, std::initializer_list<TSpFormatArg> args) {
  std::string out;
  out.reserve(format.size() + 64);
  const TSpFormatArg* next = args.begin();
  for (std::size_t i = 0; i < format.size(); ++i) {
    const char c = format[i];
    if (c != '%' || i + 1 == format.size()) {
      out += c;
      continue;
    }
    const char directive = format[i + 1];
    if (directive == '%') {
      out += '%';
      ++i;
    } else if ((directive == 'd' || directive == 's') && next != args.end()) {
      AppendArg(out, *next++);
      ++i;
    } else {
      out += c;
    }
  }
  return out;
}

std::string SpExpandDeviceName(std::string_view name, std::int32_t portNum) {
  std::string out;
  out.reserve(name.size() + 10);
  for (std::size_t i = 0; i < name.size(); ++i) {
    if (name[i] == '%' && i + 1 < name.size()) {
      if (name[i + 1] == 'd') {
        out += std::to_string(portNum);
        ++i;
        continue;
      }
      if (name[i + 1] == '%') {
        out += '%';
        ++i;
        continue;
      }
    }
    out += name[i];
  }
  return out;
}
